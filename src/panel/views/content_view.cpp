#include "panel/views/content_view.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>

#include "base/setting_keys.h"
#include "panel/views/panel_lists.h"
#include "ui/icon_button.h"
#include "ui/panel_tab.h"
#include "ui/theme.h"

namespace lumora::panel {

using ui::grey;
using ui::ink;
using ui::isDarkScheme;
using ui::panelFont;

namespace {

QLabel* text(const QString& s, int px, QFont::Weight weight, qreal opacity, bool dark) {
    auto* l = new QLabel(s);
    l->setFont(panelFont(px, weight));
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, ink(dark, opacity));
    l->setPalette(pal);
    return l;
}

}  // namespace

ContentView::ContentView(AppSettings& settings, CommandQueue& commands, PanelActions actions,
                         QWidget* parent)
    : QWidget(parent), settings_(settings), commands_(commands), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("ContentView"));
    setFixedWidth(kPanelWidth);
    setMinimumHeight(200);
    setAttribute(Qt::WA_TranslucentBackground);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // Only one title bar is ever visible; the other takes no room.
    welcomeTitle_ = makeWelcomeTitle();
    regularTitle_ = makeRegularTitle();
    layout->addWidget(welcomeTitle_);
    layout->addWidget(regularTitle_);

    auto* divider = new QWidget;
    divider->setFixedHeight(9);
    divider->setObjectName(QStringLiteral("divider"));
    layout->addWidget(divider);

    auto* switcher = new QHBoxLayout;
    switcher->setContentsMargins(10, 0, 10, 5);
    switcher->setSpacing(1);
    lightsTab_ = new PanelTab(tr("LIGHTS"));
    roomsTab_ = new PanelTab(tr("ROOMS"));
    switcher->addWidget(lightsTab_, 1);
    switcher->addWidget(roomsTab_, 1);
    layout->addLayout(switcher);
    connect(lightsTab_, &PanelTab::clicked, this,
            [this] { settings_.setActiveMainPanel(MainPanels::lights); });
    connect(roomsTab_, &PanelTab::clicked, this,
            [this] { settings_.setActiveMainPanel(MainPanels::rooms); });

    bodyLayout_ = new QVBoxLayout;
    bodyLayout_->setContentsMargins(0, 0, 0, 6);
    layout->addLayout(bodyLayout_, 1);

    observer_ = settings_.addObserver([this](AppSettings::Field f) {
        using F = AppSettings::Field;
        if (f == F::log || f == F::actionQueue || f == F::lastUserActionAt || queued_) return;
        queued_ = true;
        QTimer::singleShot(0, this, [this] {
            // A closed panel catches up when it opens.
            if (isVisible()) sync();
        });
    });
    sync();
}

ContentView::~ContentView() {
    settings_.removeObserver(observer_);
}

QSize ContentView::sizeHint() const {
    return {kPanelWidth, static_cast<int>(std::max<std::int64_t>(
                             200, settings_.getCurrentPreferredWindowHeight()))};
}

QWidget* ContentView::makeWelcomeTitle() {
    const bool dark = isDarkScheme(this);
    auto* w = new QWidget;
    auto* l = new QVBoxLayout(w);
    l->setContentsMargins(0, 15, 0, 15);
    l->setSpacing(6);
    auto* title = text(QStringLiteral("Lumora"), 12, QFont::Bold, 0.7, dark);
    title->setAlignment(Qt::AlignCenter);
    l->addWidget(title);
    welcomeSettings_ = new QPushButton(tr("Settings"));
    welcomeSettings_->setFont(panelFont(11));
    connect(welcomeSettings_, &QPushButton::clicked, this, [this] {
        if (actions_.showSettings) actions_.showSettings();
    });
    l->addWidget(welcomeSettings_, 0, Qt::AlignHCenter);
    return w;
}

QWidget* ContentView::makeRegularTitle() {
    const bool dark = isDarkScheme(this);
    auto* w = new QWidget;
    auto* row = new QHBoxLayout(w);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(4);

    plainTitle_ = text(QStringLiteral("Lumora"), 12, QFont::Bold, 0.7, dark);
    plainTitle_->setContentsMargins(0, 12, 0, 0);
    row->addWidget(plainTitle_, 0, Qt::AlignTop);

    reviewRequest_ = new QWidget;
    auto* rr = new QHBoxLayout(reviewRequest_);
    rr->setContentsMargins(0, 0, 0, 0);
    rr->setSpacing(4);
    heart_ = new IconButton(QStringLiteral(":/panel/heart.svg"), {14, 14}, 1.0, false);
    heart_->setAccessibleName(tr("Write a review"));
    auto* ask = text(tr("Got a second?"), 10, QFont::Light, 0.7, dark);
    auto* heartBox = new QVBoxLayout;
    heartBox->setContentsMargins(0, 10, 0, 0);
    heartBox->addWidget(heart_);
    rr->addLayout(heartBox);
    ask->setContentsMargins(0, 12, 0, 0);
    rr->addWidget(ask, 0, Qt::AlignTop);
    row->addWidget(reviewRequest_, 0, Qt::AlignTop);
    connect(heart_, &IconButton::clicked, this, [this] { review(); });

    row->addStretch(1);
    gear_ = new IconButton(QStringLiteral(":/panel/gear.svg"), {14, 14}, 0.7, true);
    gear_->setAccessibleName(tr("Settings"));
    auto* gearBox = new QVBoxLayout;
    gearBox->setContentsMargins(0, 10, 0, 0);
    gearBox->addWidget(gear_);
    row->addLayout(gearBox);
    connect(gear_, &IconButton::clicked, this, [this] {
        if (actions_.closePanel) actions_.closePanel();
        if (actions_.showSettings) actions_.showSettings();
    });
    w->setFixedHeight(32);
    return w;
}

QWidget* ContentView::makeEmptyState(const QString& first, int margin, bool linkWarning) {
    const bool dark = isDarkScheme(this);
    auto* w = new QWidget;
    auto* l = new QVBoxLayout(w);
    l->setContentsMargins(margin, margin, margin, margin);
    l->setSpacing(0);
    auto* t = text(first + QStringLiteral("\n\n") +
                       tr("Have you opened the settings and connected to the bridge?"),
                   12, QFont::Normal, 0.85, dark);
    t->setWordWrap(true);
    l->addWidget(t);
    warning_ = nullptr;
    connect_ = nullptr;
    if (linkWarning) {
        warning_ = new QLabel(tr("Bridge responded: Press LINK BUTTON and retry"));
        warning_->setFont(panelFont(10));
        warning_->setWordWrap(true);
        warning_->setContentsMargins(10, 10, 10, 10);
        QPalette pal = warning_->palette();
        pal.setColor(QPalette::WindowText, QColor(0xe0, 0x30, 0x30));
        warning_->setPalette(pal);
        l->addWidget(warning_);
        connect_ = new QPushButton(tr("Connect"));
        connect(connect_, &QPushButton::clicked, this, [this] {
            if (actions_.connectToBridge) actions_.connectToBridge();
        });
        l->addWidget(connect_, 0, Qt::AlignHCenter);
    }
    l->addStretch(1);
    return w;
}

bool ContentView::showsWelcomeTitle() const {
    return !welcomeTitle_->isHidden();
}

QString ContentView::bodyName() const {
    return bodyName_;
}

void ContentView::sync() {
    queued_ = false;
    const bool welcome = settings_.lights().empty();
    welcomeTitle_->setVisible(welcome);
    regularTitle_->setVisible(!welcome);
    const bool review = settings_.showReviewRequest();
    plainTitle_->setVisible(!review);
    reviewRequest_->setVisible(review);
    const MainPanels panel = settings_.activeMainPanel();
    lightsTab_->setSelected(panel == MainPanels::lights);
    roomsTab_->setSelected(panel == MainPanels::rooms);

    QString name;
    switch (panel) {
        case MainPanels::lights:
            name = settings_.lights().empty()
                       ? (settings_.needsLinkButton() ? "NoLights+link" : "NoLights")
                       : "ListLights";
            break;
        case MainPanels::rooms:
            name = settings_.groups().empty() ? "NoGroups" : "ListGroups";
            break;
        case MainPanels::scenes:
            name = settings_.scenes().empty() ? "NoScenes" : "ListScenes";
            break;
    }
    if (body_ && name == bodyKey_) return;
    bodyKey_ = name;

    if (body_) {
        bodyLayout_->removeWidget(body_);
        body_->deleteLater();
    }
    if (name == "ListLights") {
        body_ = new ListLights(settings_, commands_);
    } else if (name == "ListGroups") {
        body_ = new ListGroups(settings_, commands_);
    } else if (name == "ListScenes") {
        body_ = new ListScenes(settings_, commands_);
    } else if (name.startsWith("NoLights")) {
        body_ = makeEmptyState(tr("Okay, we're not able to detect any lights just yet."), 10,
                               name.endsWith("+link"));
    } else if (name == "NoGroups") {
        body_ = makeEmptyState(tr("There aren't any rooms visible just yet."), 10, false);
    } else {
        body_ = makeEmptyState(tr("There aren't any scenes visible just yet."), 15, false);
    }
    bodyName_ = name.startsWith("NoLights") ? QStringLiteral("NoLights") : name;
    bodyLayout_->addWidget(body_);
}

void ContentView::review() {
    if (actions_.openURL) actions_.openURL(actions_.reviewURL);
    settings_.defaults().setBool(keys::noMoreReviewRequests, true);
    settings_.defaults().setString(keys::reviewedVersion, actions_.version);
    settings_.setShowReviewRequest(false);
}

void ContentView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool dark = isDarkScheme(this);
    p.setPen(Qt::NoPen);
    p.setBrush(dark ? grey(0.1, 0.98) : QColor(250, 250, 250, qRound(0.98 * 255)));
    p.drawRoundedRect(QRectF(rect()), 10, 10);
    // The divider under the title bar.
    const QWidget* divider = findChild<QWidget*>(QStringLiteral("divider"));
    if (divider) {
        const int y = divider->geometry().center().y();
        p.fillRect(QRectF(10, y, width() - 20, 1), ink(dark, 0.12));
    }
}

void ContentView::showEvent(QShowEvent* e) {
    if (queued_) sync();
    settings_.markUserAction();
    QWidget::showEvent(e);
}

void ContentView::hideEvent(QHideEvent* e) {
    settings_.markUserAction();
    QWidget::hideEvent(e);
}

void ContentView::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::PaletteChange || e->type() == QEvent::ApplicationPaletteChange) {
        // Labels hold their colours; rebuild the parts made with them.
        const bool dark = isDarkScheme(this);
        for (QLabel* l : findChildren<QLabel*>()) {
            if (l == warning_) continue;
            QPalette pal = l->palette();
            QColor c = pal.color(QPalette::WindowText);
            const qreal a = c.alphaF();
            c = ink(dark, a);
            pal.setColor(QPalette::WindowText, c);
            l->setPalette(pal);
        }
        update();
    }
}

}  // namespace lumora::panel
