#include "panel/views/panel_lists.h"

#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/light_order.h"
#include "base/letter_case.h"
#include "base/setting_keys.h"

namespace lumora::panel {

namespace {

bool groupHasScenes(const AppSettings& settings, const std::string& groupId) {
    return std::any_of(settings.scenes().begin(), settings.scenes().end(),
                       [&](const HueScene& s) { return s.group == groupId; });
}

// Gives each row the current record with its bridge id, in place.
template <typename Row, typename Record, typename Get, typename Set>
void refreshRows(const std::vector<Row*>& rows, const std::vector<Record>& records,
                 std::string Record::*bridgeId, Get get, Set set) {
    for (Row* row : rows) {
        const auto it = std::find_if(records.begin(), records.end(), [&](const Record& r) {
            return r.*bridgeId == (row->*get)().*bridgeId;
        });
        if (it != records.end()) (row->*set)(*it);
    }
}

}  // namespace

bool isLightHidden(const AppSettings& settings, const HueLight& light) {
    return settings.defaults().boolean(keys::hideLight(light.unique_id));
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
