#include "panel/views/panel_lists.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/light_order.h"
#include "base/letter_case.h"
#include "base/setting_keys.h"
#include "bridge/commands.h"

namespace lumora::panel {

namespace {

bool groupHasScenes(const AppSettings& settings, const std::string& groupId) {
    return std::any_of(settings.scenes().begin(), settings.scenes().end(),
                       [&](const HueScene& s) { return s.group == groupId; });
}

// The index of the first record whose `member` equals `value`, or -1.
template <typename Record, typename Value>
int indexBy(const std::vector<Record>& records, Value Record::*member, const Value& value) {
    const auto it = std::find_if(records.begin(), records.end(),
                                 [&](const Record& r) { return r.*member == value; });
    return it == records.end() ? -1 : static_cast<int>(it - records.begin());
}

// Gives each row the current record with its bridge id, in place.
template <typename Row, typename Record, typename Get, typename Set>
void refreshRows(const std::vector<Row*>& rows, const std::vector<Record>& records,
                 std::string Record::*bridgeId, Get get, Set set) {
    for (Row* row : rows) {
        const int i = indexBy(records, bridgeId, (row->*get)().*bridgeId);
        if (i >= 0) (row->*set)(records[static_cast<std::size_t>(i)]);
    }
}

// Slider position to brightness. The small margin keeps a position reached
// by arrow steps (b + step) / 255 from truncating to one below.
std::int64_t brightnessAt(double v) {
    return std::clamp<std::int64_t>(static_cast<std::int64_t>(v * 255 + 1e-6), 0, 255);
}

// The record's values as places on the colour controls, so arrow keys move
// on from the colour the light has.
double temperaturePosition(std::int64_t ct, std::int64_t ctMin, std::int64_t ctMax) {
    if (ctMax <= ctMin) return TemperatureBar::kWidth / 2;
    return static_cast<double>(ct - ctMin) * TemperatureBar::kWidth /
           static_cast<double>(ctMax - ctMin);
}

QPointF huePoint(std::int64_t hue, std::int64_t saturation) {
    return {static_cast<double>(hue) / 65535.0 * 180.0, static_cast<double>(saturation) / 5.0};
}

QVBoxLayout* column(QWidget* w, int margin) {
    auto* l = new QVBoxLayout(w);
    l->setContentsMargins(margin, margin, margin, margin);
    l->setSpacing(0);
    return l;
}

}  // namespace

bool isGroupAmbientOnly(const AppSettings& settings, const std::vector<std::string>& groupLights) {
    for (const HueLight& l : settings.lights()) {
        if (l.allows_color &&
            std::find(groupLights.begin(), groupLights.end(), l.lamp_id) != groupLights.end()) {
            return false;
        }
    }
    return true;
}

bool isLightHidden(const AppSettings& settings, const HueLight& light) {
    return settings.defaults().boolean(keys::hideLight(light.unique_id));
}

// ---- RowTitle ------------------------------------------------------------------

RowTitle::RowTitle(QWidget* parent) : QLabel(parent) {
    setFont(panelFont(10));
    setFixedHeight(QFontMetrics(font()).height() + 2);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void RowTitle::setName(const QString& name) {
    if (name == name_) return;
    name_ = name;
    setAccessibleName(name);
    setToolTip(name);
    update();
}

void RowTitle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(ink(isDarkScheme(this), 0.8));
    const QString shown = QFontMetrics(font()).elidedText(name_, Qt::ElideRight, width());
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

// ---- GroupRow --------------------------------------------------------------------

GroupRow::GroupRow(AppSettings& settings, CommandQueue& commands, const HueGroup& group,
                   QWidget* parent)
    : QWidget(parent), settings_(settings), commands_(commands), group_(group) {
    auto* layout = column(this, 5);
    layout->setSpacing(3);
    title_ = new RowTitle;
    layout->addWidget(title_);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(5);
    controls->setContentsMargins(0, 0, 0, 0);
    onOff_ = new OnOffButton;
    slider_ = new CustomSlider;
    controls->addWidget(onOff_);
    controls->addWidget(slider_, 1);
    if (settings_.showScenes() && groupHasScenes(settings_, group.group_id)) {
        sceneButton_ =
            new IconButton(QStringLiteral(":/panel/paintpalette.svg"), {14, 12}, 0.5, true);
        sceneButton_->setAccessibleName(tr("%1 scenes").arg(QString::fromStdString(group.name)));
        controls->addWidget(sceneButton_);
        connect(sceneButton_, &IconButton::clicked, this, [this] { openScenes(); });
    }
    layout->addLayout(controls);

    if (settings_.showColorBarsForRooms()) {
        if (isGroupAmbientOnly(settings_, group.lights)) {
            temperature_ = new TemperatureBar;
            layout->addWidget(temperature_);
            connect(temperature_, &TemperatureBar::released, this, [this](double x) {
                // Acted on after the release has been handled.
                QTimer::singleShot(0, this, [this, x] {
                    change(
                        [x](HueGroup& g) {
                            g.color_temperature =
                                TemperatureBar::temperatureAt(x, g.ct_min, g.ct_max);
                            g.is_on = true;
                        },
                        [this](const HueGroup& g) {
                            setGroupTemperature(commands_, g, g.color_temperature);
                        });
                });
            });
        } else {
            hueField_ = new HueSatField;
            layout->addWidget(hueField_);
            connect(hueField_, &HueSatField::picked, this,
                    [this](std::int64_t hue, std::int64_t sat) {
                        change(
                            [hue, sat](HueGroup& g) {
                                g.saturation = sat;
                                g.hue = hue;
                                g.is_on = true;
                            },
                            [this, hue](const HueGroup& g) { setGroupHue(commands_, g, hue); });
                    });
        }
    }

    connect(onOff_, &OnOffButton::pressed, this, [this] {
        const bool on = !group_.is_on;
        change([on](HueGroup& g) { g.is_on = on; },
               [this, on](const HueGroup& g) { setGroupOn(commands_, g, on); });
    });
    connect(slider_, &CustomSlider::moved, this, [this](double v) {
        const std::int64_t b = brightnessAt(v);
        change(
            [b](HueGroup& g) {
                g.brightness = b;
                g.is_on = true;
            },
            [this, b](const HueGroup& g) { setGroupBrightness(commands_, g, b); });
    });
    setGroup(group);
}

void GroupRow::setGroup(const HueGroup& group) {
    group_ = group;
    const QString name = QString::fromStdString(group.name);
    title_->setName(name);
    onOff_->setOn(group.is_on);
    onOff_->setAccessibleName(tr("%1 on").arg(name));
    slider_->setValue(std::clamp(group.brightness / 255.0, 0.0, 1.0));
    slider_->setKeyStep(static_cast<double>(settings_.keyIncrement()) / 255.0);
    slider_->setAccessibleName(
        tr("%1 brightness, %2 %").arg(name).arg(qRound(slider_->value() * 100)));
    if (temperature_) {
        temperature_->setAccessibleName(tr("%1 colour temperature").arg(name));
        temperature_->setPosition(
            temperaturePosition(group.color_temperature, group.ct_min, group.ct_max));
    }
    if (hueField_) {
        hueField_->setAccessibleName(tr("%1 colour").arg(name));
        hueField_->setPoint(huePoint(group.hue, group.saturation));
    }
}

int GroupRow::recordIndex() const {
    const auto& groups = settings_.groups();
    const int i = indexBy(groups, &HueGroup::id, group_.id);
    // A refresh brings fresh records of the same groups; the bridge's id
    // says which one is this row's.
    return i >= 0 ? i : indexBy(groups, &HueGroup::group_id, group_.group_id);
}

void GroupRow::change(const std::function<void(HueGroup&)>& edit,
                      const std::function<void(const HueGroup&)>& command) {
    const int i = recordIndex();
    // The group is gone from the bridge's state: a write elsewhere would
    // change a room the user never touched.
    if (i < 0) return;
    HueGroup updated;
    settings_.mutateGroups([&](std::vector<HueGroup>& groups) {
        edit(groups[static_cast<std::size_t>(i)]);
        updated = groups[static_cast<std::size_t>(i)];
    });
    setGroup(updated);
    command(updated);
}

void GroupRow::openScenes() {
    if (popover_) {
        popover_->close();
        return;
    }
    std::vector<HueScene> mine;
    for (const HueScene& s : orderedScenes(settings_.scenes())) {
        if (s.group == group_.group_id) mine.push_back(s);
    }
    auto* pop = new QFrame(this, Qt::Popup);
    pop->setAttribute(Qt::WA_DeleteOnClose);
    pop->setObjectName(QStringLiteral("ListGroupScenes"));
    pop->setFrameShape(QFrame::StyledPanel);
    auto* layout = column(pop, 0);
    auto* scenes = new SceneColumn(commands_, mine);
    layout->addWidget(scenes);
    // One pick and the popover is done; left open it would swallow the
    // next click elsewhere.
    for (SceneButton* b : scenes->buttons()) {
        connect(b, &SceneButton::clicked, pop,
                [pop] { QTimer::singleShot(0, pop, &QWidget::close); });
    }
    popover_ = pop;
    pop->adjustSize();
    QPoint at = sceneButton_->mapToGlobal(
        QPoint(sceneButton_->width() / 2 - pop->width() / 2, sceneButton_->height() + 2));
    // Kept on the screen: the button sits at the panel's right edge.
    if (const QScreen* screen = sceneButton_->screen()) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left() + 5,
                           std::max(area.left() + 5, area.right() - pop->width() - 5)));
        if (at.y() + pop->height() > area.bottom()) {
            at.setY(sceneButton_->mapToGlobal(QPoint(0, 0)).y() - pop->height() - 2);
        }
    }
    const bool byKeyboard = sceneButton_->showsFocusRing();
    pop->move(at);
    pop->show();
    // A popup takes the keyboard but gives no control its focus; the
    // first scene takes it, with the ring when the keyboard opened it.
    if (!scenes->buttons().empty()) {
        scenes->buttons().front()->setFocus(byKeyboard ? Qt::TabFocusReason : Qt::PopupFocusReason);
    }
}

// ---- LightRow ------------------------------------------------------------------------

LightRow::LightRow(AppSettings& settings, CommandQueue& commands, const HueLight& light,
                   QWidget* parent)
    : QWidget(parent), settings_(settings), commands_(commands), light_(light) {
    auto* layout = column(this, 5);
    layout->setSpacing(3);
    title_ = new RowTitle;
    layout->addWidget(title_);
    auto* controls = new QHBoxLayout;
    controls->setSpacing(5);
    controls->setContentsMargins(0, 0, 0, 0);
    onOff_ = new OnOffButton;
    controls->addWidget(onOff_);
    if (light.allows_brightness) {
        slider_ = new CustomSlider;
        controls->addWidget(slider_, 1);
        connect(slider_, &CustomSlider::moved, this, [this](double v) {
            const std::int64_t b = brightnessAt(v);
            change(
                [b](HueLight& l) {
                    l.brightness = b;
                    l.is_on = true;
                },
                [this, b](const HueLight& l) { setLampBrightness(commands_, l, b); });
        });
    } else {
        controls->addStretch(1);
    }
    layout->addLayout(controls);
    if (light.allows_color && settings_.showColorBarsForLights()) {
        hueField_ = new HueSatField;
        layout->addWidget(hueField_);
        connect(hueField_, &HueSatField::picked, this, [this](std::int64_t hue, std::int64_t sat) {
            change(
                [hue, sat](HueLight& l) {
                    l.saturation = sat;
                    l.hue = hue;
                    l.is_on = true;
                },
                [this, hue](const HueLight& l) { setLampHue(commands_, l, hue); });
        });
    }
    if (light.allows_ambient && settings_.showColorBarsForLights()) {
        temperature_ = new TemperatureBar;
        layout->addWidget(temperature_);
        connect(temperature_, &TemperatureBar::released, this, [this](double x) {
            QTimer::singleShot(0, this, [this, x] {
                change(
                    [x](HueLight& l) {
                        l.color_temperature = TemperatureBar::temperatureAt(x, l.ct_min, l.ct_max);
                        l.is_on = true;
                    },
                    [this](const HueLight& l) {
                        setLampTemperature(commands_, l, l.color_temperature);
                    });
            });
        });
    }
    connect(onOff_, &OnOffButton::pressed, this, [this] {
        const bool on = !light_.is_on;
        change([on](HueLight& l) { l.is_on = on; },
               [this, on](const HueLight& l) { setLampOn(commands_, l, on); });
    });
    setLight(light);
}

void LightRow::setLight(const HueLight& light) {
    light_ = light;
    const QString name = QString::fromStdString(light.name);
    title_->setName(name);
    onOff_->setOn(light.is_on);
    onOff_->setAccessibleName(tr("%1 on").arg(name));
    if (slider_) {
        slider_->setValue(std::clamp(light.brightness / 255.0, 0.0, 1.0));
        slider_->setKeyStep(static_cast<double>(settings_.keyIncrement()) / 255.0);
        slider_->setAccessibleName(
            tr("%1 brightness, %2 %").arg(name).arg(qRound(slider_->value() * 100)));
    }
    if (temperature_) {
        temperature_->setAccessibleName(tr("%1 colour temperature").arg(name));
        temperature_->setPosition(
            temperaturePosition(light.color_temperature, light.ct_min, light.ct_max));
    }
    if (hueField_) {
        hueField_->setAccessibleName(tr("%1 colour").arg(name));
        hueField_->setPoint(huePoint(light.hue, light.saturation));
    }
}

int LightRow::recordIndex() const {
    return indexBy(settings_.lights(), &HueLight::lamp_id, light_.lamp_id);
}

void LightRow::change(const std::function<void(HueLight&)>& edit,
                      const std::function<void(const HueLight&)>& command) {
    const int i = recordIndex();
    if (i < 0) return;  // gone from the bridge: never write another light
    HueLight updated;
    settings_.mutateLights([&](std::vector<HueLight>& lights) {
        edit(lights[static_cast<std::size_t>(i)]);
        updated = lights[static_cast<std::size_t>(i)];
    });
    setLight(updated);
    command(updated);
}

// ---- SceneColumn ---------------------------------------------------------------------

SceneColumn::SceneColumn(CommandQueue& commands, const std::vector<HueScene>& scenes,
                         QWidget* parent)
    : QWidget(parent) {
    auto* layout = column(this, 5);
    layout->setSpacing(5);
    for (const HueScene& s : scenes) {
        auto* b = new SceneButton(QString::fromStdString(s.name));
        const std::string id = s.scene_id;
        connect(b, &SceneButton::clicked, this, [&commands, id] { recallScene(commands, id); });
        layout->addWidget(b, 0, Qt::AlignLeft);
        buttons_.push_back(b);
    }
    layout->addStretch(1);
}

// ---- PanelList -------------------------------------------------------------------------

PanelList::PanelList(AppSettings& settings, CommandQueue& commands, QWidget* parent)
    : QScrollArea(parent), settings_(settings), commands_(commands) {
    setFrameShape(QFrame::NoFrame);
    // Tab goes through the rows' controls, never stops at the list itself.
    setFocusPolicy(Qt::NoFocus);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical{width:6px;background:transparent;margin:0}"
        "QScrollBar::handle:vertical{background:rgba(128,128,128,110);border-radius:3px;"
        "min-height:24px}"
        "QScrollBar::add-line,QScrollBar::sub-line{height:0}"
        "QScrollBar::add-page,QScrollBar::sub-page{background:none}"));
    observer_ = settings_.addObserver([this](AppSettings::Field f) {
        using F = AppSettings::Field;
        if (f == F::log || f == F::actionQueue || f == F::lastUserActionAt || queued_) return;
        queued_ = true;
        QTimer::singleShot(0, this, [this] {
            // A closed panel catches up when it opens, not on every refresh.
            if (!isVisible()) return;
            sync();
        });
    });
}

void PanelList::showEvent(QShowEvent* e) {
    if (queued_) sync();
    QScrollArea::showEvent(e);
}

PanelList::~PanelList() {
    settings_.removeObserver(observer_);
}

void PanelList::sync() {
    queued_ = false;
    const std::string shape = shapeKey();
    if (body_ && shape == shape_) {
        updateRows();
        return;
    }
    shape_ = shape;
    ++rebuilds_;
    auto* body = new QWidget;
    body->setAutoFillBackground(false);
    auto* layout = column(body, 0);
    build(layout);
    layout->addStretch(1);
    setWidget(body);  // deletes the previous body
    body_ = body;
}

// ---- ListGroups --------------------------------------------------------------------------

ListGroups::ListGroups(AppSettings& settings, CommandQueue& commands, QWidget* parent)
    : PanelList(settings, commands, parent) {
    setObjectName(QStringLiteral("ListGroups"));
    sync();
}

QStringList ListGroups::headers() const {
    QStringList out;
    for (auto* h : headers_) out << h->text();
    return out;
}

std::string ListGroups::shapeKey() const {
    std::string key = settings_.showZones() ? "z" : "-";
    key += settings_.showScenes() ? "s" : "-";
    key += settings_.showColorBarsForRooms() ? "c" : "-";
    for (const HueGroup& g : settings_.groups()) {
        key += '|' + g.group_id + ':' + asciiLowerCased(g.type) + ':';
        key += groupHasScenes(settings_, g.group_id) ? 's' : '-';
        key += isGroupAmbientOnly(settings_, g.lights) ? 'a' : 'c';
    }
    return key;
}

void ListGroups::build(QVBoxLayout* layout) {
    rows_.clear();
    headers_.clear();
    const auto& groups = settings_.groups();
    auto ofType = [&](const char* type) {
        std::vector<const HueGroup*> out;
        for (const HueGroup& g : groups) {
            if (asciiLowerCased(g.type) == type) out.push_back(&g);
        }
        return out;
    };
    const auto zones = ofType("zone");
    const auto rooms = ofType("room");
    auto section = [&](const QString& header, bool showHeader,
                       const std::vector<const HueGroup*>& members) {
        auto* box = new QWidget;
        auto* l = column(box, 5);
        if (showHeader) {
            auto* h = new SectionHeaderLabel(header);
            headers_.push_back(h);
            l->addWidget(h);
        }
        for (const HueGroup* g : members) {
            auto* row = new GroupRow(settings_, commands_, *g);
            rows_.push_back(row);
            l->addWidget(row);
        }
        layout->addWidget(box);
    };
    if (settings_.showZones() && !zones.empty()) section(tr("ZONES"), true, zones);
    section(tr("ROOMS"), settings_.showZones() && !rooms.empty(), rooms);
}

void ListGroups::updateRows() {
    refreshRows(rows_, settings_.groups(), &HueGroup::group_id, &GroupRow::group,
                &GroupRow::setGroup);
}

// ---- ListLights ----------------------------------------------------------------------------

ListLights::ListLights(AppSettings& settings, CommandQueue& commands, QWidget* parent)
    : PanelList(settings, commands, parent) {
    setObjectName(QStringLiteral("ListLights"));
    sync();
}

std::string ListLights::shapeKey() const {
    std::string key = settings_.showColorBarsForLights() ? "c" : "-";
    for (const HueLight& l : settings_.lights()) {
        if (isLightHidden(settings_, l)) continue;
        key += '|' + l.lamp_id + ':';
        key += l.allows_brightness ? 'b' : '-';
        key += l.allows_color ? 'c' : '-';
        key += l.allows_ambient ? 'a' : '-';
    }
    return key;
}

void ListLights::build(QVBoxLayout* layout) {
    rows_.clear();
    auto* stack = new QWidget;
    auto* l = column(stack, 5);
    for (const HueLight& light : settings_.lights()) {
        if (isLightHidden(settings_, light)) continue;
        auto* row = new LightRow(settings_, commands_, light);
        rows_.push_back(row);
        l->addWidget(row);
    }
    layout->addWidget(stack);
}

void ListLights::updateRows() {
    refreshRows(rows_, settings_.lights(), &HueLight::lamp_id, &LightRow::light,
                &LightRow::setLight);
}

// ---- ListScenes ------------------------------------------------------------------------------

ListScenes::ListScenes(AppSettings& settings, CommandQueue& commands, QWidget* parent)
    : PanelList(settings, commands, parent) {
    setObjectName(QStringLiteral("ListScenes"));
    sync();
}

std::vector<SceneButton*> ListScenes::buttons() const {
    return column_ ? column_->buttons() : std::vector<SceneButton*>{};
}

std::string ListScenes::shapeKey() const {
    std::string key;
    for (const HueScene& s : settings_.scenes()) key += '|' + s.scene_id + ':' + s.name;
    return key;
}

void ListScenes::build(QVBoxLayout* layout) {
    column_ = new SceneColumn(commands_, settings_.scenes());
    layout->addWidget(column_);
}

}  // namespace lumora::panel
