// Saves the connection pane as docs shows it: with an address error and
// connected, in the light and the dark scheme. Offscreen, on virtual time:
//   lumora_pane_screenshots DIR

#include <QApplication>
#include <QStyle>
#include <QTest>
#include <cstdio>

#include "panel/views/palette.h"
#include "preferences/connection_pane.h"
#include "support/manual_executor.h"

static int saveScreenshots(const QString& dir) {
    using namespace lumora;
    auto exec = std::make_shared<ManualExecutor>();
    QApplication::setStyle(QStringLiteral("Fusion"));
    for (bool dark : {false, true}) {
        QPalette p = QApplication::style()->standardPalette();
        if (dark) p = lumora::panel::darkPalette();
        QApplication::setPalette(p);
        for (bool connected : {false, true}) {
            NotificationCenter center;
            AppSettings s(std::make_shared<InMemoryDefaultsStore>(), center, *exec);
            s.setHueIP("http://192.168.1.20/api");
            s.setBridgeConnected(connected);
            prefs::ConnectionActions a;
            a.version = "1.4.2";
            prefs::ConnectionView view(s, a);
            view.resize(480, 300);
            view.show();
            if (!connected) {
                // A pasted address with a path: the pane says what is wrong.
                view.configuration()->setConnectionType(1);
                QTest::mouseClick(view.configuration()->formConnectButton(), Qt::LeftButton);
                exec->advance(std::chrono::milliseconds(500));
            }
            view.resize(480, view.heightForWidth(480) > 0 ? view.heightForWidth(480)
                                                          : view.sizeHint().height());
            QCoreApplication::processEvents();
            const QString name = QStringLiteral("%1/prefs-connection%2%3.png")
                                     .arg(dir, connected ? "-connected" : "", dark ? "-dark" : "");
            if (!view.grab().save(name)) return 1;
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumora_pane_screenshots DIR\n");
        return 2;
    }
    return saveScreenshots(QString::fromLocal8Bit(argv[1]));
}
