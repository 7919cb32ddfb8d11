<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>AppSettings</name>
    <message>
        <source>Bridge responded: Press LINK BUTTON and retry</source>
        <translation>Réponse du pont&#xa0;: appuyez sur le BOUTON LINK et réessayez</translation>
    </message>
    <message>
        <source>Unable to connect to the Hue bridge. Is the IP address correct?</source>
        <translation>Impossible de se connecter au pont. L’adresse IP est-elle correcte&#xa0;?</translation>
    </message>
    <message>
        <source>The bridge accepted pairing but sent no user name. Please pair again.</source>
        <translation>Le pont a accepté l’association mais n’a envoyé aucun nom d’utilisateur. Veuillez l’associer à nouveau.</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate that is not from the bridge&apos;s maker. Nothing was sent to it.</source>
        <translation>Le pont à l’adresse %1 a présenté un certificat qui ne vient pas du fabricant du pont. Rien ne lui a été envoyé.</translation>
    </message>
    <message>
        <source>The bridge at %1 is a different bridge: expected id %2, got %3. Nothing was sent to it.</source>
        <translation>Le pont à l’adresse %1 est un autre pont : identifiant attendu %2, reçu %3. Rien ne lui a été envoyé.</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate for another name.</source>
        <translation>Le pont à l’adresse %1 a présenté un certificat pour un autre nom.</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate that expired on %2. Nothing was sent to it.</source>
        <translation>Le pont à l’adresse %1 a présenté un certificat expiré le %2. Rien ne lui a été envoyé.</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate that is not valid before %2. Is the computer&apos;s clock right?</source>
        <translation>Le pont à l’adresse %1 a présenté un certificat qui n’est valable qu’à partir du %2. L’horloge de l’ordinateur est-elle juste ?</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate that is not for a server. Nothing was sent to it.</source>
        <translation>Le pont à l’adresse %1 a présenté un certificat qui n’est pas destiné à un serveur. Rien ne lui a été envoyé.</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate other than the one you trusted. Nothing was sent to it.</source>
        <translation>Le pont à l’adresse %1 a présenté un autre certificat que celui auquel vous avez fait confiance. Rien ne lui a été envoyé.</translation>
    </message>
    <message>
        <source>The bridge at %1 could not agree on a secure connection.</source>
        <translation>Impossible d’établir une connexion sécurisée avec le pont à l’adresse %1.</translation>
    </message>
    <message>
        <source>The bridge %1 at %2 answers only over plain HTTP, but it answered securely before. It is not used over plain HTTP.</source>
        <translation>Le pont %1 à l’adresse %2 ne répond plus qu’en HTTP simple, alors qu’il répondait auparavant de façon sécurisée. Il n’est pas utilisé en HTTP simple.</translation>
    </message>
</context>
<context>
    <name>KeyboardShortcuts</name>
    <message>
        <source>Record Shortcut</source>
        <translation>Saisir un raccourci</translation>
    </message>
    <message>
        <source>Press Shortcut</source>
        <translation>Tapez le raccourci</translation>
    </message>
    <message>
        <source>This shortcut is already used by the menu item “%1”.</source>
        <translation>Ce raccourci est déjà utilisé par l’élément de menu «&#xa0;%1&#xa0;».</translation>
    </message>
    <message>
        <source>This shortcut is already taken by the desktop or another program.</source>
        <translation>Ce raccourci est déjà pris par l’environnement de bureau ou par un autre programme.</translation>
    </message>
    <message>
        <source>Shortcuts held by the desktop can usually be changed in its keyboard settings.</source>
        <translation>Les raccourcis réservés par l’environnement de bureau se modifient en général dans ses paramètres du clavier.</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Connection</source>
        <translation>Connexion</translation>
    </message>
    <message>
        <source>Advanced</source>
        <translation>Avancé</translation>
    </message>
    <message>
        <source>Lights</source>
        <translation>Lampes</translation>
    </message>
    <message>
        <source>Hotkeys</source>
        <translation>Raccourcis</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Infos</translation>
    </message>
    <message>
        <source>Lumora Settings</source>
        <translation>Paramètres de Lumora</translation>
    </message>
</context>
<context>
    <name>lumora::DebugView</name>
    <message>
        <source>Debug Information</source>
        <translation>Informations de diagnostic</translation>
    </message>
    <message>
        <source>Diagnostic log</source>
        <translation>Journal de diagnostic</translation>
    </message>
    <message>
        <source>Send Debug Data</source>
        <translation>Envoyer le diagnostic</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
</context>
<context>
    <name>lumora::ImagePlayer</name>
    <message>
        <source>A lamp switching on</source>
        <translation>Une lampe qui s’allume</translation>
    </message>
</context>
<context>
    <name>lumora::WelcomeView</name>
    <message>
        <source>Rodada!</source>
        <translation>Et voilà&#xa0;!</translation>
    </message>
    <message>
        <source>This app is very minimal. It only exists in the menu bar at the top. Click the icon to start.</source>
        <translation>Cette application est très discrète&#xa0;: elle vit uniquement dans la barre de menus, en haut. Cliquez sur l’icône pour commencer.</translation>
    </message>
    <message>
        <source>Let&apos;s go!</source>
        <translation>C’est parti&#xa0;!</translation>
    </message>
</context>
<context>
    <name>lumora::panel::ContentView</name>
    <message>
        <source>LIGHTS</source>
        <translation>LAMPES</translation>
    </message>
    <message>
        <source>ROOMS</source>
        <translation>PIÈCES</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Paramètres</translation>
    </message>
    <message>
        <source>Write a review</source>
        <translation>Écrire un avis</translation>
    </message>
    <message>
        <source>Got a second?</source>
        <translation>Une minute&#xa0;?</translation>
    </message>
    <message>
        <source>Have you opened the settings and connected to the bridge?</source>
        <translation>Avez-vous ouvert les paramètres et connecté le pont&#xa0;?</translation>
    </message>
    <message>
        <source>Bridge responded: Press LINK BUTTON and retry</source>
        <translation>Réponse du pont&#xa0;: appuyez sur le BOUTON LINK et réessayez</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Se connecter</translation>
    </message>
    <message>
        <source>Okay, we&apos;re not able to detect any lights just yet.</source>
        <translation>Bon, nous ne détectons encore aucune lampe.</translation>
    </message>
    <message>
        <source>There aren&apos;t any rooms visible just yet.</source>
        <translation>Aucune pièce n’est visible pour l’instant.</translation>
    </message>
    <message>
        <source>There aren&apos;t any scenes visible just yet.</source>
        <translation>Aucune scène n’est visible pour l’instant.</translation>
    </message>
</context>
<context>
    <name>lumora::panel::ControlRow</name>
    <message>
        <source>%1 on</source>
        <translation>%1&#xa0;: marche</translation>
    </message>
    <message>
        <source>%1 brightness, %2 %</source>
        <translation>Luminosité de %1, %2&#xa0;%</translation>
    </message>
    <message>
        <source>%1 colour temperature</source>
        <translation>Température de couleur de %1</translation>
    </message>
    <message>
        <source>%1 colour</source>
        <translation>Couleur de %1</translation>
    </message>
</context>
<context>
    <name>lumora::panel::GroupRow</name>
    <message>
        <source>%1 scenes</source>
        <translation>Scènes de %1</translation>
    </message>
</context>
<context>
    <name>lumora::panel::ListGroups</name>
    <message>
        <source>ZONES</source>
        <translation>ZONES</translation>
    </message>
    <message>
        <source>ROOMS</source>
        <translation>PIÈCES</translation>
    </message>
</context>
<context>
    <name>lumora::panel::QtShell</name>
    <message>
        <source>Open Lumora</source>
        <translation>Ouvrir Lumora</translation>
    </message>
    <message>
        <source>Darkness!</source>
        <translation>Obscurité&#xa0;!</translation>
    </message>
    <message>
        <source>Off in 5 minutes</source>
        <translation>Éteindre dans 5 minutes</translation>
    </message>
    <message>
        <source>Off in 30 minutes</source>
        <translation>Éteindre dans 30 minutes</translation>
    </message>
    <message>
        <source>Off in 60 minutes</source>
        <translation>Éteindre dans 60 minutes</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Paramètres</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Aide</translation>
    </message>
    <message>
        <source>Provide Feedback</source>
        <translation>Donner votre avis</translation>
    </message>
    <message>
        <source>Quit Lumora</source>
        <translation>Quitter Lumora</translation>
    </message>
    <message>
        <source>Welcome to Lumora</source>
        <translation>Bienvenue dans Lumora</translation>
    </message>
    <message>
        <source>Lumora Debug</source>
        <translation>Diagnostic de Lumora</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::AdvancedPane</name>
    <message>
        <source>Run at Start</source>
        <translation>Lancer au démarrage</translation>
    </message>
    <message>
        <source>Show color bars for rooms</source>
        <translation>Nuancier des pièces</translation>
    </message>
    <message>
        <source>Show color bars for lights</source>
        <translation>Nuancier des lampes</translation>
    </message>
    <message>
        <source>Show Scene Panel</source>
        <translation>Afficher les scènes</translation>
    </message>
    <message>
        <source>Show Zones</source>
        <translation>Afficher les zones</translation>
    </message>
    <message>
        <source>Live updates</source>
        <translation>Mises à jour en direct</translation>
    </message>
    <message>
        <source>Follow changes made elsewhere as they happen, where the bridge offers it; otherwise the lights are read every few seconds.</source>
        <translation>Suivre les changements faits ailleurs dès qu’ils ont lieu, si le pont le permet ; sinon les lampes sont lues toutes les quelques secondes.</translation>
    </message>
    <message>
        <source>App Icon</source>
        <translation>Icône du programme</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Aide</translation>
    </message>
    <message>
        <source>Provide Feedback</source>
        <translation>Donner votre avis</translation>
    </message>
    <message>
        <source>Get Support</source>
        <translation>Assistance</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::ConfigurationPart</name>
    <message>
        <source>No bridge address yet. Press Detect, or choose Manual and type it, for example 192.168.1.20.</source>
        <translation>Pas encore d’adresse de pont. Cliquez sur «&#xa0;Détecter&#xa0;», ou choisissez «&#xa0;Manuelle&#xa0;» et saisissez-la, par exemple 192.168.1.20.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a bridge address. Type the address alone, without spaces or a path, for example 192.168.1.20 or 192.168.1.20:80.</source>
        <translation>«&#xa0;%1&#xa0;» n’est pas une adresse de pont. Saisissez l’adresse seule, sans espaces ni chemin, par exemple 192.168.1.20 ou 192.168.1.20:80.</translation>
    </message>
    <message>
        <source>Connect to Hue Bridge</source>
        <translation>Se connecter au pont</translation>
    </message>
    <message>
        <source>Connection error</source>
        <translation>Erreur de connexion</translation>
    </message>
    <message>
        <source>IP address of your HUE bridge</source>
        <translation>Adresse IP de votre pont</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatique</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>Manuelle</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Se connecter</translation>
    </message>
    <message>
        <source>Detect</source>
        <translation>Détecter</translation>
    </message>
    <message>
        <source>Detecting…</source>
        <translation>Détection…</translation>
    </message>
    <message>
        <source>Connection Status</source>
        <translation>État de la connexion</translation>
    </message>
    <message>
        <source>You need to press the LINK button on your bridge before clicking Connect.</source>
        <translation>Appuyez sur le bouton LINK de votre pont avant de cliquer sur «&#xa0;Se connecter&#xa0;».</translation>
    </message>
    <message>
        <source>If you click the lamp in the menu bar, you should see your lights now. If not, you can try to re-connect.</source>
        <translation>En cliquant sur la lampe dans la barre de menus, vous devriez maintenant voir vos lampes. Sinon, essayez de vous reconnecter.</translation>
    </message>
    <message>
        <source>CONNECTED</source>
        <translation>CONNECTÉ</translation>
    </message>
    <message>
        <source>DISCONNECTED</source>
        <translation>DÉCONNECTÉ</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Se déconnecter</translation>
    </message>
    <message>
        <source>If this is a software bridge you run yourself, compare its certificate&apos;s SHA-256 fingerprint:</source>
        <translation>S’il s’agit d’un pont logiciel que vous faites tourner vous-même, comparez l’empreinte SHA-256 de son certificat :</translation>
    </message>
    <message>
        <source>Certificate fingerprint</source>
        <translation>Empreinte du certificat</translation>
    </message>
    <message>
        <source>Trust this bridge&apos;s certificate</source>
        <translation>Faire confiance au certificat de ce pont</translation>
    </message>
    <message>
        <source>Secure connection (HTTPS) to bridge %1, by the certificate you trusted.</source>
        <translation>Connexion sécurisée (HTTPS) au pont %1, par le certificat auquel vous avez fait confiance.</translation>
    </message>
    <message>
        <source>Secure connection (HTTPS) to bridge %1, its certificate checked.</source>
        <translation>Connexion sécurisée (HTTPS) au pont %1, son certificat vérifié.</translation>
    </message>
    <message>
        <source>Plain HTTP: a first-generation bridge, which has no HTTPS.</source>
        <translation>HTTP simple : un pont de première génération, sans HTTPS.</translation>
    </message>
    <message>
        <source>Live updates: active; changes show as they happen.</source>
        <translation>Mises à jour en direct : actives ; les changements s’affichent aussitôt.</translation>
    </message>
    <message>
        <source>Live updates: connecting; reading every few seconds meanwhile.</source>
        <translation>Mises à jour en direct : connexion en cours ; lecture toutes les quelques secondes en attendant.</translation>
    </message>
    <message>
        <source>Live updates: not available with this bridge; reading every few seconds.</source>
        <translation>Mises à jour en direct : indisponibles avec ce pont ; lecture toutes les quelques secondes.</translation>
    </message>
    <message>
        <source>Live updates: off; reading every few seconds.</source>
        <translation>Mises à jour en direct : désactivées ; lecture toutes les quelques secondes.</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::ConnectionView</name>
    <message>
        <source>Connection troube? Click to send debug data!</source>
        <translation>Un souci de connexion&#xa0;? Cliquez pour envoyer un diagnostic&#xa0;!</translation>
    </message>
    <message>
        <source>Thank you!</source>
        <translation>Merci&#xa0;!</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Version </translation>
    </message>
    <message>
        <source>Show the debug window</source>
        <translation>Afficher la fenêtre de diagnostic</translation>
    </message>
    <message>
        <source>Settings problem</source>
        <translation>Problème de réglages</translation>
    </message>
    <message>
        <source>Paired with the bridge, but its user name could not be saved. The bridge will not show it again: copy it and keep it until the settings can be saved.</source>
        <translation>Associé au pont, mais son nom d’utilisateur n’a pas pu être enregistré. Le pont ne le montrera plus&#xa0;: copiez-le et conservez-le jusqu’à ce que les réglages puissent être enregistrés.</translation>
    </message>
    <message>
        <source>User name that could not be saved</source>
        <translation>Nom d’utilisateur qui n’a pas pu être enregistré</translation>
    </message>
    <message>
        <source>Settings cannot be read: %1 (%2). Lumora is using defaults and saves nothing until the file can be read.</source>
        <translation>Impossible de lire les réglages&#xa0;: %1 (%2). Lumora utilise les valeurs par défaut et n’enregistre rien tant que le fichier ne peut pas être lu.</translation>
    </message>
    <message>
        <source>Settings could not be saved to %1: %2.</source>
        <translation>Impossible d’enregistrer les réglages dans %1&#xa0;: %2.</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::GroupActionPicker</name>
    <message>
        <source>(No Action)</source>
        <translation>(Aucune action)</translation>
    </message>
    <message>
        <source>On</source>
        <translation>– allumer</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>– éteindre</translation>
    </message>
    <message>
        <source>Brighter</source>
        <translation>– plus clair</translation>
    </message>
    <message>
        <source>Darker</source>
        <translation>– plus sombre</translation>
    </message>
    <message>
        <source>Action of hotkey %1</source>
        <translation>Action du raccourci %1</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::HotkeyCell</name>
    <message>
        <source>Copy</source>
        <translation>Copier</translation>
    </message>
    <message>
        <source>Copy %1</source>
        <translation>Copier %1</translation>
    </message>
    <message>
        <source>No key assigned</source>
        <translation>Aucune touche attribuée</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::HotkeysPane</name>
    <message>
        <source>The desktop holds these shortcuts: each action fires with the key it shows here.</source>
        <translation>Le bureau gère ces raccourcis : chaque action se déclenche avec la touche indiquée ici.</translation>
    </message>
    <message>
        <source>This desktop lets no program hold global shortcuts. Bind these commands to keys in the desktop&apos;s or compositor&apos;s own keyboard settings.</source>
        <translation>Ce bureau ne permet à aucun programme de gérer des raccourcis globaux. Associez ces commandes à des touches dans les réglages clavier du bureau ou du compositeur.</translation>
    </message>
    <message>
        <source>Change in the desktop&apos;s settings…</source>
        <translation>Modifier dans les réglages du bureau…</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::HotkeysEverythingView</name>
    <message>
        <source>Everything</source>
        <translation>Tout</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Éteindre</translation>
    </message>
    <message>
        <source>On</source>
        <translation>Allumer</translation>
    </message>
    <message>
        <source>Darker</source>
        <translation>Plus sombre</translation>
    </message>
    <message>
        <source>Brighter</source>
        <translation>Plus clair</translation>
    </message>
    <message>
        <source>Open Panel</source>
        <translation>Ouvrir le panneau</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::HotkeysIndividualView</name>
    <message>
        <source>Individual Groups</source>
        <translation>Par groupe</translation>
    </message>
    <message>
        <source>Shortcut of hotkey %1</source>
        <translation>Raccourci %1</translation>
    </message>
    <message>
        <source>Hotkey Settings</source>
        <translation>Réglages des raccourcis</translation>
    </message>
    <message>
        <source>Small</source>
        <translation>Petit</translation>
    </message>
    <message>
        <source>Medium</source>
        <translation>Moyen</translation>
    </message>
    <message>
        <source>Large</source>
        <translation>Grand</translation>
    </message>
    <message>
        <source>Step Size</source>
        <translation>Pas de réglage</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::InformationView</name>
    <message>
        <source>The information page opens in your browser:</source>
        <translation>La page d’informations s’ouvre dans votre navigateur&#xa0;:</translation>
    </message>
    <message>
        <source>Want to help? A coffee is always appreciated.</source>
        <translation>Envie d’aider&#xa0;? Un café fait toujours plaisir.</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::LampSelectorView</name>
    <message>
        <source>Which lights do you want to control?</source>
        <translation>Quelles lampes voulez-vous piloter&#xa0;?</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::LinkExplainer</name>
    <message>
        <source>The link button on the bridge being pressed</source>
        <translation>Appui sur le bouton LINK du pont</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::RecorderWidget</name>
    <message>
        <source>Clear</source>
        <translation>Effacer</translation>
    </message>
</context>
<context>
    <name>lumora::ui::ControlAccessibility</name>
    <message>
        <source>%1 %</source>
        <translation>%1&#xa0;%</translation>
    </message>
    <message>
        <source>hue %1°, saturation %2 %</source>
        <translation>teinte %1°, saturation %2&#xa0;%</translation>
    </message>
</context>
<context>
    <name>lumora::ui::OnOffButton</name>
    <message>
        <source>ON</source>
        <translation>ON</translation>
    </message>
    <message>
        <source>OFF</source>
        <translation>OFF</translation>
    </message>
</context>
<context>
    <name>lumora::ui::SceneButton</name>
    <message>
        <source>Scene %1</source>
        <translation>Scène %1</translation>
    </message>
</context>
</TS>
