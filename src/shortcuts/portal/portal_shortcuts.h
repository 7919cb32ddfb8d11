#pragma once
// Global shortcuts through the desktop portal (Wayland sessions, where no
// program may grab keys): the thirteen names of the shortcut module are bound
// as portal shortcuts, the recorded combination offered as the preferred
// trigger, and an activation runs the module's handlers for the name, as a
// key released under the X11 grabs does. The desktop, not this program, owns
// which key fires each one; what it reports is kept for the Hotkeys pane.
//
// Takes the place of the X11 hot-key service: the program uses one or the
// other (see portalShortcutsVersion). Lives on the user-interface thread.
// Deactivated (the key let go) is not listened to: an activation is a whole
// press, and not every desktop reports the release.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "shortcuts/keyboard_shortcuts.h"

namespace lumora {

// A Wayland session: WAYLAND_DISPLAY set or XDG_SESSION_TYPE=wayland.
bool isWaylandSession();

// Introduces the program to the portal on `bus` and asks for its
// GlobalShortcuts interface: the application id (which must match the desktop
// file's name) is registered with the portal's host registry first, since the
// portal takes it only before any other call from the connection; a portal
// without the registry is fine. Then the interface's version, or nothing when
// no portal answers with the interface (none installed; sway and other
// compositors whose portal has none). Blocks for at most `timeoutMs` a call.
std::optional<unsigned> portalShortcutsVersion(const QDBusConnection& bus,
                                               const QString& applicationId, int timeoutMs = 3000);

// The title of each name as the Hotkeys pane shows it, translated with the
// pane's own texts; the colour actions and the slots, which the pane shows
// differently, get titles of their own.
QString shortcutTitle(const KeyboardShortcuts::Name& name);

class PortalShortcuts : public QObject {
    Q_OBJECT

  public:
    struct Options {
        // What the desktop's shortcut settings list for each name.
        std::function<QString(const KeyboardShortcuts::Name&)> describe = shortcutTitle;
        // The interface version (portalShortcutsVersion); 2 offers
        // ConfigureShortcuts.
        unsigned version = 1;
    };

    // `shortcuts` must outlive this. Nothing happens before start().
    PortalShortcuts(KeyboardShortcuts& shortcuts, QDBusConnection bus, Options options);
    // Closes the session: the desktop drops the bindings.
    ~PortalShortcuts() override;
    PortalShortcuts(const PortalShortcuts&) = delete;
    PortalShortcuts& operator=(const PortalShortcuts&) = delete;

    // Creates a session and binds the thirteen names; returns at once, the
    // replies come on the event loop. Call portalShortcutsVersion first.
    // A recorded combination changed later makes a new session bound afresh
    // (the portal reads preferred triggers only when shortcuts are bound).
    void start();

    // Whether the desktop has accepted the bindings of the current session.
    bool bound() const { return bound_; }
    // The desktop's own words for the key that fires each name (raw value →
    // text, e.g. "Ctrl+Alt+K"); empty text where it assigned none.
    const std::map<std::string, QString>& triggers() const { return triggers_; }
    QString trigger(const KeyboardShortcuts::Name& name) const;
    // Whether the desktop can open its shortcut settings for this program.
    bool canConfigure() const { return options_.version >= 2 && bound_; }
    // Opens them (ConfigureShortcuts); `parentWindow` in the portal's
    // window-identifier form, or empty. False when not possible.
    bool configure(const QString& parentWindow = {});

    // The session handle, empty before the portal created one.
    const QString& session() const { return session_; }

  signals:
    // triggers() or bound() changed.
    void triggersChanged();

  private slots:
    void onResponse(const QDBusMessage& message);
    void onActivated(const QDBusMessage& message);
    void onShortcutsChanged(const QDBusMessage& message);
    void onSessionClosed(const QDBusMessage& message);

  private:
    using ResponseHandler = std::function<void(unsigned, const QVariantMap&)>;
    // Sends a portal call whose answer comes as a Response on a request
    // object; subscribes to the predicted path before sending.
    void request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                 ResponseHandler handler);
    void forgetRequest(const QString& path);
    void createSession();
    void bindShortcuts();
    void closeSession();
    void scheduleRebind();
    // Reads (id, {trigger_description}) pairs into triggers_; true when any changed.
    bool takeTriggers(const QVariant& shortcuts);

    KeyboardShortcuts& shortcuts_;
    QDBusConnection bus_;
    Options options_;
    QString session_;
    bool bound_ = false;
    bool rebindQueued_ = false;
    unsigned tokens_ = 0;
    // Each created session gets a number; replies for an earlier one are dropped.
    unsigned generation_ = 0;
    std::map<QString, ResponseHandler> requests_;
    std::map<std::string, QString> triggers_;
    NotificationCenter::Token changeObserver_ = 0;
    bool started_ = false;
};

}  // namespace lumora
