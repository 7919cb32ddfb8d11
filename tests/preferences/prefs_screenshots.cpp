// Draws the settings window's panes offscreen, light and dark, into PNG files
// for docs/, on virtual time: prefs_screenshots OUTPUT_DIR. The connection
// pane is drawn on its own: with an address error, connected securely, and
// offering to trust a software bridge's certificate.

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QLabel>
#include <QPalette>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "app/app_settings.h"
#include "app/linux/launch_at_login.h"
#include "preferences/advanced_pane.h"
#include "preferences/connection_pane.h"
#include "preferences/information_view.h"
#include "preferences/lights_pane.h"
#include "preferences/preferences_window.h"
#include "support/manual_executor.h"
#include "ui/theme.h"

using namespace lumora;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(lumora);
    Q_INIT_RESOURCE(preferences);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    QTemporaryDir config;
    ManualExecutor exec;

    auto store = std::make_shared<InMemoryDefaultsStore>();
    AppSettings settings(store, exec);
    settings.loadFromStore();
    std::vector<HueLight> lights;
    for (auto [id, name] : {std::pair{"1", "Desk lamp"},
                            {"2", "Hallway"},
                            {"3", "Porch"},
                            {"4", "Reading light by the big window in the living room"},
                            {"5", "Kitchen"}}) {
        HueLight l;
        l.lamp_id = id;
        l.unique_id = std::string("00:17:88:01:") + id;
        l.name = name;
        lights.push_back(l);
    }
    settings.setLights(lights);
    store->setBool("hide_light_00:17:88:01:3", true);
    LaunchAtLogin login(config.path().toStdString(), "/usr/bin/lumora");
    login.setEnabled(true);
    const std::string site =
        QUrl::fromLocalFile(LUMORA_SOURCE_RESOURCES "/site/").toString().toStdString();
    auto none = [](const std::string&) {};

    std::vector<prefs::PaneEntry> panes{
        {"general", "Connection", "network-wired", ":/preferences/connection.svg",
         [](QWidget* p) { return new QLabel("(connection)", p); }},
        {"advanced", "Advanced", "preferences-system", ":/preferences/advanced.svg",
         [&](QWidget* p) { return new prefs::AdvancedPane(settings, login, none, none, site, p); }},
        {"lights", "Lights", "format-justify-fill", ":/preferences/lights.svg",
         [&](QWidget* p) { return new prefs::LightsPane(settings, p); }},
        {"hotkeys", "Hotkeys", "input-keyboard", ":/preferences/hotkeys.svg",
         [](QWidget* p) { return new QLabel("(hotkeys)", p); }},
        {"info", "Information", "help-about", ":/preferences/information.svg",
         [&](QWidget* p) { return new prefs::InformationPane(site, none, p); }},
    };
    // Out of the way, so no toolbar button is drawn hovered.
    QCursor::setPos(5000, 5000);
    const QPalette light = QApplication::palette();
    for (bool dark : {false, true}) {
        QApplication::setPalette(dark ? lumora::ui::darkPalette() : light);
        prefs::PreferencesWindow w(panes, *store);
        auto save = [&](QWidget& shown, const QString& name) {
            exec.runPending();
            QApplication::processEvents();
            const QString file =
                QStringLiteral("%1/prefs-%2%3.png").arg(out, name, dark ? "-dark" : "");
            shown.grab().save(file);
            std::printf("%s %dx%d\n", qPrintable(file), shown.width(), shown.height());
        };
        for (const char* id : {"advanced", "lights", "info"}) {
            w.show(id);
            save(w, QString::fromLatin1(id));
        }
        // An address error; connected securely; a software bridge's certificate
        // refused with the offer to trust it.
        for (const char* state : {"address", "secure", "trust"}) {
            const std::string st = state;
            const bool connected = st == "secure";
            AppSettings s(std::make_shared<InMemoryDefaultsStore>(), exec);
            s.setHueIP(st == "address" ? "http://192.168.1.20/api" : "192.168.1.20");
            s.setBridgeConnected(connected);
            if (connected) s.setBridgeLink({BridgeLink::Kind::secure, "c42996fffec4e2d8", false});
            prefs::ConnectionActions a;
            a.version = "1.4.2";
            a.trustCertificate = [](const std::string&) {};
            if (st == "trust") {
                TlsRefusal r;
                r.reason = TlsFailure::untrustedIssuer;
                r.fingerprint =
                    "3F:A1:09:7C:5B:E2:44:D0:18:9E:C3:6A:71:F0:2B:8D:"
                    "55:C9:0E:A7:62:1D:B4:93:E8:07:4F:3C:A2:D6:19:8B";
                s.setConnectionError(
                    {ConnectionProblem::certificateRefused, "192.168.1.20:443", r});
            }
            prefs::ConnectionView view(s, a);
            view.resize(480, 300);
            view.show();
            if (st == "address") {
                // A pasted address with a path: the pane says what is wrong.
                view.configuration()->setConnectionType(1);
                QTest::mouseClick(view.configuration()->formConnectButton(), Qt::LeftButton);
                exec.advance(std::chrono::milliseconds(500));
            }
            view.resize(480, view.heightForWidth(480) > 0 ? view.heightForWidth(480)
                                                          : view.sizeHint().height());
            save(view, st == "address"  ? "connection"
                       : st == "secure" ? "connection-connected"
                                        : "connection-trust");
        }
    }
    return 0;
}
