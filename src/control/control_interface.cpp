#include "control/control_interface.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

#include "app/bridge_controller.h"
#include "app/hotkey_actions.h"

namespace lumora {

ControlInterface::ControlInterface(BridgeController& controller, HotkeyActions& hotkeys,
                                   Panel panel, QObject* parent)
    : QObject(parent), controller_(controller), hotkeys_(hotkeys), panel_(std::move(panel)) {
    // A refresh or a dragged slider changes the records many times a second;
    // listeners hear of it once per interval.
    observer_ = controller_.settings().addObserver([this](AppSettings::Field field) {
        using F = AppSettings::Field;
        if ((field == F::lights || field == F::groups) && changed_.expired()) {
            changed_ = controller_.settings().dispatcher().scheduleRepeating(
                std::chrono::milliseconds(kChangedDelayMs), [this] {
                    invalidate(changed_);
                    emit Changed();
                });
        }
        if (field == F::bridgeConnected || field == F::hueIP || field == F::bridgeLink)
            propertiesChanged();
    });
}

ControlInterface::~ControlInterface() {
    controller_.settings().removeObserver(observer_);
    invalidate(changed_);
    if (!published_) return;
    bus_.unregisterService(QString::fromLatin1(kControlService));
    bus_.unregisterObject(QString::fromLatin1(kControlPath));
}

bool ControlInterface::publish(QDBusConnection bus, QString* why) {
    if (!bus.isConnected()) {
        if (why) *why = QStringLiteral("no session bus");
        return false;
    }
    const QString path = QString::fromLatin1(kControlPath);
    if (!bus.registerObject(path, this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties)) {
        if (why) *why = bus.lastError().message();
        return false;
    }
    // Neither queued nor replacing: the first tray program keeps the name.
    const auto reply = bus.interface()->registerService(
        QString::fromLatin1(kControlService), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus.unregisterObject(path);
        if (why)
            *why = reply.isValid() ? QStringLiteral("another program owns %1")
                                         .arg(QString::fromLatin1(kControlService))
                                   : reply.error().message();
        return false;
    }
    bus_ = bus;
    published_ = true;
    return true;
}

bool ControlInterface::connected() const {
    return controller_.settings().bridgeConnected();
}

QString ControlInterface::bridgeAddress() const {
    return QString::fromStdString(controller_.settings().hueIP());
}

bool ControlInterface::secure() const {
    return controller_.settings().bridgeLink().kind == BridgeLink::Kind::secure;
}

QString ControlInterface::bridgeId() const {
    return QString::fromStdString(controller_.settings().bridgeLink().bridgeId);
}

void ControlInterface::AllOn() {
    hotkeys_.applyToAllGroups(AllGroupsAction::on);
}
void ControlInterface::AllOff() {
    hotkeys_.applyToAllGroups(AllGroupsAction::off);
}
void ControlInterface::Brighter() {
    hotkeys_.applyToAllGroups(AllGroupsAction::brighter);
}
void ControlInterface::Darker() {
    hotkeys_.applyToAllGroups(AllGroupsAction::darker);
}
void ControlInterface::Red() {
    hotkeys_.applyToAllGroups(AllGroupsAction::red);
}
void ControlInterface::Blue() {
    hotkeys_.applyToAllGroups(AllGroupsAction::blue);
}
void ControlInterface::White() {
    hotkeys_.applyToAllGroups(AllGroupsAction::white);
}

void ControlInterface::Slot(int index) {
    if (index < 1 || index > 5)
        return refuse(QStringLiteral("Slot takes a slot from 1 to 5, not %1").arg(index));
    hotkeys_.applyGroupSlot(index - 1);
}

void ControlInterface::TogglePanel() {
    if (panel_.toggle) panel_.toggle();
}
void ControlInterface::ShowPanel() {
    if (panel_.show) panel_.show();
}
void ControlInterface::HidePanel() {
    if (panel_.hide) panel_.hide();
}

void ControlInterface::DelayedOff(int minutes) {
    // The bridge's timer counts hours and minutes within a day.
    if (minutes < 1 || minutes > 1439)
        return refuse(
            QStringLiteral("DelayedOff takes minutes from 1 to 1439, not %1").arg(minutes));
    controller_.allOffInMinutes(minutes);
}

void ControlInterface::refuse(const QString& message) {
    if (calledFromDBus()) sendErrorReply(QDBusError::InvalidArgs, message);
}

void ControlInterface::propertiesChanged() {
    if (!published_) return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kControlPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    const QVariantMap changed{{QStringLiteral("Connected"), connected()},
                              {QStringLiteral("BridgeAddress"), bridgeAddress()},
                              {QStringLiteral("Secure"), secure()},
                              {QStringLiteral("BridgeId"), bridgeId()}};
    signal << QString::fromLatin1(kControlInterface) << changed << QStringList();
    bus_.send(signal);
}

}  // namespace lumora
