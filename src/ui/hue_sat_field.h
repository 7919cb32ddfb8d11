#pragma once
// The hue and saturation field: 24 strips of hue across and saturation down.

#include <QColor>
#include <QImage>
#include <cstdint>

#include "ui/panel_control.h"

namespace lumora::ui {

// A colour as hue in degrees and saturation and brightness in percent.
struct ColorInfo {
    int hue = 0;
    int saturation = 0;
    int brightness = 0;
    QColor color() const {
        return QColor::fromHsvF(hue / 360.0, saturation / 100.0, brightness / 100.0, 1.0);
    }
    bool operator==(const ColorInfo&) const = default;
};

class HueSatField : public PanelControl {
    Q_OBJECT
  public:
    explicit HueSatField(QWidget* parent = nullptr);
    static std::int64_t hueAt(double x);
    static std::int64_t saturationAt(double y);
    // The point of the current colour; arrow keys move on from there.
    QPointF point() const { return keyPoint_; }
    void setPoint(const QPointF& p);
    QSize sizeHint() const override { return {180, 50}; }

  signals:
    void picked(std::int64_t hue, std::int64_t saturation);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void resizeEvent(QResizeEvent*) override;

  private:
    void pick(const QPointF& p);
    QImage strips_;
    QPointF keyPoint_{90, 25};
};

}  // namespace lumora::ui
