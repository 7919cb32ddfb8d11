#include "panel/sleep_watcher.h"

#include <QDBusConnection>

namespace lumora::panel {

SleepWatcher::SleepWatcher(std::function<void()> willSleep, std::function<void()> didWake,
                           QObject* parent)
    : QObject(parent), willSleep_(std::move(willSleep)), didWake_(std::move(didWake)) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;
    watching_ = bus.connect(QStringLiteral("org.freedesktop.login1"),
                            QStringLiteral("/org/freedesktop/login1"),
                            QStringLiteral("org.freedesktop.login1.Manager"),
                            QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

void SleepWatcher::prepareForSleep(bool start) {
    if (start) {
        if (willSleep_) willSleep_();
    } else if (didWake_) {
        didWake_();
    }
}

}  // namespace lumora::panel
