#pragma once
// The tray icon: one of the four lamp images, left and right clicks, and
// where the tray put it. Where a StatusNotifierWatcher is on the session bus
// the icon is a StatusNotifierItem of our own, whose host says where each
// click was; elsewhere Qt's tray icon in an XEmbed tray, which tells the
// icon's rectangle.

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>
#include <optional>

class QMenu;

namespace lumora::panel {

class StatusNotifierItem;

class StatusItem : public QObject {
    Q_OBJECT
  public:
    explicit StatusItem(QObject* parent = nullptr);
    ~StatusItem() override;

    // "Icon_Lamp0" … "Icon_Lamp3"; anything else shows the first.
    void setImage(const QString& name);
    // The menu a host that draws menus itself shows (StatusNotifierItem).
    void setMenu(QMenu* menu);
    // Shows the icon now or, with no tray running, as soon as one appears
    // (saying so once on standard error).
    void show();
    // The icon's rectangle where the tray tells it (XEmbed).
    std::optional<QRect> iconGeometry() const;
    // Where the host last said a click on the icon was (StatusNotifierItem).
    std::optional<QPoint> lastPoint() const { return lastPoint_; }
    // The icon's rectangle, else a one-pixel one at the last point; none
    // before either is known.
    std::optional<QRect> geometry() const;
    // True once the icon is a StatusNotifierItem of ours.
    bool isNotifierItem() const { return notifier_ != nullptr; }
    StatusNotifierItem* notifierItem() const { return notifier_.get(); }
    QSystemTrayIcon& icon() { return icon_; }

    // The resource path of an image for a panel of this darkness.
    static QString imagePath(const QString& name, bool darkPanel);

  signals:
    // With the point a StatusNotifierItem host passed; none from an XEmbed
    // tray (its rectangle is in geometry()).
    void leftClicked(std::optional<QPoint> at);
    // Right click, or a left click with Control held.
    void rightClicked(std::optional<QPoint> at);
    // The icon became a StatusNotifierItem.
    void becameNotifierItem();

  private:
    // A StatusNotifierItem where a watcher is on the session bus; false
    // where there is none or the bus refused.
    bool startNotifierItem();

    QSystemTrayIcon icon_;
    std::unique_ptr<StatusNotifierItem> notifier_;
    QPointer<QMenu> menu_;
    QTimer waitForTray_;
    QString image_;
    std::optional<QPoint> lastPoint_;
};

}  // namespace lumora::panel
