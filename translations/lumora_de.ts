<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AppSettings</name>
    <message>
        <source>Bridge responded: Press LINK BUTTON and retry</source>
        <translation>Antwort der Bridge: Link-Taste drücken und erneut versuchen</translation>
    </message>
    <message>
        <source>Unable to connect to the Hue bridge. Is the IP address correct?</source>
        <translation>Keine Verbindung zur Bridge möglich. Ist die IP-Adresse richtig?</translation>
    </message>
    <message>
        <source>The bridge accepted pairing but sent no user name. Please pair again.</source>
        <translation>Die Bridge hat die Kopplung angenommen, aber keinen Benutzernamen gesendet. Bitte koppeln Sie erneut.</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate that is not from the bridge&apos;s maker. Nothing was sent to it.</source>
        <translation>Die Bridge unter %1 hat ein Zertifikat vorgelegt, das nicht vom Hersteller der Bridge stammt. Es wurde nichts an sie gesendet.</translation>
    </message>
    <message>
        <source>The bridge at %1 is a different bridge: expected id %2, got %3. Nothing was sent to it.</source>
        <translation>Die Bridge unter %1 ist eine andere Bridge: erwartet wurde die Kennung %2, erhalten %3. Es wurde nichts an sie gesendet.</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate for another name.</source>
        <translation>Die Bridge unter %1 hat ein Zertifikat für einen anderen Namen vorgelegt.</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate that expired on %2. Nothing was sent to it.</source>
        <translation>Die Bridge unter %1 hat ein Zertifikat vorgelegt, das am %2 abgelaufen ist. Es wurde nichts an sie gesendet.</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate that is not valid before %2. Is the computer&apos;s clock right?</source>
        <translation>Die Bridge unter %1 hat ein Zertifikat vorgelegt, das erst ab %2 gilt. Geht die Uhr des Computers richtig?</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate that is not for a server. Nothing was sent to it.</source>
        <translation>Die Bridge unter %1 hat ein Zertifikat vorgelegt, das nicht für einen Server bestimmt ist. Es wurde nichts an sie gesendet.</translation>
    </message>
    <message>
        <source>The bridge at %1 presented a certificate other than the one you trusted. Nothing was sent to it.</source>
        <translation>Die Bridge unter %1 hat ein anderes Zertifikat vorgelegt als das, dem Sie vertraut haben. Es wurde nichts an sie gesendet.</translation>
    </message>
    <message>
        <source>The bridge at %1 could not agree on a secure connection.</source>
        <translation>Mit der Bridge unter %1 kam keine sichere Verbindung zustande.</translation>
    </message>
    <message>
        <source>The bridge %1 at %2 answers only over plain HTTP, but it answered securely before. It is not used over plain HTTP.</source>
        <translation>Die Bridge %1 unter %2 antwortet nur noch über einfaches HTTP, vorher aber sicher. Über einfaches HTTP wird sie nicht verwendet.</translation>
    </message>
</context>
<context>
    <name>KeyboardShortcuts</name>
    <message>
        <source>Record Shortcut</source>
        <translation>Kürzel aufnehmen</translation>
    </message>
    <message>
        <source>Press Shortcut</source>
        <translation>Kürzel drücken</translation>
    </message>
    <message>
        <source>This shortcut is already used by the menu item “%1”.</source>
        <translation>Dieses Tastenkürzel wird bereits vom Menüeintrag „%1“ verwendet.</translation>
    </message>
    <message>
        <source>This shortcut is already taken by the desktop or another program.</source>
        <translation>Dieses Tastenkürzel ist bereits von der Arbeitsumgebung oder einem anderen Programm belegt.</translation>
    </message>
    <message>
        <source>Shortcuts held by the desktop can usually be changed in its keyboard settings.</source>
        <translation>Von der Arbeitsumgebung belegte Tastenkürzel lassen sich meist in deren Tastatureinstellungen ändern.</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Connection</source>
        <translation>Verbindung</translation>
    </message>
    <message>
        <source>Advanced</source>
        <translation>Erweitert</translation>
    </message>
    <message>
        <source>Lights</source>
        <translation>Lampen</translation>
    </message>
    <message>
        <source>Hotkeys</source>
        <translation>Tastenkürzel</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>Lumora Settings</source>
        <translation>Lumora-Einstellungen</translation>
    </message>
</context>
<context>
    <name>lumora::DebugView</name>
    <message>
        <source>Debug Information</source>
        <translation>Diagnoseinformationen</translation>
    </message>
    <message>
        <source>Diagnostic log</source>
        <translation>Diagnoseprotokoll</translation>
    </message>
    <message>
        <source>Send Debug Data</source>
        <translation>Diagnosedaten senden</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>lumora::ImagePlayer</name>
    <message>
        <source>A lamp switching on</source>
        <translation>Eine Lampe, die sich einschaltet</translation>
    </message>
</context>
<context>
    <name>lumora::WelcomeView</name>
    <message>
        <source>Rodada!</source>
        <translation>Tada!</translation>
    </message>
    <message>
        <source>This app is very minimal. It only exists in the menu bar at the top. Click the icon to start.</source>
        <translation>Dieses Programm ist ganz schlicht: Es wohnt nur oben in der Menüleiste. Klicken Sie auf das Symbol, um loszulegen.</translation>
    </message>
    <message>
        <source>Let&apos;s go!</source>
        <translation>Los geht’s!</translation>
    </message>
</context>
<context>
    <name>lumora::panel::ContentView</name>
    <message>
        <source>LIGHTS</source>
        <translation>LAMPEN</translation>
    </message>
    <message>
        <source>ROOMS</source>
        <translation>RÄUME</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Write a review</source>
        <translation>Bewertung schreiben</translation>
    </message>
    <message>
        <source>Got a second?</source>
        <translation>Kurz Zeit?</translation>
    </message>
    <message>
        <source>Have you opened the settings and connected to the bridge?</source>
        <translation>Haben Sie die Einstellungen geöffnet und die Verbindung zur Bridge hergestellt?</translation>
    </message>
    <message>
        <source>Bridge responded: Press LINK BUTTON and retry</source>
        <translation>Antwort der Bridge: Link-Taste drücken und erneut versuchen</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Okay, we&apos;re not able to detect any lights just yet.</source>
        <translation>Hm, bisher konnten wir noch keine Lampen finden.</translation>
    </message>
    <message>
        <source>There aren&apos;t any rooms visible just yet.</source>
        <translation>Bisher sind noch keine Räume zu sehen.</translation>
    </message>
    <message>
        <source>There aren&apos;t any scenes visible just yet.</source>
        <translation>Bisher sind noch keine Szenen zu sehen.</translation>
    </message>
</context>
<context>
    <name>lumora::panel::ControlRow</name>
    <message>
        <source>%1 on</source>
        <translation>%1 an</translation>
    </message>
    <message>
        <source>%1 brightness, %2 %</source>
        <translation>%1, Helligkeit %2&#xa0;%</translation>
    </message>
    <message>
        <source>%1 colour temperature</source>
        <translation>%1, Farbtemperatur</translation>
    </message>
    <message>
        <source>%1 colour</source>
        <translation>%1, Farbe</translation>
    </message>
</context>
<context>
    <name>lumora::panel::GroupRow</name>
    <message>
        <source>%1 scenes</source>
        <translation>Szenen von %1</translation>
    </message>
</context>
<context>
    <name>lumora::panel::ListGroups</name>
    <message>
        <source>ZONES</source>
        <translation>ZONEN</translation>
    </message>
    <message>
        <source>ROOMS</source>
        <translation>RÄUME</translation>
    </message>
</context>
<context>
    <name>lumora::panel::QtShell</name>
    <message>
        <source>Open Lumora</source>
        <translation>Lumora öffnen</translation>
    </message>
    <message>
        <source>Darkness!</source>
        <translation>Finsternis!</translation>
    </message>
    <message>
        <source>Off in 5 minutes</source>
        <translation>Aus in 5 Minuten</translation>
    </message>
    <message>
        <source>Off in 30 minutes</source>
        <translation>Aus in 30 Minuten</translation>
    </message>
    <message>
        <source>Off in 60 minutes</source>
        <translation>Aus in 60 Minuten</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Provide Feedback</source>
        <translation>Feedback geben</translation>
    </message>
    <message>
        <source>Quit Lumora</source>
        <translation>Lumora beenden</translation>
    </message>
    <message>
        <source>Welcome to Lumora</source>
        <translation>Willkommen bei Lumora</translation>
    </message>
    <message>
        <source>Lumora Debug</source>
        <translation>Lumora-Diagnose</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::AdvancedPane</name>
    <message>
        <source>Run at Start</source>
        <translation>Bei Anmeldung starten</translation>
    </message>
    <message>
        <source>Show color bars for rooms</source>
        <translation>Farbleisten für Räume</translation>
    </message>
    <message>
        <source>Show color bars for lights</source>
        <translation>Farbleisten für Lampen</translation>
    </message>
    <message>
        <source>Show Scene Panel</source>
        <translation>Szenen zeigen</translation>
    </message>
    <message>
        <source>Show Zones</source>
        <translation>Zonen zeigen</translation>
    </message>
    <message>
        <source>Live updates</source>
        <translation>Live-Aktualisierung</translation>
    </message>
    <message>
        <source>Follow changes made elsewhere as they happen, where the bridge offers it; otherwise the lights are read every few seconds.</source>
        <translation>Änderungen von anderswo sofort zeigen, wo die Bridge es anbietet; sonst werden die Lampen alle paar Sekunden gelesen.</translation>
    </message>
    <message>
        <source>App Icon</source>
        <translation>Programmsymbol</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Provide Feedback</source>
        <translation>Feedback geben</translation>
    </message>
    <message>
        <source>Get Support</source>
        <translation>Unterstützung</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::ConfigurationPart</name>
    <message>
        <source>No bridge address yet. Press Detect, or choose Manual and type it, for example 192.168.1.20.</source>
        <translation>Noch keine Bridge-Adresse. Klicken Sie auf „Suchen“ oder wählen Sie „Manuell“ und geben Sie sie ein, zum Beispiel 192.168.1.20.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a bridge address. Type the address alone, without spaces or a path, for example 192.168.1.20 or 192.168.1.20:80.</source>
        <translation>„%1“ ist keine Bridge-Adresse. Geben Sie nur die Adresse ein, ohne Leerzeichen und Pfad, zum Beispiel 192.168.1.20 oder 192.168.1.20:80.</translation>
    </message>
    <message>
        <source>Connect to Hue Bridge</source>
        <translation>Mit der Bridge verbinden</translation>
    </message>
    <message>
        <source>Connection error</source>
        <translation>Verbindungsfehler</translation>
    </message>
    <message>
        <source>IP address of your HUE bridge</source>
        <translation>IP-Adresse Ihrer Bridge</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>Manuell</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Detect</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Detecting…</source>
        <translation>Suche läuft…</translation>
    </message>
    <message>
        <source>Connection Status</source>
        <translation>Verbindungsstatus</translation>
    </message>
    <message>
        <source>You need to press the LINK button on your bridge before clicking Connect.</source>
        <translation>Drücken Sie die Link-Taste an Ihrer Bridge, bevor Sie auf „Verbinden“ klicken.</translation>
    </message>
    <message>
        <source>If you click the lamp in the menu bar, you should see your lights now. If not, you can try to re-connect.</source>
        <translation>Wenn Sie jetzt auf die Lampe in der Menüleiste klicken, sollten Sie Ihre Lampen sehen. Falls nicht, verbinden Sie sich einfach noch einmal.</translation>
    </message>
    <message>
        <source>CONNECTED</source>
        <translation>VERBUNDEN</translation>
    </message>
    <message>
        <source>DISCONNECTED</source>
        <translation>GETRENNT</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Trennen</translation>
    </message>
    <message>
        <source>If this is a software bridge you run yourself, compare its certificate&apos;s SHA-256 fingerprint:</source>
        <translation>Wenn dies eine Software-Bridge ist, die Sie selbst betreiben, vergleichen Sie den SHA-256-Fingerabdruck ihres Zertifikats:</translation>
    </message>
    <message>
        <source>Certificate fingerprint</source>
        <translation>Fingerabdruck des Zertifikats</translation>
    </message>
    <message>
        <source>Trust this bridge&apos;s certificate</source>
        <translation>Dem Zertifikat dieser Bridge vertrauen</translation>
    </message>
    <message>
        <source>Secure connection (HTTPS) to bridge %1, by the certificate you trusted.</source>
        <translation>Sichere Verbindung (HTTPS) zur Bridge %1, über das Zertifikat, dem Sie vertraut haben.</translation>
    </message>
    <message>
        <source>Secure connection (HTTPS) to bridge %1, its certificate checked.</source>
        <translation>Sichere Verbindung (HTTPS) zur Bridge %1, ihr Zertifikat ist geprüft.</translation>
    </message>
    <message>
        <source>Plain HTTP: a first-generation bridge, which has no HTTPS.</source>
        <translation>Einfaches HTTP: eine Bridge der ersten Generation, die kein HTTPS hat.</translation>
    </message>
    <message>
        <source>Live updates: active; changes show as they happen.</source>
        <translation>Live-Aktualisierung: aktiv; Änderungen erscheinen sofort.</translation>
    </message>
    <message>
        <source>Live updates: connecting; reading every few seconds meanwhile.</source>
        <translation>Live-Aktualisierung: wird verbunden; bis dahin wird alle paar Sekunden gelesen.</translation>
    </message>
    <message>
        <source>Live updates: not available with this bridge; reading every few seconds.</source>
        <translation>Live-Aktualisierung: mit dieser Bridge nicht verfügbar; es wird alle paar Sekunden gelesen.</translation>
    </message>
    <message>
        <source>Live updates: off; reading every few seconds.</source>
        <translation>Live-Aktualisierung: aus; es wird alle paar Sekunden gelesen.</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::ConnectionView</name>
    <message>
        <source>Connection troube? Click to send debug data!</source>
        <translation>Probleme mit der Verbindung? Klicken Sie hier, um Diagnosedaten zu senden!</translation>
    </message>
    <message>
        <source>Thank you!</source>
        <translation>Vielen Dank!</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Version </translation>
    </message>
    <message>
        <source>Show the debug window</source>
        <translation>Diagnosefenster anzeigen</translation>
    </message>
    <message>
        <source>Settings problem</source>
        <translation>Problem mit den Einstellungen</translation>
    </message>
    <message>
        <source>Paired with the bridge, but its user name could not be saved. The bridge will not show it again: copy it and keep it until the settings can be saved.</source>
        <translation>Mit der Bridge gekoppelt, aber ihr Benutzername konnte nicht gespeichert werden. Die Bridge zeigt ihn nicht noch einmal: Kopieren Sie ihn und bewahren Sie ihn auf, bis die Einstellungen gespeichert werden können.</translation>
    </message>
    <message>
        <source>User name that could not be saved</source>
        <translation>Benutzername, der nicht gespeichert werden konnte</translation>
    </message>
    <message>
        <source>Settings cannot be read: %1 (%2). Lumora is using defaults and saves nothing until the file can be read.</source>
        <translation>Die Einstellungen können nicht gelesen werden: %1 (%2). Lumora verwendet Standardwerte und speichert nichts, bis die Datei lesbar ist.</translation>
    </message>
    <message>
        <source>Settings could not be saved to %1: %2.</source>
        <translation>Die Einstellungen konnten nicht in %1 gespeichert werden: %2.</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::GroupActionPicker</name>
    <message>
        <source>(No Action)</source>
        <translation>(Keine Aktion)</translation>
    </message>
    <message>
        <source>On</source>
        <translation>an</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>aus</translation>
    </message>
    <message>
        <source>Brighter</source>
        <translation>heller</translation>
    </message>
    <message>
        <source>Darker</source>
        <translation>dunkler</translation>
    </message>
    <message>
        <source>Action of hotkey %1</source>
        <translation>Aktion für Tastenkürzel %1</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::HotkeyCell</name>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Copy %1</source>
        <translation>%1 kopieren</translation>
    </message>
    <message>
        <source>No key assigned</source>
        <translation>Keine Taste zugewiesen</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::HotkeysPane</name>
    <message>
        <source>The desktop holds these shortcuts: each action fires with the key it shows here.</source>
        <translation>Der Desktop verwaltet diese Tastenkürzel: Jede Aktion löst die Taste aus, die hier steht.</translation>
    </message>
    <message>
        <source>This desktop lets no program hold global shortcuts. Bind these commands to keys in the desktop&apos;s or compositor&apos;s own keyboard settings.</source>
        <translation>Dieser Desktop erlaubt keinem Programm globale Tastenkürzel. Legen Sie diese Befehle in den Tastatureinstellungen des Desktops oder Compositors auf Tasten.</translation>
    </message>
    <message>
        <source>Change in the desktop&apos;s settings…</source>
        <translation>In den Desktop-Einstellungen ändern…</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::HotkeysEverythingView</name>
    <message>
        <source>Everything</source>
        <translation>Alles</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>On</source>
        <translation>An</translation>
    </message>
    <message>
        <source>Darker</source>
        <translation>Dunkler</translation>
    </message>
    <message>
        <source>Brighter</source>
        <translation>Heller</translation>
    </message>
    <message>
        <source>Open Panel</source>
        <translation>Panel öffnen</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::HotkeysIndividualView</name>
    <message>
        <source>Individual Groups</source>
        <translation>Einzelne Gruppen</translation>
    </message>
    <message>
        <source>Shortcut of hotkey %1</source>
        <translation>Tastenkürzel %1</translation>
    </message>
    <message>
        <source>Hotkey Settings</source>
        <translation>Einstellungen für Tastenkürzel</translation>
    </message>
    <message>
        <source>Small</source>
        <translation>Klein</translation>
    </message>
    <message>
        <source>Medium</source>
        <translation>Mittel</translation>
    </message>
    <message>
        <source>Large</source>
        <translation>Groß</translation>
    </message>
    <message>
        <source>Step Size</source>
        <translation>Schrittweite</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::InformationView</name>
    <message>
        <source>The information page opens in your browser:</source>
        <translation>Die Infoseite öffnet sich in Ihrem Browser:</translation>
    </message>
    <message>
        <source>Want to help? A coffee is always appreciated.</source>
        <translation>Möchten Sie helfen? Über einen Kaffee freuen wir uns immer.</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::LampSelectorView</name>
    <message>
        <source>Which lights do you want to control?</source>
        <translation>Welche Lampen möchten Sie steuern?</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::LinkExplainer</name>
    <message>
        <source>The link button on the bridge being pressed</source>
        <translation>Die Link-Taste an der Bridge wird gedrückt</translation>
    </message>
</context>
<context>
    <name>lumora::prefs::RecorderWidget</name>
    <message>
        <source>Clear</source>
        <translation>Löschen</translation>
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
        <translation>Farbton %1°, Sättigung %2&#xa0;%</translation>
    </message>
</context>
<context>
    <name>lumora::ui::OnOffButton</name>
    <message>
        <source>ON</source>
        <translation>AN</translation>
    </message>
    <message>
        <source>OFF</source>
        <translation>AUS</translation>
    </message>
</context>
<context>
    <name>lumora::ui::SceneButton</name>
    <message>
        <source>Scene %1</source>
        <translation>Szene %1</translation>
    </message>
</context>
</TS>
