#pragma once
// The ON/OFF switch of a light or room row.

#include "ui/panel_control.h"

namespace lumora::ui {

class OnOffButton : public PressControl {
    Q_OBJECT
  public:
    explicit OnOffButton(QWidget* parent = nullptr);
    void setOn(bool on);
    bool isOn() const { return on_; }
    QSize sizeHint() const override { return {32, 14}; }

  signals:
    void pressed();

  protected:
    void paintEvent(QPaintEvent*) override;
    void activate() override { emit pressed(); }

  private:
    bool on_ = false;
};

}  // namespace lumora::ui
