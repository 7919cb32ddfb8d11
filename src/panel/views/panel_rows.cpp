#include "panel/views/panel_rows.h"

#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/light_order.h"
#include "ui/theme.h"

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

// A row: a group named after its light or room, holding its controls.
class RowAccessible : public QAccessibleWidget {
  public:
    explicit RowAccessible(ControlRow* w) : QAccessibleWidget(w, QAccessible::Grouping) {}
    QString text(QAccessible::Text t) const override {
        const QString own = QAccessibleWidget::text(t);
        if (t != QAccessible::Name || !own.isEmpty()) return own;
        return static_cast<ControlRow*>(widget())->name();
    }
};

QAccessibleInterface* rowFactory(const QString& key, QObject* object) {
    // Qt asks for each class up the chain; only the exact ones answer.
    if (key != QLatin1String(GroupRow::staticMetaObject.className()) &&
        key != QLatin1String(LightRow::staticMetaObject.className()))
        return nullptr;
    auto* row = qobject_cast<ControlRow*>(object);
    return row ? new RowAccessible(row) : nullptr;
}

}  // namespace

QVBoxLayout* column(QWidget* w, int margin) {
    auto* l = new QVBoxLayout(w);
    l->setContentsMargins(margin, margin, margin, margin);
    l->setSpacing(0);
    return l;
}

bool isGroupAmbientOnly(const AppSettings& settings, const std::vector<std::string>& groupLights) {
    for (const HueLight& l : settings.lights()) {
        if (l.allows_color &&
            std::find(groupLights.begin(), groupLights.end(), l.lamp_id) != groupLights.end()) {
            return false;
        }
    }
    return true;
}

// ---- RowTitle ------------------------------------------------------------------

RowTitle::RowTitle(QWidget* parent) : QLabel(parent) {
    setFont(ui::panelFont(10));
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
    p.setPen(ui::ink(ui::isDarkScheme(this), 0.8));
    const QString shown = QFontMetrics(font()).elidedText(name_, Qt::ElideRight, width());
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

// ---- ControlRow ------------------------------------------------------------------

ControlRow::ControlRow(AppSettings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
    static const bool accessible = [] {
        QAccessible::installFactory(rowFactory);
        return true;
    }();
    (void)accessible;
    layout_ = column(this, 5);
    layout_->setSpacing(3);
    title_ = new RowTitle;
    layout_->addWidget(title_);
    controls_ = new QHBoxLayout;
    controls_->setSpacing(5);
    controls_->setContentsMargins(0, 0, 0, 0);
    onOff_ = new OnOffButton;
    controls_->addWidget(onOff_);
    layout_->addLayout(controls_);
}

void ControlRow::addSlider(std::function<void(std::int64_t)> moved) {
    slider_ = new CustomSlider;
    controls_->addWidget(slider_, 1);
    connect(slider_, &CustomSlider::moved, this,
            [moved = std::move(moved)](double v) { moved(brightnessAt(v)); });
}

void ControlRow::addTemperatureBar(std::function<void(double)> chosen) {
    temperature_ = new TemperatureBar;
    layout_->addWidget(temperature_);
    connect(temperature_, &TemperatureBar::released, this, [this, chosen](double x) {
        // Acted on after the release has been handled.
        QTimer::singleShot(0, this, [chosen, x] { chosen(x); });
    });
}

void ControlRow::addHueField(std::function<void(std::int64_t, std::int64_t)> picked) {
    hueField_ = new HueSatField;
    layout_->addWidget(hueField_);
    connect(hueField_, &HueSatField::picked, this, std::move(picked));
}

void ControlRow::show(const Values& v) {
    title_->setName(v.name);
    onOff_->setOn(v.on);
    onOff_->setAccessibleName(tr("%1 on").arg(v.name));
    if (slider_) {
        slider_->setValue(std::clamp(v.brightness / 255.0, 0.0, 1.0));
        slider_->setKeyStep(static_cast<double>(settings_.keyIncrement()) / 255.0);
        slider_->setAccessibleName(
            tr("%1 brightness, %2 %").arg(v.name).arg(qRound(slider_->value() * 100)));
    }
    if (temperature_) {
        temperature_->setAccessibleName(tr("%1 colour temperature").arg(v.name));
        temperature_->setPosition(temperaturePosition(v.temperature, v.ctMin, v.ctMax));
    }
    if (hueField_) {
        hueField_->setAccessibleName(tr("%1 colour").arg(v.name));
        hueField_->setPoint(huePoint(v.hue, v.saturation));
    }
}

// ---- GroupRow --------------------------------------------------------------------

GroupRow::GroupRow(AppSettings& settings, CommandQueue& commands, const HueGroup& group,
                   QWidget* parent)
    : ControlRow(settings, parent), commands_(commands), group_(group) {
    addSlider([this](std::int64_t b) {
        change(
            [b](HueGroup& g) {
                g.brightness = b;
                g.is_on = true;
            },
            [this, b](const HueGroup& g) { setGroupBrightness(commands_, g, b); });
    });
    if (settings_.showScenes() && groupHasScenes(settings_, group.group_id)) {
        sceneButton_ =
            new IconButton(QStringLiteral(":/panel/paintpalette.svg"), {14, 12}, 0.5, true);
        sceneButton_->setAccessibleName(tr("%1 scenes").arg(QString::fromStdString(group.name)));
        controls_->addWidget(sceneButton_);
        connect(sceneButton_, &IconButton::clicked, this, [this] { openScenes(); });
    }
    if (settings_.showColorBarsForRooms()) {
        if (isGroupAmbientOnly(settings_, group.lights)) {
            addTemperatureBar([this](double x) {
                change(
                    [x](HueGroup& g) {
                        g.color_temperature = TemperatureBar::temperatureAt(x, g.ct_min, g.ct_max);
                        g.is_on = true;
                    },
                    [this](const HueGroup& g) {
                        setGroupTemperature(commands_, g, g.color_temperature);
                    });
            });
        } else {
            addHueField([this](std::int64_t hue, std::int64_t sat) {
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
    connect(onOff(), &OnOffButton::pressed, this, [this] {
        const bool on = !group_.is_on;
        change([on](HueGroup& g) { g.is_on = on; },
               [this, on](const HueGroup& g) { setGroupOn(commands_, g, on); });
    });
    setGroup(group);
}

void GroupRow::setGroup(const HueGroup& group) {
    group_ = group;
    show(valuesOf(group));
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
    : ControlRow(settings, parent), commands_(commands), light_(light) {
    if (light.allows_brightness) {
        addSlider([this](std::int64_t b) {
            change(
                [b](HueLight& l) {
                    l.brightness = b;
                    l.is_on = true;
                },
                [this, b](const HueLight& l) { setLampBrightness(commands_, l, b); });
        });
    } else {
        controls_->addStretch(1);
    }
    if (light.allows_color && settings_.showColorBarsForLights()) {
        addHueField([this](std::int64_t hue, std::int64_t sat) {
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
        addTemperatureBar([this](double x) {
            change(
                [x](HueLight& l) {
                    l.color_temperature = TemperatureBar::temperatureAt(x, l.ct_min, l.ct_max);
                    l.is_on = true;
                },
                [this](const HueLight& l) {
                    setLampTemperature(commands_, l, l.color_temperature);
                });
        });
    }
    connect(onOff(), &OnOffButton::pressed, this, [this] {
        const bool on = !light_.is_on;
        change([on](HueLight& l) { l.is_on = on; },
               [this, on](const HueLight& l) { setLampOn(commands_, l, on); });
    });
    setLight(light);
}

void LightRow::setLight(const HueLight& light) {
    light_ = light;
    show(valuesOf(light));
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

}  // namespace lumora::panel
