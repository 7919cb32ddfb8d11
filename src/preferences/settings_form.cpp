#include "preferences/settings_form.h"

#include <QButtonGroup>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QWidgetItem>

namespace lumora::prefs {

SettingsForm::SettingsForm(int width, QWidget* parent) : QWidget(parent) {
    setFixedWidth(width);
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(20, 20, 20, 20);
    grid_->setHorizontalSpacing(10);
    grid_->setVerticalSpacing(10);
    // The label column takes a little under half, as settings pages do.
    grid_->setColumnStretch(0, 4);
    grid_->setColumnStretch(1, 5);
}

QLabel* SettingsForm::place(const QString& label, QLayoutItem* content, Qt::Alignment labelAlign) {
    const int row = grid_->rowCount();
    QLabel* l = nullptr;
    if (!label.isEmpty()) {
        l = new QLabel(label, this);
        grid_->addWidget(l, row, 0, labelAlign);
        if (QWidget* w = content->widget()) {
            l->setBuddy(w);
            w->setAccessibleName(label);
            labels_.emplace_back(w, l);
        }
    }
    content->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Without a label the content spans both columns, like the list pages.
    if (label.isEmpty())
        grid_->addItem(content, row, 0, 1, 2);
    else
        grid_->addItem(content, row, 1);
    return l;
}

QLabel* SettingsForm::addRow(const QString& label, QWidget* content) {
    content->setParent(this);
    // Single-line controls: centring the label on them puts both texts on
    // one baseline closely enough, which the grid cannot do by itself.
    return place(label, new QWidgetItem(content), Qt::AlignRight | Qt::AlignVCenter);
}

QLabel* SettingsForm::addRow(const QString& label, QLayout* content) {
    auto* holder = new QWidget(this);
    holder->setLayout(content);
    content->setContentsMargins(0, 0, 0, 0);
    return place(label, new QWidgetItem(holder), Qt::AlignRight | Qt::AlignVCenter);
}

void SettingsForm::addDivider() {
    grid_->addWidget(new Divider(this), grid_->rowCount(), 0, 1, 2);
}

Divider::Divider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Mid));
}

QLabel* SettingsForm::addHeading(const QString& text) {
    auto* l = new QLabel(text, this);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    grid_->addWidget(l, grid_->rowCount(), 0, 1, 2, Qt::AlignLeft);
    return l;
}

QLabel* SettingsForm::labelFor(const QWidget* content) const {
    for (const auto& [w, l] : labels_)
        if (w == content) return l;
    return nullptr;
}

// ---- SettingsSwitch -------------------------------------------------------------

SettingsSwitch::SettingsSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SettingsSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QRectF track = QRectF(rect()).adjusted(1.5, 2.5, -1.5, -2.5);
    const qreal r = track.height() / 2;
    const bool on = isChecked();
    QColor fill = on ? pal.color(QPalette::Highlight) : pal.color(QPalette::Mid);
    if (!isEnabled()) fill.setAlphaF(0.4);
    p.setPen(hasFocus() ? QPen(pal.color(QPalette::Highlight).lighter(130), 1.5) : Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(track, r, r);
    const qreal d = track.height() - 4;
    const qreal x = on ? track.right() - 2 - d : track.left() + 2;
    p.setPen(Qt::NoPen);
    p.setBrush(on ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Base));
    p.drawEllipse(QRectF(x, track.top() + 2, d, d));
}

// ---- ImageSegments --------------------------------------------------------------

ImageSegments::ImageSegments(const std::vector<QString>& names, int width, QSize iconSize,
                             std::function<QIcon(const QString&)> iconFor, QWidget* parent)
    : QWidget(parent), names_(names), group_(new QButtonGroup(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const int each = names.empty() ? width : width / static_cast<int>(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        auto* b = new QToolButton(this);
        b->setCheckable(true);
        b->setIcon(iconFor(names[i]));
        b->setIconSize(iconSize);
        b->setFixedWidth(each);
        b->setAccessibleName(names[i]);
        b->setToolTip(names[i]);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        group_->addButton(b, static_cast<int>(i));
        buttons_.push_back(b);
        row->addWidget(b);
    }
    group_->setExclusive(true);
    restyle();
    connect(group_, &QButtonGroup::idClicked, this,
            [this](int id) { emit chosen(names_[size_t(id)]); });
}

void ImageSegments::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::PaletteChange) restyle();
}

// One joined strip with the chosen segment tinted, readable in both schemes;
// the style's own checked tool button is hard to tell apart on some palettes.
void ImageSegments::restyle() {
    const QPalette& pal = palette();
    auto rgba = [](QColor c, qreal a) {
        return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(a);
    };
    const QString border = rgba(pal.color(QPalette::WindowText), 0.25);
    for (size_t i = 0; i < buttons_.size(); ++i) {
        const bool first = i == 0, last = i + 1 == buttons_.size();
        buttons_[i]->setStyleSheet(
            QStringLiteral("QToolButton { border: 1px solid %1; %2 padding: 4px; background: %3;"
                           " border-top-left-radius: %4px; border-bottom-left-radius: %4px;"
                           " border-top-right-radius: %5px; border-bottom-right-radius: %5px; }"
                           "QToolButton:checked { background: %6; }"
                           "QToolButton:focus { border-color: %7; }")
                .arg(border, first ? QString() : QStringLiteral("border-left: none;"),
                     rgba(pal.color(QPalette::Button), 1.0))
                .arg(first ? 4 : 0)
                .arg(last ? 4 : 0)
                .arg(rgba(pal.color(QPalette::Highlight), 0.45),
                     rgba(pal.color(QPalette::Highlight), 1.0)));
    }
}

void ImageSegments::setCurrent(const QString& name) {
    for (size_t i = 0; i < names_.size(); ++i) {
        if (names_[i] == name) {
            buttons_[i]->setChecked(true);
            return;
        }
    }
    // An unknown name (a hand-edited setting) leaves nothing chosen.
    group_->setExclusive(false);
    for (auto* b : buttons_) b->setChecked(false);
    group_->setExclusive(true);
}

QString ImageSegments::current() const {
    const int id = group_->checkedId();
    return id < 0 ? QString() : names_[size_t(id)];
}

QToolButton* ImageSegments::segment(const QString& name) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == name) return buttons_[i];
    return nullptr;
}

}  // namespace lumora::prefs
