#pragma once
// The colour-temperature strip; reports the release position.

#include <cstdint>

#include "ui/panel_control.h"

namespace lumora::ui {

class TemperatureBar : public PanelControl {
    Q_OBJECT
  public:
    explicit TemperatureBar(QWidget* parent = nullptr);
    // Positions are on a 180-point scale, the bar's width in the panel
    // without a scroll bar; a pointer on a narrower bar is scaled to it.
    static constexpr double kWidth = 180;
    static constexpr double kKeyStep = 9;  // an arrow key's move
    static std::int64_t temperatureAt(double x, std::int64_t ctMin, std::int64_t ctMax);
    // Where the current temperature sits; arrow keys move on from there.
    double position() const { return keyX_; }
    void setPosition(double x);
    // The user picked the point at x: set and reported.
    void choose(double x);
    QSize sizeHint() const override { return {180, 14}; }

  signals:
    void released(double x);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

  private:
    double keyX_ = 90;
};

}  // namespace lumora::ui
