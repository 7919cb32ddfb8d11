// The web view plugin: a browser engine view for the Information pane, kept
// out of the tray program until the pane is first shown.

#include <QObject>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "preferences/web_view_plugin.h"

namespace lumora::prefs {

class EngineWebViewPlugin : public QObject, public WebViewPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID LumoraWebViewPlugin_iid)
    Q_INTERFACES(lumora::prefs::WebViewPlugin)

  public:
    QWidget* createView(QWidget* parent, const QUrl& url, bool darkMode) override {
        auto* view = new QWebEngineView(parent);
        // The window's own background shows through the page.
        view->page()->setBackgroundColor(Qt::transparent);
        if (darkMode) {
            // The page defines darkMode() itself; what it returns is of no use here.
            QObject::connect(view, &QWebEngineView::loadFinished, view, [view](bool ok) {
                if (ok) view->page()->runJavaScript(QStringLiteral("darkMode();"));
            });
        }
        view->load(url);
        return view;
    }
};

}  // namespace lumora::prefs

#include "webview_plugin.moc"
