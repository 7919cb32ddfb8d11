// Draws the settings window's panes offscreen, light and dark, into PNG files
// for docs/, on virtual time: prefs_screenshots OUTPUT_DIR. The connection
// pane is drawn on its own, with an address error and connected.

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
        for (bool connected : {false, true}) {
            AppSettings s(std::make_shared<InMemoryDefaultsStore>(), exec);
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
                exec.advance(std::chrono::milliseconds(500));
            }
            view.resize(480, view.heightForWidth(480) > 0 ? view.heightForWidth(480)
                                                          : view.sizeHint().height());
            save(view, connected ? "connection-connected" : "connection");
        }
    }
    return 0;
}
