#include "preferences/hotkeys_pane.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "base/setting_keys.h"
#include "shortcuts/portal/portal_shortcuts.h"
#include "ui/divider.h"

namespace lumora::prefs {
namespace {

constexpr int kContainerWidth = 330;
constexpr int kLabelColumn = 175;  // the slot drop-downs' width

// Rows of a right-aligned label column and a content column, the two views
// sharing the label column's width so their fields line up.
class Form {
  public:
    explicit Form(QWidget* owner) : grid_(new QGridLayout(owner)) {
        // 330 wide unless a row needs more (the step size beside the
        // drop-downs' column does).
        owner->setMinimumWidth(kContainerWidth);
        grid_->setContentsMargins(0, 0, 0, 0);
        grid_->setHorizontalSpacing(8);
        grid_->setVerticalSpacing(6);
        grid_->setColumnMinimumWidth(0, kLabelColumn);
        grid_->setColumnStretch(1, 1);
    }
    void heading(const QString& text) {
        auto* label = new QLabel(text);
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
        row(label, nullptr);
    }
    void divider() { grid_->addWidget(ui::divider(110), next_++, 0, 1, 2); }
    void space(int height) {
        grid_->addItem(new QSpacerItem(0, height, QSizePolicy::Minimum, QSizePolicy::Fixed),
                       next_++, 0);
    }
    void row(const QString& label, QWidget* content) { row(new QLabel(label), content); }
    void row(QWidget* label, QWidget* content) {
        grid_->addWidget(label, next_, 0, Qt::AlignRight | Qt::AlignVCenter);
        if (!content) {
            ++next_;
            return;
        }
        // Fields fill the column; fixed-size controls keep to its left edge.
        const bool fills = content->sizePolicy().horizontalPolicy() & QSizePolicy::ExpandFlag;
        grid_->addWidget(content, next_, 1,
                         fills ? Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
        ++next_;
    }

  private:
    QGridLayout* grid_;
    int next_ = 0;
};

}  // namespace

// --- GroupActionPicker ------------------------------------------------------

GroupActionPicker::GroupActionPicker(const std::vector<HueGroup>& groups, DefaultsStore& store,
                                     int dropdownIndex, QWidget* parent)
    : QComboBox(parent),
      store_(store),
      dropdownIndex_(dropdownIndex),
      options_(calculateAvailableGroupOptions(
          groups,
          [](std::string_view english) { return tr(std::string(english).c_str()).toStdString(); })),
      selectedAction_(selectedGroupAction(store, dropdownIndex)) {
    setFixedWidth(kLabelColumn);
    setAccessibleName(tr("Action of hotkey %1").arg(dropdownIndex + 1));
    for (const auto& option : options_)
        addItem(QString::fromStdString(option.title), QString::fromStdString(option.id));
    // A stored choice whose room is gone shows no entry and stays stored.
    setCurrentIndex(findData(QString::fromStdString(selectedAction_)));
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= static_cast<int>(options_.size())) return;
        selectedAction_ = options_[static_cast<size_t>(index)].id;
        setSelectedGroupAction(store_, dropdownIndex_, selectedAction_);
    });
}

// --- SegmentedControl -------------------------------------------------------

SegmentedControl::SegmentedControl(const std::vector<std::pair<QString, int>>& segments,
                                   QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    group_->setExclusive(true);
    setStyleSheet(QStringLiteral(
        "QToolButton { border: 1px solid palette(mid); border-left-width: 0px;"
        " background: palette(button); color: palette(button-text); padding: 2px 4px; }"
        "QToolButton:checked { background: palette(highlight);"
        " color: palette(highlighted-text); }"
        "QToolButton:focus { border-color: palette(highlight); }"
        "QToolButton#first { border-left-width: 1px; border-top-left-radius: 5px;"
        " border-bottom-left-radius: 5px; }"
        "QToolButton#last { border-top-right-radius: 5px; border-bottom-right-radius: 5px; }"));
    for (const auto& [label, value] : segments) {
        // Tool buttons: push buttons insist on a width three of them do not
        // have in 200 points.
        auto* button = new QToolButton;
        button->setText(label);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        if (values_.empty()) button->setObjectName(QStringLiteral("first"));
        if (values_.size() + 1 == segments.size()) button->setObjectName(QStringLiteral("last"));
        group_->addButton(button, static_cast<int>(values_.size()));
        layout->addWidget(button);
        values_.push_back(value);
    }
    connect(group_, &QButtonGroup::idClicked, this,
            [this](int id) { emit valueChosen(values_.at(static_cast<size_t>(id))); });
}

void SegmentedControl::setValue(int value) {
    for (size_t i = 0; i < values_.size(); ++i) {
        if (values_[i] == value) {
            group_->button(static_cast<int>(i))->setChecked(true);
            return;
        }
    }
    // No segment for it: none checked, which an exclusive group refuses.
    group_->setExclusive(false);
    for (auto* b : group_->buttons()) b->setChecked(false);
    group_->setExclusive(true);
}

std::optional<int> SegmentedControl::value() const {
    const int id = group_->checkedId();
    if (id < 0) return std::nullopt;
    return values_.at(static_cast<size_t>(id));
}

QAbstractButton* SegmentedControl::segment(int index) const {
    return group_->button(index);
}

// --- HotkeyCell -------------------------------------------------------------

QString hotkeyCommand(const KeyboardShortcuts::Name& name) {
    using Name = KeyboardShortcuts::Name;
    const std::pair<const Name*, const char*> commands[] = {
        {&Name::actionAllLightsOff, "all-off"},   {&Name::actionAllLightsOn, "all-on"},
        {&Name::actionAllLightsDarker, "darker"}, {&Name::actionAllLightsBrighter, "brighter"},
        {&Name::actionAllLightsRed, "red"},       {&Name::actionAllLightsBlue, "blue"},
        {&Name::actionAllLightsWhite, "white"},   {&Name::actionTogglePanel, "toggle-panel"},
        {&Name::actionCustomGroup1, "slot 1"},    {&Name::actionCustomGroup2, "slot 2"},
        {&Name::actionCustomGroup3, "slot 3"},    {&Name::actionCustomGroup4, "slot 4"},
        {&Name::actionCustomGroup5, "slot 5"},
    };
    for (const auto& [n, command] : commands)
        if (n->rawValue() == name.rawValue())
            return QStringLiteral("lumora-ctl ") + QLatin1String(command);
    return {};
}

HotkeyCell::HotkeyCell(KeyboardShortcuts& shortcuts, const KeyboardShortcuts::Name& name,
                       const HotkeysHost& host, QWidget* parent)
    : QWidget(parent), name_(name), host_(host) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    switch (host.kind) {
        case HotkeysHost::Kind::grabs:
            recorder_ = new RecorderWidget(shortcuts, name);
            layout->addWidget(recorder_);
            break;
        case HotkeysHost::Kind::portal:
            text_ = new QLabel;
            layout->addWidget(text_, 1);
            if (host.portal)
                connect(host.portal, &PortalShortcuts::triggersChanged, this,
                        &HotkeyCell::showTrigger);
            showTrigger();
            break;
        case HotkeysHost::Kind::commands: {
            text_ = new QLabel(hotkeyCommand(name));
            text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
            text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
            auto* copy = new QToolButton;
            copy->setText(tr("Copy"));
            copy->setAccessibleName(tr("Copy %1").arg(text_->text()));
            connect(copy, &QToolButton::clicked, this,
                    [this] { QApplication::clipboard()->setText(text_->text()); });
            copy_ = copy;
            layout->addWidget(text_, 1);
            layout->addWidget(copy);
            break;
        }
    }
}

void HotkeyCell::showTrigger() {
    const QString key = host_.portal ? host_.portal->trigger(name_) : QString();
    // The desktop may leave an action without a key until its user picks one.
    text_->setText(key.isEmpty() ? tr("No key assigned") : key);
    text_->setEnabled(!key.isEmpty());
}

// --- HotkeysEverythingView --------------------------------------------------

HotkeysEverythingView::HotkeysEverythingView(KeyboardShortcuts& shortcuts, const HotkeysHost& host,
                                             QWidget* parent)
    : QWidget(parent) {
    using Name = KeyboardShortcuts::Name;
    Form form(this);
    form.heading(tr("Everything"));
    form.divider();
    const std::pair<const char*, const Name*> rows[] = {
        {QT_TR_NOOP("Off"), &Name::actionAllLightsOff},
        {QT_TR_NOOP("On"), &Name::actionAllLightsOn},
        {QT_TR_NOOP("Darker"), &Name::actionAllLightsDarker},
        {QT_TR_NOOP("Brighter"), &Name::actionAllLightsBrighter},
        {QT_TR_NOOP("Open Panel"), &Name::actionTogglePanel},
    };
    for (size_t i = 0; i < recorders_.size(); ++i) {
        cells_[i] = new HotkeyCell(shortcuts, *rows[i].second, host);
        recorders_[i] = cells_[i]->recorder();
        if (recorders_[i]) recorders_[i]->setAccessibleName(tr(rows[i].first));
        form.row(tr(rows[i].first), cells_[i]);
    }
}

// --- HotkeysIndividualView --------------------------------------------------

HotkeysIndividualView::HotkeysIndividualView(AppSettings& settings, KeyboardShortcuts& shortcuts,
                                             const HotkeysHost& host, QWidget* parent)
    : QWidget(parent), settings_(settings) {
    using Name = KeyboardShortcuts::Name;
    const Name* names[kGroupHotkeySlots] = {&Name::actionCustomGroup1, &Name::actionCustomGroup2,
                                            &Name::actionCustomGroup3, &Name::actionCustomGroup4,
                                            &Name::actionCustomGroup5};
    Form form(this);
    form.heading(tr("Individual Groups"));
    form.divider();
    for (int slot = 0; slot < kGroupHotkeySlots; ++slot) {
        pickers_[slot] = new GroupActionPicker(settings.groups(), settings.defaults(), slot);
        cells_[slot] = new HotkeyCell(shortcuts, *names[slot], host);
        recorders_[slot] = cells_[slot]->recorder();
        if (recorders_[slot])
            recorders_[slot]->setAccessibleName(tr("Shortcut of hotkey %1").arg(slot + 1));
        form.row(pickers_[slot], cells_[slot]);
    }
    form.space(30);
    form.heading(tr("Hotkey Settings"));
    form.space(10);
    stepSize_ = new SegmentedControl({{tr("Small"), 10}, {tr("Medium"), 25}, {tr("Large"), 50}});
    stepSize_->setFixedWidth(200);
    form.row(tr("Step Size"), stepSize_);
    stepSize_->setValue(static_cast<int>(settings.keyIncrement()));
    connect(stepSize_, &SegmentedControl::valueChosen, this,
            [this](int value) { settings_.setKeyIncrement(value); });

    // Whoever changes the step while the pane is shown, it is stored at once.
    observer_ = settings.addObserver([this](AppSettings::Field field) {
        if (field != AppSettings::Field::keyIncrement) return;
        settings_.defaults().setInteger(keys::keyIncrement, settings_.keyIncrement());
        stepSize_->setValue(static_cast<int>(settings_.keyIncrement()));
    });
}

HotkeysIndividualView::~HotkeysIndividualView() {
    settings_.removeObserver(observer_);
}

// --- HotkeysPane ------------------------------------------------------------

HotkeysPane::HotkeysPane(AppSettings& settings, KeyboardShortcuts& shortcuts,
                         const HotkeysHost& host, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(20);
    if (host.kind != HotkeysHost::Kind::grabs) {
        hostNote_ = new QLabel(
            host.kind == HotkeysHost::Kind::portal
                ? tr("The desktop holds these shortcuts: each action fires with the key it "
                     "shows here.")
                : tr("This desktop lets no program hold global shortcuts. Bind these commands "
                     "to keys in the desktop's or compositor's own keyboard settings."));
        hostNote_->setWordWrap(true);
        layout->addWidget(hostNote_);
    }
    if (host.kind == HotkeysHost::Kind::portal && host.portal) {
        configure_ = new QPushButton(tr("Change in the desktop's settings…"));
        PortalShortcuts* portal = host.portal;
        connect(configure_, &QPushButton::clicked, this, [portal] { portal->configure(); });
        // The desktop can open its settings once it has taken the bindings.
        const auto offer = [this, portal] { configure_->setVisible(portal->canConfigure()); };
        connect(portal, &PortalShortcuts::triggersChanged, configure_, offer);
        offer();
        layout->addWidget(configure_, 0, Qt::AlignLeft);
    }
    everything_ = new HotkeysEverythingView(shortcuts, host);
    individual_ = new HotkeysIndividualView(settings, shortcuts, host);
    // One width for both, so their label columns line up.
    const int width =
        std::max(everything_->minimumSizeHint().width(), individual_->minimumSizeHint().width());
    everything_->setFixedWidth(width);
    individual_->setFixedWidth(width);
    layout->addWidget(everything_, 0, Qt::AlignHCenter);
    layout->addWidget(individual_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
}

}  // namespace lumora::prefs
