// The web view plugin for the Information pane. The browser engine itself
// runs in a process of its own (lumora-webview) whose window is placed inside
// the pane: the engine wants a shared GL context made before the application
// starts, which would cost the tray program tens of megabytes from its first
// second, and it goes away again when the pane closes.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <QResizeEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include "preferences/web_view_plugin.h"

namespace lumora::prefs {

namespace {

QString engineProgram() {
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {dir + "/lumora-webview", QDir::cleanPath(dir + "/../lib/lumora/lumora-webview")}) {
        if (QFileInfo(candidate).isExecutable()) return candidate;
    }
    return {};
}

// Holds the engine process's window, taken in once the process names it.
class RemoteWebView : public QWidget {
  public:
    RemoteWebView(QWidget* parent, const QUrl& url, bool darkMode)
        : QWidget(parent), url_(url), dark_(darkMode) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        setMinimumSize(100, 100);
        connect(&process_, &QProcess::readyReadStandardOutput, this, [this] { readLines(); });
    }
    ~RemoteWebView() override { stop(); }

    bool start(const QString& program) {
        // Another process's window cannot let the pane show through, so the
        // page is laid on the pane's own colour.
        QStringList args{QStringLiteral("--size"),
                         QStringLiteral("%1x%2").arg(width()).arg(height()),
                         QStringLiteral("--background"), palette().color(QPalette::Window).name(),
                         url_.toString()};
        if (dark_) args.prepend(QStringLiteral("--dark"));
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, args);
        return process_.waitForStarted(3000);
    }

  protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        // The engine follows the pane's size through its standard input.
        if (process_.state() == QProcess::Running)
            process_.write(QStringLiteral("size %1x%2\n").arg(width()).arg(height()).toUtf8());
    }

  private:
    void readLines() {
        while (process_.canReadLine()) {
            const QByteArray line = process_.readLine().trimmed();
            if (!line.startsWith("window ") || container_) continue;
            bool ok = false;
            const WId id = line.mid(7).toULongLong(&ok);
            QWindow* foreign = ok ? QWindow::fromWinId(id) : nullptr;
            if (!foreign) continue;
            container_ = QWidget::createWindowContainer(foreign, this);
            layout()->addWidget(container_);
            container_->show();
        }
    }

    void stop() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.closeWriteChannel();  // end of input: the engine quits
        if (!process_.waitForFinished(1000)) {
            process_.kill();
            process_.waitForFinished(1000);
        }
    }

    QProcess process_;
    QUrl url_;
    bool dark_ = false;
    QWidget* container_ = nullptr;
};

}  // namespace

class EngineWebViewPlugin : public QObject, public WebViewPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID LumoraWebViewPlugin_iid)
    Q_INTERFACES(lumora::prefs::WebViewPlugin)

  public:
    QWidget* createView(QWidget* parent, const QUrl& url, bool darkMode) override {
        const QString program = engineProgram();
        if (program.isEmpty()) return nullptr;
        auto* view = new RemoteWebView(parent, url, darkMode);
        if (!view->start(program)) {
            delete view;
            return nullptr;
        }
        return view;
    }
};

}  // namespace lumora::prefs

#include "webview_plugin.moc"
