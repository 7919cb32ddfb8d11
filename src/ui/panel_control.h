#pragma once
// Base of the hand-painted controls: focusable, with a focus ring that shows
// only for focus the keyboard moved; and of those pressed like a button.

#include <QWidget>

class QPainter;

namespace lumora::ui {

class PanelControl : public QWidget {
    Q_OBJECT
  public:
    explicit PanelControl(QWidget* parent = nullptr);
    // Focused, and reached by the keyboard.
    bool showsFocusRing() const { return hasFocus() && keyboardFocus_; }

  protected:
    // The colour bars compute on a 180-point scale; the bar may be narrower
    // (beside a scroll bar), and its right end must still be the scale's.
    double onScale(double x) const { return width() > 0 ? x * 180.0 / width() : x; }
    void drawFocusRing(QPainter& p, const QRectF& r, qreal radius);
    void focusInEvent(QFocusEvent* e) override;

  private:
    // The ring shows for focus moved by the keyboard, not for clicks.
    bool keyboardFocus_ = false;
};

// Pressed by a left click released inside it, or by Space or Enter.
class PressControl : public PanelControl {
    Q_OBJECT
  public:
    using PanelControl::PanelControl;

  protected:
    // The press; each control reports it with its own signal.
    virtual void activate() = 0;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
};

}  // namespace lumora::ui
