#include "preferences/lights_pane.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "app/light_order.h"
#include "base/setting_keys.h"
#include "preferences/settings_form.h"

namespace lumora::prefs {

std::string hideLightKey(const std::string& uniqueId) {
    return keys::hideLight(uniqueId);
}

LampPreferenceToggle::LampPreferenceToggle(DefaultsStore& store, std::string uniqueId,
                                           std::string lampId, const QString& name)
    : QListWidgetItem(name), uniqueId_(std::move(uniqueId)), lampId_(std::move(lampId)) {
    setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
             Qt::ItemIsDragEnabled);
    setData(kUniqueIdRole, QString::fromStdString(uniqueId_));
    setData(kLampIdRole, QString::fromStdString(lampId_));
    // Never toggled means shown.
    setLightHidden(store.boolean(hideLightKey(uniqueId_)));
}

// ---- LampRowDelegate ------------------------------------------------------------------

QRect LampRowDelegate::switchRect(const QRect& row) {
    const QSize s(36, 20);
    return QRect(row.right() - 8 - s.width(), row.center().y() - s.height() / 2 + 1, s.width(),
                 s.height());
}

QSize LampRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    // No width of its own: a row is as wide as the list shows it.
    return {1, std::max(28, option.fontMetrics.height() + 12)};
}

void LampRowDelegate::paint(QPainter* p, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem o(option);
    initStyleOption(&o, index);
    const QPalette& pal = o.palette;
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    if (o.state & QStyle::State_Selected) {
        QColor sel = pal.color(QPalette::Highlight);
        sel.setAlphaF(0.18);
        p->fillRect(o.rect, sel);
    }
    // The drag handle says the rows can be moved.
    QColor grip = pal.color(QPalette::WindowText);
    grip.setAlphaF(0.35);
    p->setPen(QPen(grip, 1.2));
    const int gx = o.rect.left() + 8;
    for (int i = -1; i <= 1; ++i) {
        const int y = o.rect.center().y() + i * 4;
        p->drawLine(gx, y, gx + 10, y);
    }
    const QRect sw = switchRect(o.rect);
    const QRect text(gx + 20, o.rect.top(), sw.left() - gx - 28, o.rect.height());
    p->setPen(pal.color(QPalette::Text));
    p->setFont(o.font);
    p->drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                o.fontMetrics.elidedText(o.text, Qt::ElideRight, text.width()));

    const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    const QRectF track = QRectF(sw).adjusted(1.5, 2.5, -1.5, -2.5);
    const qreal r = track.height() / 2;
    p->setPen(Qt::NoPen);
    p->setBrush(on ? pal.color(QPalette::Highlight) : pal.color(QPalette::Mid));
    p->drawRoundedRect(track, r, r);
    const qreal d = track.height() - 4;
    p->setBrush(on ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Base));
    p->drawEllipse(QRectF(on ? track.right() - 2 - d : track.left() + 2, track.top() + 2, d, d));
    p->restore();
}

bool LampRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                  const QStyleOptionViewItem& option, const QModelIndex& index) {
    auto flip = [&] {
        const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        return model->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    };
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* m = static_cast<QMouseEvent*>(event);
        if (m->button() == Qt::LeftButton &&
            switchRect(option.rect).contains(m->position().toPoint()))
            return flip();
        return false;
    }
    if (event->type() == QEvent::MouseButtonDblClick) {
        auto* m = static_cast<QMouseEvent*>(event);
        // Swallowed over the switch so that a quick double click flips twice, not once.
        return switchRect(option.rect).contains(m->position().toPoint()) && flip();
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space || key == Qt::Key_Select) return flip();
    }
    return false;
}

// ---- LampSelectorView -----------------------------------------------------------------

LampSelectorView::LampSelectorView(AppSettings& settings, QWidget* parent)
    : QWidget(parent), settings_(settings), lights_(settings.lights()) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new QLabel(tr("Which lights do you want to control?"), this));
    column->addSpacing(10);
    column->addWidget(new Divider(this));
    column->addSpacing(10);

    list_ = new QListWidget(this);
    list_->setAccessibleName(tr("Which lights do you want to control?"));
    list_->setItemDelegate(new LampRowDelegate(list_));
    list_->setDragDropMode(QAbstractItemView::InternalMove);
    list_->setDefaultDropAction(Qt::MoveAction);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setUniformItemSizes(true);
    list_->setFrameShape(QFrame::StyledPanel);
    list_->setMinimumHeight(220);
    // Rows take the list's width; a long name elides instead of scrolling.
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setResizeMode(QListView::Adjust);
    for (const HueLight& l : lights_)
        list_->addItem(new LampPreferenceToggle(settings_.defaults(), l.unique_id, l.lamp_id,
                                                QString::fromStdString(l.name)));
    column->addWidget(list_, 1);

    connect(list_, &QListWidget::itemChanged, this, &LampSelectorView::storeSwitch);
    // A drop inside the list moves rows; where a move cannot be done the view
    // copies the rows and then removes the originals, which ends the same way.
    connect(list_->model(), &QAbstractItemModel::rowsMoved, this,
            &LampSelectorView::takeOrderFromList);
    connect(list_->model(), &QAbstractItemModel::rowsRemoved, this,
            &LampSelectorView::takeOrderFromList);
}

LampPreferenceToggle* LampSelectorView::toggle(int row) const {
    return dynamic_cast<LampPreferenceToggle*>(list_->item(row));
}

void LampSelectorView::storeSwitch(QListWidgetItem* item) {
    const std::string uid =
        item->data(LampPreferenceToggle::kUniqueIdRole).toString().toStdString();
    const bool hidden = item->checkState() != Qt::Checked;
    DefaultsStore& store = settings_.defaults();
    if (store.contains(hideLightKey(uid)) && store.boolean(hideLightKey(uid)) == hidden) return;
    store.setBool(hideLightKey(uid), hidden);
    // Which lights the panel lists changed with it: an open panel drops or
    // brings back the row now, as for any change to the lights.
    settings_.mutateLights([](std::vector<HueLight>&) {});
}

void LampSelectorView::takeOrderFromList() {
    std::vector<HueLight> reordered;
    for (int i = 0; i < list_->count(); ++i) {
        const std::string id =
            list_->item(i)->data(LampPreferenceToggle::kLampIdRole).toString().toStdString();
        auto it = std::find_if(lights_.begin(), lights_.end(),
                               [&](const HueLight& l) { return l.lamp_id == id; });
        if (it != lights_.end()) reordered.push_back(*it);
    }
    // Half-way through a copy-and-remove move the list holds a row twice.
    if (reordered.size() != lights_.size()) return;
    lights_ = std::move(reordered);
    saveDeviceOrder(lights_, settings_.defaults());
    // The panel takes the new order now rather than at the next refresh.
    settings_.setLights(orderedLights(settings_.lights(), settings_.defaults()));
}

LightsPane::LightsPane(AppSettings& settings, QWidget* parent) : QWidget(parent) {
    setFixedWidth(450);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    selector_ = new LampSelectorView(settings, this);
    column->addWidget(selector_);
}

}  // namespace lumora::prefs
