// The program in German and French: the translations load for a locale and
// are complete, the core's problems and texts come out translated, and the longer
// texts still fit the 200-point panel and the settings panes.

#include "ui/translations.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSet>
#include <QTemporaryDir>
#include <QToolBar>
#include <QVBoxLayout>
#include <QXmlStreamReader>

#include "app/hotkey_actions.h"
#include "app/linux/launch_at_login.h"
#include "panel/views/content_view.h"
#include "panel/views/panel_controls.h"
#include "panel/views/panel_lists.h"
#include "preferences/advanced_pane.h"
#include "preferences/connection_pane.h"
#include "preferences/debug_view.h"
#include "preferences/hotkeys_pane.h"
#include "preferences/information_view.h"
#include "preferences/lights_pane.h"
#include "preferences/preferences_window.h"
#include "preferences/welcome_view.h"
#include "support/accessible_tree.h"
#include "support/controller_fixture.h"
#include "support/qt_test_main.h"
#include "support/settings_panes.h"

namespace lumora::panel {
namespace {

using ui::connectionErrorText;
using ui::installTranslations;
using ui::kShortcutTextContext;
using ui::removeTranslations;
using ui::translatedCoreText;

QString tr(const char* context, const char* english) {
    return QCoreApplication::translate(context, english);
}

class Translations : public ::testing::Test {
  protected:
    void TearDown() override { removeTranslations(); }
};

TEST_F(Translations, LoadForTheLanguageOfTheLocaleAndNotForEnglish) {
    EXPECT_EQ(installTranslations(QLocale(QStringLiteral("en_GB"))), 0);
    EXPECT_EQ(tr("lumora::panel::ContentView", "LIGHTS"), "LIGHTS");

    // A region the files do not name still gets its language.
    EXPECT_GE(installTranslations(QLocale(QStringLiteral("de_AT"))), 1);
    EXPECT_EQ(tr("lumora::panel::ContentView", "LIGHTS"), "LAMPEN");
    EXPECT_EQ(tr("lumora::panel::QtShell", "Quit Lumora"), "Lumora beenden");
    // Qt's own texts (the message box's buttons) come along where the
    // system has them.
    if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_de.qm")) {
        EXPECT_EQ(installTranslations(QLocale(QStringLiteral("de_AT"))), 2);
        EXPECT_EQ(tr("QPlatformTheme", "Cancel"), "Abbrechen");
    }

    // Switching replaces the German one rather than stacking on it.
    EXPECT_GE(installTranslations(QLocale(QStringLiteral("fr_CA"))), 1);
    EXPECT_EQ(tr("lumora::panel::QtShell", "Quit Lumora"), "Quitter Lumora");

    removeTranslations();
    EXPECT_EQ(tr("lumora::panel::QtShell", "Quit Lumora"), "Quit Lumora");
}

TEST_F(Translations, CoreProblemsAndTextsAreTranslatedWithTheirArgument) {
    installTranslations(QLocale(QStringLiteral("de_DE")));
    EXPECT_EQ(connectionErrorText({}), "");
    // The typed address sits in the middle of the sentence; a long paste is cut.
    EXPECT_TRUE(connectionErrorText({ConnectionProblem::invalidAddress, " 10.0.0.1/api x "})
                    .startsWith(QStringLiteral("„10.0.0.1/api x“ ist keine Bridge-Adresse")));
    // A refused certificate names what failed, with its details.
    TlsRefusal other;
    other.reason = TlsFailure::wrongBridge;
    other.expected = "001788fffe000001";
    other.got = "001788FFFE0000FF";
    const QString wrong = connectionErrorText(
        {ConnectionProblem::certificateRefused, "bridge." + std::string(60, 'b'), other});
    EXPECT_TRUE(wrong.contains("001788fffe000001") && wrong.contains("001788FFFE0000FF") &&
                wrong.contains(QString(39, 'b') + QChar(0x2026)) && wrong.contains("andere Bridge"))
        << wrong.toStdString();
    // Every problem, and every kind of refusal, has its words in both languages.
    std::vector<ConnectionError> errors;
    for (auto problem : {ConnectionProblem::pressLinkButton, ConnectionProblem::unreachable,
                         ConnectionProblem::noUserName, ConnectionProblem::noAddress,
                         ConnectionProblem::invalidAddress, ConnectionProblem::plainAfterSecure})
        errors.push_back({problem, "x"});
    for (auto reason : {TlsFailure::untrustedIssuer, TlsFailure::wrongBridge, TlsFailure::wrongHost,
                        TlsFailure::expired, TlsFailure::notYetValid, TlsFailure::notForServer,
                        TlsFailure::fingerprintMismatch, TlsFailure::handshakeFailed}) {
        TlsRefusal r;
        r.reason = reason;
        errors.push_back({ConnectionProblem::certificateRefused, "x", r});
    }
    for (const char* language : {"de_DE", "fr_FR"}) {
        installTranslations(QLocale(QString::fromLatin1(language)));
        for (const ConnectionError& error : errors) {
            const auto problem = error.problem;
            const QString shown = connectionErrorText(error);
            removeTranslations();
            EXPECT_NE(shown, connectionErrorText(error)) << language << " " << int(problem);
            installTranslations(QLocale(QString::fromLatin1(language)));
        }
    }
    installTranslations(QLocale(QStringLiteral("de_DE")));
    const QString menu = translatedCoreText(
        kShortcutTextContext, "This shortcut is already used by the menu item \u201CQuit\u201D.");
    EXPECT_EQ(menu, "Dieses Tastenkürzel wird bereits vom Menüeintrag „Quit“ verwendet.");
    // A context holds only its own texts; what is unknown stays as it came.
    EXPECT_EQ(translatedCoreText(kShortcutTextContext, "No bridge address given."),
              "No bridge address given.");
    EXPECT_EQ(translatedCoreText(kShortcutTextContext, ""), "");
    // A text that only shares the template's ends is not taken for it.
    EXPECT_EQ(translatedCoreText(kShortcutTextContext,
                                 "This shortcut is already used by the "
                                 "menu item \u201C."),
              "This shortcut is already used by the menu item \u201C.");
}

// Every entry of both files finished, with the placeholders of its source.
TEST_F(Translations, FilesAreCompleteAndKeepTheirPlaceholders) {
    const QRegularExpression placeholder(QStringLiteral("%\\d"));
    auto placeholders = [&](const QString& s) {
        QSet<QString> out;
        for (auto it = placeholder.globalMatch(s); it.hasNext();) out.insert(it.next().captured());
        return out;
    };
    for (const char* language : {"de", "fr"}) {
        QFile file(QStringLiteral(LUMORA_TRANSLATIONS_DIR "/lumora_%1.ts").arg(language));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        QXmlStreamReader xml(&file);
        int messages = 0;
        QString source;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                ++messages;
                const QString type = xml.attributes().value(QLatin1String("type")).toString();
                const QString text = xml.readElementText();
                EXPECT_TRUE(type.isEmpty())
                    << language << ": " << type.toStdString() << ": " << source.toStdString();
                EXPECT_FALSE(text.trimmed().isEmpty()) << language << ": " << source.toStdString();
                EXPECT_EQ(placeholders(text), placeholders(source))
                    << language << ": " << source.toStdString() << " -> " << text.toStdString();
            }
        }
        EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
        EXPECT_GT(messages, 100) << language;
    }
}

// ---- Layout in each language ---------------------------------------------------

std::string describe(const QWidget* w) {
    QString text;
    if (auto* l = qobject_cast<const QLabel*>(w)) text = l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
    return (QString::fromLatin1(w->metaObject()->className()) + " \"" + text.left(60) + "\" " +
            QStringLiteral("%1x%2").arg(w->width()).arg(w->height()))
        .toStdString();
}

// Inner parts of compound controls lie over each other by design.
bool isCompound(const QWidget* w) {
    return qobject_cast<const QComboBox*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QToolBar*>(w);
}

// No label or button shows less than its text, no two visible siblings
// share a point, and every control has a name for a screen reader.
void expectTextsFitAndControlsNamed(QWidget* root, const std::string& where) {
    EXPECT_EQ(lumora::testing::unnamedControls(root), "") << where;
    std::vector<QWidget*> all{root};
    for (QWidget* w : root->findChildren<QWidget*>()) all.push_back(w);
    for (QWidget* w : all) {
        if (!w->isVisibleTo(root) || (w->isWindow() && w != root)) continue;
        if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty()) {
            if (l->wordWrap()) {
                EXPECT_LE(l->heightForWidth(l->width()), l->height())
                    << where << ": wrapped text cut off: " << describe(l);
            } else {
                EXPECT_LE(l->sizeHint().width(), l->width())
                    << where << ": text wider than its label: " << describe(l);
            }
        }
        if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty()) {
            EXPECT_LE(b->sizeHint().width(), b->width())
                << where << ": text wider than its button: " << describe(b);
        }
        if (isCompound(w)) continue;
        std::vector<QWidget*> children;
        for (QObject* o : w->children()) {
            auto* c = qobject_cast<QWidget*>(o);
            if (c && !c->isWindow() && c->isVisibleTo(root) && !c->geometry().isEmpty())
                children.push_back(c);
        }
        for (size_t i = 0; i < children.size(); ++i) {
            for (size_t j = i + 1; j < children.size(); ++j) {
                EXPECT_FALSE(children[i]->geometry().intersects(children[j]->geometry()))
                    << where << ": " << describe(children[i]) << " at " << children[i]->x() << ","
                    << children[i]->y() << " overlaps " << describe(children[j]) << " at "
                    << children[j]->x() << "," << children[j]->y();
            }
        }
    }
}

class TranslatedLayout : public ControllerFixture,
                         public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        hotkeys_ = std::make_unique<HotkeyActions>(*controller_, controller_->services());
        // English is the texts as written: nothing to install.
        const int installed = installTranslations(QLocale(QString::fromLatin1(GetParam())));
        if (std::string_view(GetParam()) != "en_GB") {
            ASSERT_GE(installed, 1);
        }
    }
    void TearDown() override {
        removeTranslations();
        hotkeys_.reset();
        ControllerFixture::TearDown();
    }
    void furnish() {
        settings().setLights({lamp("1", true, true, true, "Kitchen"),
                              lamp("2", false, true, true, "Reading light by the big window"),
                              lamp("3", true, true, true, "Hallway")});
        settings().setGroups({room("1", "Living room", "Room", {"1", "2"}),
                              room("2", "Kitchen", "Room", {"1", "2"}),
                              room("3", "Downstairs", "Zone", {"1", "2"})});
        settings().setScenes({scene("s1", "Relax", "1")});
        settings().setShowZones(true);
        settings().setShowScenes(true);
        settings().setShowColorBarsForRooms(true);
        settings().setShowColorBarsForLights(true);
    }
    std::unique_ptr<ContentView> panel() {
        auto view = std::make_unique<ContentView>(settings(), *controller_, PanelActions{});
        view->resize(200, 600);
        view->show();
        view->sync();
        QCoreApplication::processEvents();
        return view;
    }
    std::unique_ptr<HotkeyActions> hotkeys_;
};

TEST_P(TranslatedLayout, PanelFitsItsTextsInEveryState) {
    const std::string lang = GetParam();
    // The painted labels: the on/off text inside its 30-point pill, the
    // tabs' and headers' capitals on their strips.
    const QFontMetrics onOff(panelFont(10, QFont::Bold));
    for (const char* text : {"ON", "OFF"})
        EXPECT_LE(onOff.horizontalAdvance(tr("lumora::panel::OnOffButton", text)), 28) << text;

    settings().setLights({});
    settings().setNeedsLinkButton(true);
    expectTextsFitAndControlsNamed(panel().get(), lang + " no lights, link button");

    furnish();
    settings().setShowReviewRequest(true);
    for (MainPanels which : {MainPanels::lights, MainPanels::rooms, MainPanels::scenes}) {
        settings().setActiveMainPanel(which);
        auto view = panel();
        const std::string where = lang + " " + view->bodyName().toStdString();
        expectTextsFitAndControlsNamed(view.get(), where);
        const QFontMetrics tabs(panelFont(8, QFont::Bold));
        EXPECT_LE(tabs.horizontalAdvance(tr("lumora::panel::ContentView", "LIGHTS")),
                  view->lightsTab()->width() - 6)
            << where;
        EXPECT_LE(tabs.horizontalAdvance(tr("lumora::panel::ContentView", "ROOMS")),
                  view->roomsTab()->width() - 6)
            << where;
        if (auto* groups = qobject_cast<ListGroups*>(view->body())) {
            const QFontMetrics headers(panelFont(8));
            for (auto* h : groups->findChildren<SectionHeaderLabel*>())
                EXPECT_LE(headers.horizontalAdvance(h->text()), h->width() - 10) << where;
            EXPECT_EQ(groups->headers().size(), 2);
        }
    }

    settings().setGroups({});
    settings().setScenes({});
    for (MainPanels which : {MainPanels::rooms, MainPanels::scenes}) {
        settings().setActiveMainPanel(which);
        auto view = panel();
        expectTextsFitAndControlsNamed(view.get(), lang + " " + view->bodyName().toStdString());
    }
}

TEST_P(TranslatedLayout, SettingsPanesGrowToTheirTexts) {
    const std::string lang = GetParam();
    furnish();
    QTemporaryDir config;
    LaunchAtLogin login(config.path().toStdString(), "/usr/bin/lumora");
    prefs::PreferencesWindow window(
        lumora::testing::settingsPanes(settings(), hotkeys_->shortcuts(), login,
                                       "file:///nonexistent/site/"),
        settings().defaults());
    auto check = [&](const std::string& id, const std::string& state) {
        window.show(id);
        QCoreApplication::processEvents();
        expectTextsFitAndControlsNamed(&window, lang + " " + id + state);
        for (QWidget* b : window.toolBar()->findChildren<QAbstractButton*>())
            if (b->isVisible()) expectTextsFitAndControlsNamed(b, lang + " toolbar");
    };
    // The error bar shows the core's message, translated, at its full length.
    settings().setConnectionError({ConnectionProblem::noUserName, {}});
    check("general", " with an error");
    auto* pane = window.currentPane();
    bool shown = false;
    for (QLabel* l : pane->findChildren<QLabel*>())
        shown |= l->isVisible() && l->text() == tr("AppSettings",
                                                   "The bridge accepted pairing but sent no "
                                                   "user name. Please pair again.");
    EXPECT_TRUE(shown) << lang << ": the error bar shows the translated message";
    settings().setConnectionError({});
    settings().setBridgeConnected(true);
    check("general", " connected");
    for (const char* id : {"advanced", "lights", "hotkeys", "info"}) check(id, "");
}

// The small windows keep the size the shell gives them.
TEST_P(TranslatedLayout, WelcomeAndDebugWindowsHoldTheirTexts) {
    const std::string lang = GetParam();
    auto inWindow = [](QWidget* content, QSize size) {
        auto window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content);
        window->setFixedSize(size);
        window->show();
        QCoreApplication::processEvents();
        return window;
    };
    auto welcome = inWindow(new WelcomeView([] {}), {320, 500});
    expectTextsFitAndControlsNamed(welcome.get(), lang + " welcome");
    auto debug = inWindow(new DebugView(
                              settings(), [] {}, [] {}),
                          {320, 300});
    expectTextsFitAndControlsNamed(debug.get(), lang + " debug");
}

INSTANTIATE_TEST_SUITE_P(Languages, TranslatedLayout, ::testing::Values("en_GB", "de_DE", "fr_FR"),
                         [](const auto& info) { return std::string(info.param).substr(0, 2); });

}  // namespace
}  // namespace lumora::panel

LUMORA_QT_TEST_MAIN(Q_INIT_RESOURCE(views_resources); Q_INIT_RESOURCE(lumora);
                    Q_INIT_RESOURCE(preferences);)
