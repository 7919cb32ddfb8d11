#pragma once
// An image drawn in the text colour (or as it is), pressed like a button.

#include "ui/panel_control.h"

namespace lumora::ui {

class IconButton : public PressControl {
    Q_OBJECT
  public:
    IconButton(const QString& resource, QSize size, qreal opacity, bool tint,
               QWidget* parent = nullptr);
    QSize sizeHint() const override { return size_ + QSize(2, 2); }

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent*) override;
    void activate() override { emit clicked(); }

  private:
    QString resource_;
    QSize size_;
    qreal opacity_;
    bool tint_;
};

}  // namespace lumora::ui
