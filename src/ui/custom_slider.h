#pragma once
// The brightness slider: a rounded bar filled to its value.

#include "ui/panel_control.h"

namespace lumora::ui {

class CustomSlider : public PanelControl {
    Q_OBJECT
  public:
    explicit CustomSlider(QWidget* parent = nullptr);
    // 0…1.
    void setValue(double v);
    double value() const { return value_; }
    // What an arrow key moves it by (0…1).
    void setKeyStep(double step) { keyStep_ = step; }
    double keyStep() const { return keyStep_; }
    // Moves it as a drag would: set, then reported.
    void setValueByUser(double v);
    void stepBy(int steps) { setValueByUser(value_ + steps * keyStep_); }
    QSize sizeHint() const override { return {120, 16}; }

  signals:
    // Each press, move, release and arrow key reports the new value.
    void moved(double value);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

  private:
    void report(double x);
    double value_ = 0;
    double keyStep_ = 0.05;
};

}  // namespace lumora::ui
