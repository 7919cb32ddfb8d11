// The floor Lumora is measured against: a Qt tray icon with a menu and
// nothing else. Prints when its event loop runs, as lumora does.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>
#include <ctime>

static double monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
    const double started = monotonicMs();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap pm(22, 22);
    pm.fill(Qt::transparent);
    {
        QPainter p(&pm);
        p.setBrush(Qt::gray);
        p.drawEllipse(3, 3, 16, 16);
    }
    QSystemTrayIcon icon{QIcon(pm)};
    QMenu menu;
    menu.addAction(QStringLiteral("Quit"), &app, &QApplication::quit);
    icon.setContextMenu(&menu);
    icon.show();
    QTimer::singleShot(0, [started] {
        std::fprintf(stderr, "bare-tray: event loop running %.1f ms after start (t=%.3f)\n",
                     monotonicMs() - started, monotonicMs());
    });
    return QApplication::exec();
}
