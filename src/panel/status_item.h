#pragma once
// The tray icon: one of the four lamp images, left and right clicks, and
// where the tray put it. Works with XEmbed trays (which tell the icon's
// geometry) and StatusNotifierItem hosts (which do not).

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <optional>

namespace lumora::panel {

class StatusItem : public QObject {
    Q_OBJECT
  public:
    explicit StatusItem(QObject* parent = nullptr);

    // "Icon_Lamp0" … "Icon_Lamp3"; anything else shows the first.
    void setImage(const QString& name);
    // Shows the icon now or, with no tray running, as soon as one appears
    // (saying so once on standard error).
    void show();
    // The icon's rectangle; none where the tray does not tell it.
    std::optional<QRect> geometry() const;
    QSystemTrayIcon& icon() { return icon_; }

    // The resource path of an image for a panel of this darkness.
    static QString imagePath(const QString& name, bool darkPanel);

  signals:
    void leftClicked();
    // Right click, or a left click with Control held.
    void rightClicked();

  private:
    QSystemTrayIcon icon_;
    QTimer waitForTray_;
    QString image_;
};

}  // namespace lumora::panel
