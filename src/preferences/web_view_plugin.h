#pragma once
// The web view of the Information pane lives in a plugin, loaded the first
// time it is needed, so that the tray program does not carry a browser
// engine in memory from the start.

#include <QtPlugin>

class QUrl;
class QWidget;

namespace lumora::prefs {

class WebViewPlugin {
  public:
    virtual ~WebViewPlugin() = default;
    // A view that loads `url` with its own background off, lets every link
    // open inside it, and runs the page's "darkMode();" after each finished
    // load when `darkMode` is true.
    virtual QWidget* createView(QWidget* parent, const QUrl& url, bool darkMode) = 0;
};

}  // namespace lumora::prefs

#define LumoraWebViewPlugin_iid "org.lumora.WebViewPlugin/1"
Q_DECLARE_INTERFACE(lumora::prefs::WebViewPlugin, LumoraWebViewPlugin_iid)
