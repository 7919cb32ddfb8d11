// The panel's painted controls at twice the scale and in the desktop's
// colours: images drawn at the screen's pixel density, not enlarged, and the
// on state in amber whatever the palette.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>

#include "ui/icon_button.h"
#include "ui/on_off_button.h"
#include "ui/temperature_bar.h"
#include "ui/theme.h"

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

// Whether some pixel of the pill (inside its frame) is near `ink`: its text.
bool hasInk(const QImage& img, QColor ink) {
    for (int y = 4; y < 24; ++y) {
        for (int x = 4; x < 60; ++x) {
            if (near(img.pixelColor(x, y), ink)) return true;
        }
    }
    return false;
}

// On is amber with black text, light = on, whatever the desktop's accent and
// scheme; off is grey 0.1 with white text.
TEST(Theme, OnIsAmberWithBlackTextInEveryScheme) {
    const QColor amber = QColor::fromRgbF(1.0, 191 / 255.0, 0);
    for (bool dark : {false, true}) {
        QPalette pal = dark ? darkPalette() : QApplication::palette();
        pal.setColor(QPalette::Highlight, dark ? QColor(20, 160, 90) : QColor(200, 30, 120));
        pal.setColor(QPalette::HighlightedText, Qt::white);
        OnOffButton button;
        button.setPalette(pal);
        button.setOn(true);
        QImage img = grabbed(button);
        // The pill's left end, clear of its text and its rounded corner.
        EXPECT_TRUE(near(img.pixelColor(4 * 2, 7 * 2), amber))
            << img.pixelColor(8, 14).name().toStdString() << " dark " << dark;
        EXPECT_TRUE(hasInk(img, Qt::black)) << "dark " << dark;
        EXPECT_FALSE(hasInk(img, Qt::white)) << "dark " << dark;
        button.setOn(false);
        img = grabbed(button);
        EXPECT_TRUE(near(img.pixelColor(4 * 2, 7 * 2), QColor::fromRgbF(0.1, 0.1, 0.1)));
        EXPECT_TRUE(hasInk(img, Qt::white)) << "dark " << dark;
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
