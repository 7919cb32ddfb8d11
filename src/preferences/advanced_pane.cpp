#include "preferences/advanced_pane.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/linux/launch_at_login.h"
#include "base/setting_keys.h"
#include "preferences/settings_form.h"
#include "preferences/site_pages.h"
#include "ui/theme.h"

namespace lumora::prefs {

namespace {

// The tray icon in the scheme's ink, the way the tray shows it.
QIcon lampIcon(const QWidget* w, const QString& name) {
    const char* tone = ui::isDarkScheme(w) ? "dark" : "light";
    return QIcon(QStringLiteral(":/lumora/icons/%1-%2.svg").arg(name, QLatin1String(tone)));
}

}  // namespace

AdvancedPane::AdvancedPane(AppSettings& settings, LaunchAtLogin& launchAtLogin,
                           std::function<void(const std::string&)> setTrayIcon,
                           std::function<void(const std::string&)> openURL, std::string siteBase,
                           QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      launchAtLogin_(launchAtLogin),
      setTrayIcon_(std::move(setTrayIcon)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    form_ = new SettingsForm(450, this);
    column->addWidget(form_);

    auto addSwitch = [this](const char* label) {
        auto* s = new SettingsSwitch;
        form_->addRow(tr(label), s);
        return s;
    };
    runAtStart_ = addSwitch(QT_TR_NOOP("Run at Start"));
    roomBars_ = addSwitch(QT_TR_NOOP("Show color bars for rooms"));
    lightBars_ = addSwitch(QT_TR_NOOP("Show color bars for lights"));
    scenes_ = addSwitch(QT_TR_NOOP("Show Scene Panel"));
    zones_ = addSwitch(QT_TR_NOOP("Show Zones"));
    live_ = addSwitch(QT_TR_NOOP("Live updates"));
    live_->setToolTip(
        tr("Follow changes made elsewhere as they happen, where the bridge "
           "offers it; otherwise the lights are read every few seconds."));

    std::vector<QString> names;
    for (const char* n : kAppIconNames) names.emplace_back(QString::fromLatin1(n));
    icon_ = new ImageSegments(names, 100, QSize(14, 14),
                              [this](const QString& n) { return lampIcon(this, n); });
    auto* iconRow = new QHBoxLayout;
    iconRow->addSpacing(15);
    iconRow->addWidget(icon_);
    iconRow->addStretch(1);
    form_->addRow(tr("App Icon"), iconRow);

    form_->addDivider();

    help_ = new QPushButton(tr("Help"));
    feedback_ = new QPushButton(tr("Provide Feedback"));
    auto* support = new QHBoxLayout;
    support->setSpacing(8);
    support->addWidget(help_);
    support->addWidget(feedback_);
    support->addStretch(1);
    form_->addRow(tr("Get Support"), support);

    refresh();

    connect(runAtStart_, &QAbstractButton::toggled, this, [this](bool on) {
        if (launchAtLogin_.isEnabled() == on) return;
        launchAtLogin_.setEnabled(on);
        // Shows what the file system made of it.
        QSignalBlocker b(runAtStart_);
        runAtStart_->setChecked(launchAtLogin_.isEnabled());
    });
    connect(roomBars_, &QAbstractButton::toggled, this,
            [this](bool on) { settings_.setShowColorBarsForRooms(on); });
    connect(lightBars_, &QAbstractButton::toggled, this,
            [this](bool on) { settings_.setShowColorBarsForLights(on); });
    connect(scenes_, &QAbstractButton::toggled, this,
            [this](bool on) { settings_.setShowScenes(on); });
    connect(zones_, &QAbstractButton::toggled, this,
            [this](bool on) { settings_.setShowZones(on); });
    connect(live_, &QAbstractButton::toggled, this,
            [this](bool on) { settings_.setLiveUpdates(on); });
    connect(icon_, &ImageSegments::chosen, this,
            [this](const QString& n) { chooseIcon(n.toStdString()); });
    connect(help_, &QPushButton::clicked, this, [openURL, siteBase] {
        if (openURL) openURL(sitePage(siteBase, "faq"));
    });
    connect(feedback_, &QPushButton::clicked, this, [openURL, siteBase] {
        if (openURL) openURL(sitePage(siteBase, "feedback"));
    });

    // Another way of changing these (the command-line tool, the panel) shows here too.
    observer_ = settings_.addObserver([this](AppSettings::Field f) {
        using F = AppSettings::Field;
        if (f == F::showColorBarsForRooms || f == F::showColorBarsForLights || f == F::showScenes ||
            f == F::showZones || f == F::appIcon || f == F::liveUpdates)
            refresh();
    });
}

AdvancedPane::~AdvancedPane() {
    settings_.removeObserver(observer_);
}

void AdvancedPane::refresh() {
    auto set = [](SettingsSwitch* s, bool on) {
        if (s->isChecked() == on) return;
        QSignalBlocker b(s);
        s->setChecked(on);
    };
    set(runAtStart_, launchAtLogin_.isEnabled());
    set(roomBars_, settings_.showColorBarsForRooms());
    set(lightBars_, settings_.showColorBarsForLights());
    set(scenes_, settings_.showScenes());
    set(zones_, settings_.showZones());
    set(live_, settings_.liveUpdates());
    icon_->setCurrent(QString::fromStdString(settings_.appIcon()));
}

void AdvancedPane::chooseIcon(const std::string& name) {
    settings_.setAppIcon(name);
    if (setTrayIcon_) setTrayIcon_(name);
    settings_.defaults().setString(keys::appIcon, name);
}

}  // namespace lumora::prefs
