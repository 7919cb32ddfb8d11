#pragma once
// The panel's small controls, painted by hand to the panel's measures:
// on/off button, slider, colour-temperature bar, hue and saturation field,
// scene button, section header, tab, image button.

#include <QColor>
#include <QFont>
#include <QWidget>
#include <functional>

namespace lumora::panel {

// The scheme the panel draws in, from the application's palette.
bool isDarkScheme(const QWidget* w);
// The desktop's font at a pixel size (points here are logical pixels).
QFont panelFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// Text colour of the scheme (white or black) at an opacity.
QColor ink(bool dark, qreal opacity);
QColor grey(qreal level, qreal opacity = 1.0);

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

// Base of the focusable controls: Space and Enter press, a focus ring.
class PanelControl : public QWidget {
    Q_OBJECT
  public:
    explicit PanelControl(QWidget* parent = nullptr);
    // Focused, and reached by the keyboard.
    bool showsFocusRing() const { return hasFocus() && keyboardFocus_; }

  protected:
    void drawFocusRing(QPainter& p, const QRectF& r, qreal radius);
    void focusInEvent(QFocusEvent* e) override;

  private:
    // The ring shows for focus moved by the keyboard, not for clicks.
    bool keyboardFocus_ = false;
};

class OnOffButton : public PanelControl {
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
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

  private:
    bool on_ = false;
};

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

// The colour-temperature strip; reports the release position.
class TemperatureBar : public PanelControl {
    Q_OBJECT
  public:
    explicit TemperatureBar(QWidget* parent = nullptr);
    // The bar is taken to be 180 points wide, as it is in the panel.
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

// 24 strips of hue across and saturation down.
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

class SceneButton : public PanelControl {
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
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

  private:
    QString name_;
    qreal opacity_ = 0.2;
};

class SectionHeaderLabel : public QWidget {
    Q_OBJECT
  public:
    explicit SectionHeaderLabel(const QString& text, QWidget* parent = nullptr);
    QString text() const { return text_; }
    QSize sizeHint() const override { return {190, 20}; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QString text_;
};

// One of the LIGHTS/ROOMS tabs.
class PanelTab : public PanelControl {
    Q_OBJECT
  public:
    PanelTab(const QString& label, QWidget* parent = nullptr);
    void setSelected(bool selected);
    bool isSelected() const { return selected_; }
    QSize sizeHint() const override { return {90, 20}; }

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

  private:
    QString label_;
    bool selected_ = false;
};

// An image drawn in the text colour (or as it is), pressed like a button.
class IconButton : public PanelControl {
    Q_OBJECT
  public:
    IconButton(const QString& resource, QSize size, qreal opacity, bool tint,
               QWidget* parent = nullptr);
    QSize sizeHint() const override { return size_ + QSize(2, 2); }

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

  private:
    QString resource_;
    QSize size_;
    qreal opacity_;
    bool tint_;
};

}  // namespace lumora::panel
