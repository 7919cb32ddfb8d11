#pragma once
// The welcome window's animation: 63 frames of a room whose lamp comes on,
// played at about 14 frames a second, the last one held for 30 ticks.

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <array>

namespace lumora {

class ImagePlayer : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kFrames = 63;
    static constexpr int kTickMilliseconds = 70;
    static constexpr int kHoldTicks = 30;

    explicit ImagePlayer(int imageIndex = 0, int resetDelay = 0, QWidget* parent = nullptr);

    int imageIndex() const { return imageIndex_; }
    int resetDelay() const { return resetDelay_; }
    bool isTicking() const { return timer_.isActive(); }
    // One tick of the animation clock.
    void tick();
    // Frame `index` ("frame_00" … "frame_62"), drawn on first use.
    const QPixmap& frame(int index);
    static QString frameName(int index);

    QSize sizeHint() const override { return {320, 180}; }

  protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

  private:
    int imageIndex_;
    int resetDelay_;
    QTimer timer_;
    std::array<QPixmap, kFrames> frames_;
};

}  // namespace lumora
