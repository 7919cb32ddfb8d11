#pragma once
// The tray icon as a StatusNotifierItem of our own, over Qt D-Bus. Hosts pass
// where the click was with Activate(x, y) and ContextMenu(x, y); Qt's own
// item drops those coordinates, and the panel needs them to open at the
// icon. The menu is exported as a com.canonical.dbusmenu object for hosts
// that draw it themselves (a left click there shows it).

#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

class QMenu;
class QDBusServiceWatcher;

namespace lumora::panel {

class StatusNotifierItem : public QObject {
    Q_OBJECT
  public:
    static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";

    // Whether a watcher owns its name on `bus` now.
    static bool watcherPresent(const QDBusConnection& bus);

    // `id` is the application id hosts know the item by.
    StatusNotifierItem(QDBusConnection bus, QString id, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Exports the objects under a name of our own and registers with the
    // watcher, again whenever a watcher appears. False when the bus refused
    // the objects or the name.
    bool start();

    void setIcon(const QIcon& icon);
    void setTitle(const QString& title);
    // The menu hosts show; its actions are exported as they are when asked.
    void setMenu(QMenu* menu);

    QString serviceName() const { return service_; }

    // For the adaptors.
    QString id() const { return id_; }
    QString title() const { return title_; }
    const QIcon& icon() const { return icon_; }
    bool hasMenu() const { return menu_ != nullptr; }
    QMenu* menu() const { return menu_; }

  signals:
    void activated(QPoint at);
    void secondaryActivated(QPoint at);
    void contextMenuRequested(QPoint at);
    // Emitted towards the bus.
    void iconChanged();
    void titleChanged();
    void menuChanged();

  private:
    void registerWithWatcher();

    QDBusConnection bus_;
    QString id_;
    QString title_;
    QString service_;
    QIcon icon_;
    QPointer<QMenu> menu_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QObject* menuWatcher_ = nullptr;
    bool started_ = false;
};

}  // namespace lumora::panel
