#include "panel/status_item.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPalette>
#include <cstdio>

#include "app/linux/launch_at_login.h"
#include "panel/status_notifier_item.h"
#include "ui/theme.h"

namespace lumora::panel {

StatusItem::StatusItem(QObject* parent) : QObject(parent) {
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        switch (r) {
            case QSystemTrayIcon::Trigger:
                if (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) {
                    emit rightClicked(std::nullopt);
                } else {
                    emit leftClicked(std::nullopt);
                }
                break;
            case QSystemTrayIcon::Context:
                emit rightClicked(std::nullopt);
                break;
            default:
                break;
        }
    });
    waitForTray_.setInterval(1000);
    connect(&waitForTray_, &QTimer::timeout, this, [this] {
        if (startNotifierItem()) {
            waitForTray_.stop();
            std::fprintf(stderr, "lumora: a system tray appeared; the icon is in it now.\n");
            return;
        }
        if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
        waitForTray_.stop();
        std::fprintf(stderr, "lumora: a system tray appeared; the icon is in it now.\n");
        icon_.hide();
        icon_.show();
    });
    setImage(QStringLiteral("Icon_Lamp0"));
}

StatusItem::~StatusItem() = default;

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
    const QIcon image(imagePath(name, dark));
    icon_.setIcon(image);
    icon_.setToolTip(QStringLiteral("Lumora"));
    if (notifier_) notifier_->setIcon(image);
}

void StatusItem::setMenu(QMenu* menu) {
    menu_ = menu;
    if (notifier_) notifier_->setMenu(menu);
}

bool StatusItem::startNotifierItem() {
    if (notifier_) return true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!StatusNotifierItem::watcherPresent(bus)) return false;
    auto item = std::make_unique<StatusNotifierItem>(bus, QString::fromLatin1(kApplicationId));
    item->setTitle(QStringLiteral("Lumora"));
    item->setIcon(QIcon(imagePath(image_, ui::isDarkScheme(nullptr))));
    item->setMenu(menu_);
    connect(item.get(), &StatusNotifierItem::activated, this, [this](QPoint at) {
        lastPoint_ = at;
        emit leftClicked(at);
    });
    connect(item.get(), &StatusNotifierItem::contextMenuRequested, this, [this](QPoint at) {
        lastPoint_ = at;
        emit rightClicked(at);
    });
    if (!item->start()) return false;
    icon_.hide();
    notifier_ = std::move(item);
    std::fprintf(stderr, "lumora: the tray icon is a StatusNotifierItem (%s)\n",
                 qPrintable(notifier_->serviceName()));
    emit becameNotifierItem();
    return true;
}

void StatusItem::show() {
    if (startNotifierItem()) return;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::fprintf(stderr,
                     "lumora: no system tray is running; waiting for one to appear "
                     "(the panel opens from the tray icon).\n");
        waitForTray_.start();
    }
    icon_.show();
}

std::optional<QRect> StatusItem::iconGeometry() const {
    if (notifier_) return std::nullopt;
    const QRect r = icon_.geometry();
    if (r.isEmpty()) return std::nullopt;
    return r;
}

std::optional<QRect> StatusItem::geometry() const {
    if (auto r = iconGeometry()) return r;
    if (lastPoint_) return QRect(*lastPoint_, QSize(1, 1));
    return std::nullopt;
}

}  // namespace lumora::panel
