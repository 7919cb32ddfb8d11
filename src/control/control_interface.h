#pragma once
// The tray program on the session bus: what its global shortcuts do, the
// delayed off, the panel, and how the bridge is connected, for lumora-ctl and
// the desktop's own shortcut settings. Everything goes through the same
// controller and its one paced queue as a key press does, so the panel shows
// it at once. Lives on the user-interface thread.
//
// Name io.github.lumora.Lumora (the application id), object
// /io/github/lumora/Lumora, interface io.github.lumora.Lumora1.

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "base/dispatch.h"

namespace lumora {

class BridgeController;
class HotkeyActions;

inline constexpr const char* kControlService = "io.github.lumora.Lumora";
inline constexpr const char* kControlPath = "/io/github/lumora/Lumora";
inline constexpr const char* kControlInterface = "io.github.lumora.Lumora1";

class ControlInterface : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.lumora.Lumora1")
    Q_PROPERTY(bool Connected READ connected)
    Q_PROPERTY(QString BridgeAddress READ bridgeAddress)
    Q_PROPERTY(bool Secure READ secure)
    Q_PROPERTY(QString BridgeId READ bridgeId)

  public:
    // What the shell does with its panel; main hands these in, so this folder
    // needs nothing of the panel's.
    struct Panel {
        std::function<void()> toggle, show, hide;
    };
    // How long Changed() waits to gather what changed together.
    static constexpr int kChangedDelayMs = 200;

    ControlInterface(BridgeController& controller, HotkeyActions& hotkeys, Panel panel,
                     QObject* parent = nullptr);
    ~ControlInterface() override;

    // Exports the object and takes the name on `bus`. Never takes it from
    // another owner (a second tray program): false then, and when the bus is
    // missing, with the reason in `why`.
    bool publish(QDBusConnection bus, QString* why);

    bool connected() const;
    QString bridgeAddress() const;
    bool secure() const;
    QString bridgeId() const;

  public slots:
    // The seven actions on every room and zone.
    void AllOn();
    void AllOff();
    void Brighter();
    void Darker();
    void Red();
    void Blue();
    void White();
    // The slot as stored in the Hotkeys pane, 1 to 5.
    void Slot(int index);
    void TogglePanel();
    void ShowPanel();
    void HidePanel();
    // Every light off after `minutes` (1 to 1439), by the bridge's own timer.
    void DelayedOff(int minutes);

  signals:
    // Lights or rooms changed; at most once per kChangedDelayMs.
    void Changed();

  private:
    // Answers the call being handled with an InvalidArgs error.
    void refuse(const QString& message);
    void propertiesChanged();

    BridgeController& controller_;
    HotkeyActions& hotkeys_;
    Panel panel_;
    // Runs from the first change until Changed() is sent, on the
    // controller's dispatcher.
    std::weak_ptr<RepeatingTimer> changed_;
    int observer_ = 0;
    QDBusConnection bus_{QString()};
    bool published_ = false;
};

}  // namespace lumora
