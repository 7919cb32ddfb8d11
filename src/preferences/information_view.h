#pragma once
// The Information pane: the in-program information page in a web view, and
// below it the donation link. Without the web view plugin the page's
// address is offered as a link to the browser instead.

#include <QString>
#include <QWidget>
#include <functional>
#include <string>

class QLabel;

namespace lumora::prefs {

class WebViewPlugin;

// Finds and loads the web view plugin once per process; null when it is not
// installed or will not load (the reason goes to standard error once).
// $LUMORA_WEBVIEW_PLUGIN names the file to load instead of the usual places.
WebViewPlugin* webViewPlugin();

class InformationView : public QWidget {
    Q_OBJECT
  public:
    // `siteBase` is the product site ending in "/"; `openURL` opens an
    // address in the default browser.
    InformationView(const std::string& siteBase, std::function<void(const std::string&)> openURL,
                    QWidget* parent = nullptr);

    // The address built at creation.
    const std::string& link() const { return link_; }
    // The web view, or null when the address link stands in for it.
    QWidget* webView() const { return webView_; }
    QLabel* addressLink() const { return addressLink_; }
    QLabel* donationLink() const { return donation_; }

  private:
    std::string link_;
    std::function<void(const std::string&)> openURL_;
    QWidget* webView_ = nullptr;
    QLabel* addressLink_ = nullptr;
    QLabel* donation_ = nullptr;
};

// The pane: the view in a frame 300 points high, centred in the settings width.
class InformationPane : public QWidget {
    Q_OBJECT
  public:
    InformationPane(const std::string& siteBase, std::function<void(const std::string&)> openURL,
                    QWidget* parent = nullptr);
    InformationView* view() const { return view_; }

  private:
    InformationView* view_;
};

}  // namespace lumora::prefs
