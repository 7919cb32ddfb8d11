// The panel's painted controls at twice the scale and in the desktop's
// colours: images drawn at the screen's pixel density, not enlarged, and the
// on state in the palette's accent.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>

#include "ui/icon_button.h"
#include "ui/on_off_button.h"
#include "ui/temperature_bar.h"

namespace lumora::ui {
namespace {

QImage grabbed(QWidget& w) {
    w.show();
    QCoreApplication::processEvents();
    return w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Some 2×2 block of device pixels that is not one colour: detail finer than
// a point, which an image drawn at 1× and enlarged cannot have.
bool hasDevicePixelDetail(const QImage& img) {
    for (int y = 0; y + 1 < img.height(); y += 2) {
        for (int x = 0; x + 1 < img.width(); x += 2) {
            const QRgb a = img.pixel(x, y);
            if (img.pixel(x + 1, y) != a || img.pixel(x, y + 1) != a ||
                img.pixel(x + 1, y + 1) != a)
                return true;
        }
    }
    return false;
}

bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 8 && std::abs(a.green() - b.green()) < 8 &&
           std::abs(a.blue() - b.blue()) < 8;
}

TEST(HighDpi, ImagesAreDrawnAtTheScreensDensity) {
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0);
    // Tinted (drawn into an image first) and as it is (drawn straight).
    for (bool tint : {true, false}) {
        IconButton gear(QStringLiteral(":/panel/gear.svg"), {14, 14}, 1.0, tint);
        const QImage img = grabbed(gear);
        EXPECT_EQ(img.size(), QSize(32, 32)) << tint;
        EXPECT_TRUE(hasDevicePixelDetail(img)) << "tint " << tint;
    }
    TemperatureBar bar;
    bar.resize(180, 14);
    const QImage strip = grabbed(bar);
    EXPECT_EQ(strip.width(), 360);
    EXPECT_TRUE(hasDevicePixelDetail(strip));
}

TEST(Theme, OnTakesTheDesktopsAccent) {
    for (QColor accent : {QColor(200, 30, 120), QColor(20, 160, 90)}) {
        QPalette pal = QApplication::palette();
        pal.setColor(QPalette::Highlight, accent);
        pal.setColor(QPalette::HighlightedText, Qt::white);
        OnOffButton on;
        on.setPalette(pal);
        on.setOn(true);
        const QImage img = grabbed(on);
        // The pill's left end, clear of its text and its rounded corner.
        EXPECT_TRUE(near(img.pixelColor(4 * 2, 7 * 2), accent))
            << img.pixelColor(8, 14).name().toStdString() << " for " << accent.name().toStdString();
        on.setOn(false);
        EXPECT_FALSE(near(grabbed(on).pixelColor(4 * 2, 7 * 2), accent));
    }
}

}  // namespace
}  // namespace lumora::ui

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(views_resources);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
