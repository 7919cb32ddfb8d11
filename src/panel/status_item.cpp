#include "panel/status_item.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <cstdio>

#include "ui/theme.h"

namespace lumora::panel {

StatusItem::StatusItem(QObject* parent) : QObject(parent) {
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        switch (r) {
            case QSystemTrayIcon::Trigger:
                if (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) {
                    emit rightClicked();
                } else {
                    emit leftClicked();
                }
                break;
            case QSystemTrayIcon::Context:
                emit rightClicked();
                break;
            default:
                break;
        }
    });
    waitForTray_.setInterval(1000);
    connect(&waitForTray_, &QTimer::timeout, this, [this] {
        if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
        waitForTray_.stop();
        std::fprintf(stderr, "lumora: a system tray appeared; the icon is in it now.\n");
        icon_.hide();
        icon_.show();
    });
    setImage(QStringLiteral("Icon_Lamp0"));
}

QString StatusItem::imagePath(const QString& name, bool darkPanel) {
    static const QStringList known{"Icon_Lamp0", "Icon_Lamp1", "Icon_Lamp2", "Icon_Lamp3"};
    const QString base = known.contains(name) ? name : known.front();
    // A light drawing on a dark panel, a dark one on a light panel.
    return QStringLiteral(":/lumora/icons/%1-%2.svg").arg(base, darkPanel ? "dark" : "light");
}

void StatusItem::setImage(const QString& name) {
    image_ = name;
    // Trays follow the desktop's scheme more often than not.
    const bool dark = ui::isDarkScheme(nullptr);
    icon_.setIcon(QIcon(imagePath(name, dark)));
    icon_.setToolTip(QStringLiteral("Lumora"));
}

void StatusItem::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::fprintf(stderr,
                     "lumora: no system tray is running; waiting for one to appear "
                     "(the panel opens from the tray icon).\n");
        waitForTray_.start();
    }
    icon_.show();
}

std::optional<QRect> StatusItem::geometry() const {
    const QRect r = icon_.geometry();
    if (r.isEmpty()) return std::nullopt;
    return r;
}

}  // namespace lumora::panel
