// lumora-webview: the browser engine of the Information pane, in a process of
// its own. It prints "window ID" for the pane to take its window in, follows
// "size WxH" lines on standard input and quits at the end of its input, that
// is when the pane closes or the tray program goes away.

#include <unistd.h>

#include <QApplication>
#include <QColor>
#include <QSocketNotifier>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool dark = false;
    QSize size(450, 300);
    QUrl url;
    QColor background(Qt::transparent);
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--dark") {
            dark = true;
        } else if (args[i] == "--background" && i + 1 < args.size()) {
            background = QColor(args[++i]);
        } else if (args[i] == "--size" && i + 1 < args.size()) {
            const QStringList wh = args[++i].split('x');
            if (wh.size() == 2) size = QSize(wh[0].toInt(), wh[1].toInt());
        } else {
            url = QUrl(args[i]);
        }
    }
    if (!url.isValid()) {
        std::fprintf(stderr,
                     "usage: lumora-webview [--dark] [--size WxH] [--background COLOUR] URL\n");
        return 2;
    }

    QWebEngineView view;
    // The page lies on the pane's colour.
    view.page()->setBackgroundColor(background);
    if (dark) {
        // The page defines darkMode() itself; what it returns is of no use here.
        QObject::connect(&view, &QWebEngineView::loadFinished, &view, [&view](bool ok) {
            if (ok) view.page()->runJavaScript(QStringLiteral("darkMode();"));
        });
    }
    // Shown far off screen until the pane takes the window in, so nothing
    // flashes at the corner of the screen.
    view.setGeometry(QRect(QPoint(-10000, -10000), size));
    view.load(url);
    view.show();
    std::printf("window %llu\n", static_cast<unsigned long long>(view.winId()));
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buf[256];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf - 1);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        buf[n] = 0;
        int w = 0, h = 0;
        if (std::sscanf(buf, "size %dx%d", &w, &h) == 2 && w > 0 && h > 0) view.resize(w, h);
    });
    return QApplication::exec();
}
