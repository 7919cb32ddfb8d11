#pragma once
// The connection pane's small parts: a link-like line of text, and the
// picture of the bridge's link button being pressed.

#include <QPushButton>
#include <QWidget>
#include <array>
#include <chrono>
#include <memory>

#include "base/dispatch.h"

class QSvgRenderer;

namespace lumora::prefs {

// A line of text that acts like a link: flat, no frame, a pointing hand.
class LinkLabel : public QPushButton {
    Q_OBJECT
  public:
    explicit LinkLabel(QWidget* parent = nullptr);
    void setColor(const QColor& color);
};

// The link button being pressed: two frames, one second each, ticking only
// while it is on screen.
class LinkExplainer : public QWidget {
    Q_OBJECT
  public:
    static constexpr auto kPeriod = std::chrono::milliseconds(1000);

    // The frames change on `dispatcher`'s timer, which must outlive this widget.
    explicit LinkExplainer(Dispatcher& dispatcher, QWidget* parent = nullptr);
    ~LinkExplainer() override;

    int imageIndex() const { return imageIndex_; }
    bool isTicking() const {
        auto t = timer_.lock();
        return t && t->isValid();
    }
    // ":/lumora/preferences/link_0.svg" for 0, and so on.
    static QString imageName(int index);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

  private:
    Dispatcher& dispatcher_;
    int imageIndex_ = 0;
    std::weak_ptr<RepeatingTimer> timer_;
    std::array<QSvgRenderer*, 2> frames_{};
};

}  // namespace lumora::prefs
