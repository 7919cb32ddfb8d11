#include "preferences/information_view.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPluginLoader>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>

#include "preferences/site_pages.h"
#include "preferences/web_view_plugin.h"
#include "ui/theme.h"

namespace lumora::prefs {

namespace {

QStringList pluginCandidates() {
    const QString named = qEnvironmentVariable("LUMORA_WEBVIEW_PLUGIN");
    if (!named.isEmpty()) return {named};
    const QString dir = QCoreApplication::applicationDirPath();
    // Beside the program in a build folder; under lib/lumora when installed.
    return {dir + "/liblumora_webview.so",
            QDir::cleanPath(dir + "/../lib/lumora/liblumora_webview.so")};
}

QLabel* linkLabel(const QString& text, const QString& href, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setText(
        QStringLiteral("<a href=\"%1\">%2</a>").arg(href.toHtmlEscaped(), text.toHtmlEscaped()));
    l->setTextFormat(Qt::RichText);
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    l->setOpenExternalLinks(false);
    return l;
}

}  // namespace

WebViewPlugin* webViewPlugin() {
    static WebViewPlugin* plugin = []() -> WebViewPlugin* {
        // The web engine refuses to run as root without its sandbox and takes
        // the whole program down; as root the page opens in the browser
        // unless the sandbox was switched off on purpose.
        if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
            std::fprintf(stderr,
                         "lumora: no web view when running as root, the information page opens in "
                         "the browser\n");
            return nullptr;
        }
        QString reasons;
        for (const QString& file : pluginCandidates()) {
            if (!QFileInfo::exists(file)) continue;
            // The loader stays for the life of the process: the views it
            // makes need the library to stay mapped.
            auto* loader = new QPluginLoader(file, QCoreApplication::instance());
            if (auto* p = qobject_cast<WebViewPlugin*>(loader->instance())) return p;
            reasons += loader->errorString() + "; ";
        }
        if (!reasons.isEmpty())
            std::fprintf(stderr,
                         "lumora: the web view will not load (%s), the information page opens in "
                         "the browser\n",
                         qPrintable(reasons));
        return nullptr;
    }();
    return plugin;
}

InformationView::InformationView(const std::string& siteBase,
                                 std::function<void(const std::string&)> openURL, QWidget* parent)
    : QWidget(parent),
      link_(informationPageAddress(siteBase, std::chrono::system_clock::now(), LUMORA_VERSION)),
      openURL_(std::move(openURL)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    const QString address = QString::fromStdString(link_);
    if (WebViewPlugin* plugin = webViewPlugin()) {
        webView_ = plugin->createView(this, QUrl(address), ui::isDarkScheme(this));
    }
    if (webView_) {
        column->addWidget(webView_, 1);
    } else {
        column->addStretch(1);
        auto* about = new QLabel(tr("The information page opens in your browser:"), this);
        about->setAlignment(Qt::AlignCenter);
        column->addWidget(about);
        // Shown short; the address itself is long and changes every time.
        addressLink_ =
            linkLabel(QString::fromStdString(sitePage(siteBase, "app_view")), address, this);
        addressLink_->setAlignment(Qt::AlignCenter);
        addressLink_->setWordWrap(true);
        connect(addressLink_, &QLabel::linkActivated, this, [this](const QString& href) {
            if (openURL_) openURL_(href.toStdString());
        });
        column->addWidget(addressLink_);
        column->addStretch(1);
    }
    donation_ = linkLabel(tr("Want to help? A coffee is always appreciated."),
                          QString::fromStdString(sitePage(siteBase, "donate")), this);
    donation_->setAlignment(Qt::AlignCenter);
    connect(donation_, &QLabel::linkActivated, this, [this](const QString& href) {
        if (openURL_) openURL_(href.toStdString());
    });
    column->addWidget(donation_);
}

InformationPane::InformationPane(const std::string& siteBase,
                                 std::function<void(const std::string&)> openURL, QWidget* parent)
    : QWidget(parent) {
    setFixedWidth(450);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    view_ = new InformationView(siteBase, std::move(openURL), this);
    view_->setFixedHeight(300);
    column->addWidget(view_, 0, Qt::AlignHCenter);
    view_->setMinimumWidth(410);
}

}  // namespace lumora::prefs
