#pragma once
// A scene's name on a soft button that brightens under the pointer.

#include "ui/panel_control.h"

namespace lumora::ui {

class SceneButton : public PressControl {
    Q_OBJECT
  public:
    explicit SceneButton(const QString& sceneName, QWidget* parent = nullptr);
    qreal opacity() const { return opacity_; }
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int w) const override;

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void activate() override { emit clicked(); }

  private:
    QString name_;
    qreal opacity_ = 0.2;
};

}  // namespace lumora::ui
