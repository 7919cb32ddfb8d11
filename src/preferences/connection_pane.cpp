#include "preferences/connection_pane.h"

#include <QButtonGroup>
#include <QEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "base/setting_keys.h"
#include "bridge/bridge_address.h"
#include "ui/divider.h"
#include "ui/theme.h"
#include "ui/translations.h"

namespace lumora::prefs {

namespace {

// The system colours, a little brighter on a dark window so they stay legible.
QColor red(bool dark) {
    return dark ? QColor(255, 69, 58) : QColor(215, 0, 21);
}
QColor green(bool dark) {
    return dark ? QColor(48, 209, 88) : QColor(0, 140, 50);
}
QColor blue(bool dark) {
    return dark ? QColor(64, 156, 255) : QColor(0, 102, 214);
}
QColor grey(bool dark) {
    return dark ? QColor(152, 152, 157) : QColor(108, 108, 112);
}

QString rgba(const QColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(c.alphaF(), 0, 'f', 2);
}

QFont sized(const QFont& base, int pixels, QFont::Weight weight) {
    QFont f = base;
    f.setPixelSize(pixels);
    f.setWeight(weight);
    return f;
}

void setTextColor(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::ButtonText, c);
    w->setPalette(p);
}

// Runs `work` once, `delay` from now, on `dispatcher`'s clock; the returned
// handle cancels it.
std::weak_ptr<RepeatingTimer> once(Dispatcher& dispatcher, std::chrono::milliseconds delay,
                                   std::function<void()> work) {
    auto self = std::make_shared<std::weak_ptr<RepeatingTimer>>();
    *self = dispatcher.scheduleRepeating(delay, [self, work = std::move(work)] {
        invalidate(*self);
        work();
    });
    return *self;
}

}  // namespace

// ---------------------------------------------------------------------------

ConfigurationPart::ConfigurationPart(AppSettings& settings, const ConnectionActions& actions,
                                     QWidget* parent)
    : QWidget(parent), settings_(settings), actions_(actions) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // Header: the title, or the error bar in its place.
    title_ = new QLabel(tr("Connect to Hue Bridge"));
    title_->setFont(sized(font(), 20, QFont::DemiBold));
    title_->setAlignment(Qt::AlignCenter);
    errorBar_ = new QLabel;
    errorBar_->setWordWrap(true);
    errorBar_->setAlignment(Qt::AlignCenter);
    errorBar_->setTextFormat(Qt::PlainText);
    errorBar_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    errorBar_->setStyleSheet(
        QStringLiteral("QLabel { color: white; background-color: rgb(200,0,0); "
                       "border-radius: 6px; padding: 5px; }"));
    errorBar_->setAccessibleName(tr("Connection error"));
    layout->addWidget(title_);
    layout->addWidget(errorBar_);

    // A certificate the person may choose to trust: only after a refusal of
    // that kind, with the fingerprint to compare against the bridge's own.
    trustOffer_ = new QWidget;
    auto* trustLayout = new QVBoxLayout(trustOffer_);
    trustLayout->setContentsMargins(0, 8, 0, 0);
    trustLayout->setSpacing(4);
    auto* trustWhy =
        new QLabel(tr("If this is a software bridge you run yourself, compare its "
                      "certificate's SHA-256 fingerprint:"));
    trustWhy->setWordWrap(true);
    trustWhy->setAlignment(Qt::AlignCenter);
    trustFingerprint_ = new QLabel;
    trustFingerprint_->setWordWrap(true);
    trustFingerprint_->setAlignment(Qt::AlignCenter);
    trustFingerprint_->setTextFormat(Qt::PlainText);
    trustFingerprint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    trustFingerprint_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    trustFingerprint_->setAccessibleName(tr("Certificate fingerprint"));
    trustButton_ = new QPushButton(tr("Trust this bridge's certificate"));
    trustLayout->addWidget(trustWhy);
    trustLayout->addWidget(trustFingerprint_);
    trustLayout->addWidget(trustButton_, 0, Qt::AlignHCenter);
    layout->addWidget(trustOffer_);
    connect(trustButton_, &QPushButton::clicked, this, [this] {
        if (offeredFingerprint_.empty() || !actions_.trustCertificate) return;
        actions_.trustCertificate(offeredFingerprint_);
    });
    layout->addSpacing(10);
    layout->addWidget(ui::divider());

    // The form, while not connected.
    form_ = new QWidget;
    auto* formLayout = new QVBoxLayout(form_);
    formLayout->setContentsMargins(0, 10, 0, 0);
    formLayout->setSpacing(0);
    auto* prompt = new QLabel(tr("IP address of your HUE bridge"));
    prompt->setAlignment(Qt::AlignCenter);
    formLayout->addWidget(prompt);
    formLayout->addSpacing(6);

    auto* choiceRow = new QHBoxLayout;
    automatic_ = new QRadioButton(tr("Automatic"));
    manual_ = new QRadioButton(tr("Manual"));
    choice_ = new QButtonGroup(this);
    choice_->addButton(automatic_, 0);
    choice_->addButton(manual_, 1);
    automatic_->setChecked(true);
    choiceRow->addStretch(1);
    choiceRow->addWidget(automatic_);
    choiceRow->addSpacing(12);
    choiceRow->addWidget(manual_);
    choiceRow->addStretch(1);
    formLayout->addLayout(choiceRow);
    formLayout->addSpacing(10);
    connect(choice_, &QButtonGroup::idClicked, this, [this](int id) { setConnectionType(id); });

    manualRow_ = new QWidget;
    auto* manualLayout = new QHBoxLayout(manualRow_);
    manualLayout->setContentsMargins(0, 0, 0, 0);
    address_ = new QLineEdit;
    address_->setFont(sized(font(), 16, QFont::Normal));
    address_->setPlaceholderText(QString());
    address_->setAccessibleName(tr("IP address of your HUE bridge"));
    address_->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase |
                                  Qt::ImhPreferLatin);
    address_->setMinimumWidth(230);
    formConnect_ = new QPushButton(tr("Connect"));
    // The field's larger type sets the row's height; the button follows it.
    formConnect_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    manualLayout->addWidget(address_, 1);
    manualLayout->addWidget(formConnect_);
    formLayout->addWidget(manualRow_, 0, Qt::AlignHCenter);
    connect(address_, &QLineEdit::textEdited, this, [this](const QString& text) {
        // Any edit makes an old error stale.
        settings_.setConnectionError({});
        settings_.setHueIP(text.toStdString());
    });
    connect(address_, &QLineEdit::returnPressed, this, [this] { formConnect(); });
    connect(formConnect_, &QPushButton::clicked, this, [this] { formConnect(); });

    automaticRow_ = new QWidget;
    auto* automaticLayout = new QHBoxLayout(automaticRow_);
    automaticLayout->setContentsMargins(0, 0, 0, 0);
    detect_ = new QPushButton(tr("Detect"));
    // Room for the busy text, so the button does not jump while detecting.
    detect_->setMinimumWidth(
        std::max(detect_->sizeHint().width(),
                 detect_->fontMetrics().horizontalAdvance(tr("Detecting…")) + 32));
    automaticLayout->addStretch(1);
    automaticLayout->addWidget(detect_);
    automaticLayout->addStretch(1);
    formLayout->addWidget(automaticRow_);
    connect(detect_, &QPushButton::clicked, this, [this] { detect(); });

    formLayout->addSpacing(10);
    formLayout->addWidget(ui::divider());
    layout->addWidget(form_);

    layout->addSpacing(10);
    auto* heading = new QLabel(tr("Connection Status"));
    heading->setFont(sized(font(), 13, QFont::DemiBold));
    heading->setAlignment(Qt::AlignCenter);
    layout->addWidget(heading);
    layout->addSpacing(6);

    // The link-button hint, while not connected.
    linkHint_ = new QWidget;
    auto* hintLayout = new QVBoxLayout(linkHint_);
    hintLayout->setContentsMargins(0, 0, 0, 0);
    hintLayout->setSpacing(0);
    linkHintText_ =
        new QLabel(tr("You need to press the LINK button on your bridge before clicking Connect."));
    linkHintText_->setWordWrap(true);
    linkHintText_->setAlignment(Qt::AlignCenter);
    hintLayout->addWidget(linkHintText_);
    hintLayout->addSpacing(15);
    explainer_ = new LinkExplainer(settings_.dispatcher());
    hintLayout->addWidget(explainer_);
    hintLayout->addSpacing(6);
    layout->addWidget(linkHint_);

    auto* statusRow = new QHBoxLayout;
    status_ = new QLabel;
    status_->setFont(sized(font(), 13, QFont::Bold));
    statusButton_ = new QPushButton;
    statusRow->addStretch(1);
    statusRow->addWidget(status_);
    statusRow->addSpacing(10);
    statusRow->addWidget(statusButton_);
    statusRow->addStretch(1);
    layout->addLayout(statusRow);
    connect(statusButton_, &QPushButton::clicked, this, [this] { statusButtonClicked(); });

    connectedHint_ =
        new QLabel(tr("If you click the lamp in the menu bar, you should see your lights "
                      "now. If not, you can try to re-connect."));
    connectedHint_->setWordWrap(true);
    connectedHint_->setAlignment(Qt::AlignCenter);
    connectedHint_->setContentsMargins(0, 15, 0, 0);
    security_ = new QLabel;
    security_->setWordWrap(true);
    security_->setAlignment(Qt::AlignCenter);
    security_->setTextFormat(Qt::PlainText);
    security_->setContentsMargins(0, 8, 0, 0);
    layout->addWidget(security_);
    live_ = new QLabel;
    live_->setWordWrap(true);
    live_->setAlignment(Qt::AlignCenter);
    live_->setTextFormat(Qt::PlainText);
    live_->setContentsMargins(0, 4, 0, 0);
    layout->addWidget(live_);
    layout->addWidget(connectedHint_);

    setConnectionType(0);
    applyColors();
    observer_ = settings_.addObserver([this](AppSettings::Field f) {
        using F = AppSettings::Field;
        if (f == F::bridgeConnected || f == F::connectionError || f == F::hueIP || f == F::hueKey ||
            f == F::bridgeLink || f == F::liveStatus)
            refresh();
    });
    refresh();
}

ConfigurationPart::~ConfigurationPart() {
    settings_.removeObserver(observer_);
    invalidate(delayed_);
}

void ConfigurationPart::setConnectionType(int type) {
    connectionType_ = type == 1 ? 1 : 0;
    choice_->button(connectionType_)->setChecked(true);
    manualRow_->setVisible(connectionType_ == 1);
    automaticRow_->setVisible(connectionType_ == 0);
}

void ConfigurationPart::refresh() {
    const bool connected = settings_.bridgeConnected();
    const QString error = ui::connectionErrorText(settings_.connectionError());
    title_->setVisible(error.isEmpty());
    errorBar_->setVisible(!error.isEmpty());
    if (errorBar_->text() != error) errorBar_->setText(error);

    form_->setVisible(!connected);
    const QString ip = QString::fromStdString(settings_.hueIP());
    // Only outside changes land here; the user's own typing is already shown.
    if (address_->text() != ip) address_->setText(ip);
    detect_->setEnabled(!detecting_);
    detect_->setText(detecting_ ? tr("Detecting…") : tr("Detect"));

    linkHint_->setVisible(!connected);
    status_->setText(connected ? tr("CONNECTED") : tr("DISCONNECTED"));
    setTextColor(status_, connected ? green(ui::isDarkScheme(this)) : red(ui::isDarkScheme(this)));
    statusButton_->setText(connected ? tr("Disconnect") : tr("Connect"));
    connectedHint_->setVisible(connected);

    const BridgeLink& link = settings_.bridgeLink();
    const QString id = QString::fromStdString(link.bridgeId);
    QString security;
    if (connected && link.kind == BridgeLink::Kind::secure)
        security = link.pinned ? tr("Secure connection (HTTPS) to bridge %1, by the certificate "
                                    "you trusted.")
                                     .arg(id)
                               : tr("Secure connection (HTTPS) to bridge %1, its certificate "
                                    "checked.")
                                     .arg(id);
    else if (connected && link.kind == BridgeLink::Kind::plain)
        security = tr("Plain HTTP: a first-generation bridge, which has no HTTPS.");
    security_->setText(security);
    security_->setVisible(!security.isEmpty());

    QString live;
    if (connected) {
        switch (settings_.liveStatus()) {
            case LiveStatus::active:
                live = tr("Live updates: active; changes show as they happen.");
                break;
            case LiveStatus::connecting:
                live = tr("Live updates: connecting; reading every few seconds meanwhile.");
                break;
            case LiveStatus::unavailable:
                live =
                    tr("Live updates: not available with this bridge; reading every few "
                       "seconds.");
                break;
            case LiveStatus::off:
                live = tr("Live updates: off; reading every few seconds.");
                break;
        }
    }
    live_->setText(live);
    live_->setVisible(!live.isEmpty());

    const ConnectionError& e = settings_.connectionError();
    offeredFingerprint_ = e.offersTrust() ? e.certificate.fingerprint : std::string();
    trustFingerprint_->setText(QString::fromStdString(offeredFingerprint_));
    trustOffer_->setVisible(!offeredFingerprint_.empty() && bool(actions_.trustCertificate));
}

void ConfigurationPart::applyColors() {
    const bool dark = ui::isDarkScheme(this);
    setTextColor(linkHintText_, red(dark));
    setTextColor(status_, settings_.bridgeConnected() ? green(dark) : red(dark));
    QColor frame = palette().color(QPalette::WindowText);
    frame.setAlphaF(0.2);
    address_->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid %1; border-radius: 6px; "
                                           "padding: 3px 6px; background: transparent; }"
                                           "QLineEdit:focus { border-color: %2; }")
                                .arg(rgba(frame), rgba(palette().color(QPalette::Highlight))));
}

void ConfigurationPart::changeEvent(QEvent* e) {
    if (e->type() == QEvent::PaletteChange || e->type() == QEvent::ApplicationPaletteChange) {
        // setPalette on the children sends them their own change events only.
        applyColors();
    }
    QWidget::changeEvent(e);
}

void ConfigurationPart::afterDelay(std::function<void()> work) {
    settings_.setConnectionError({});
    invalidate(delayed_);
    delayed_ = once(settings_.dispatcher(), kActionDelay, std::move(work));
}

void ConfigurationPart::detect() {
    if (detecting_) return;
    detecting_ = true;
    refresh();
    afterDelay([this] {
        // The worker holds the detector and this way back only; the pane is
        // touched on the UI thread, once the token says it still exists. The
        // dispatcher runs the worker and waits for it before going away.
        Dispatcher& dispatcher = settings_.dispatcher();
        auto back = [this, alive = std::weak_ptr<int>(alive_),
                     dispatcher = &dispatcher](FoundBridge found) {
            // One block: the address is in place before the connection starts.
            dispatcher->postUI([this, alive, found = std::move(found)] {
                if (!alive.lock()) return;
                detecting_ = false;
                if (found.address.empty()) {
                    settings_.setConnectionError({ConnectionProblem::unreachable, {}});
                } else if (actions_.useFound) {
                    actions_.useFound(found);
                } else {
                    settings_.setHueIP(trimmed(found.address));
                    if (actions_.connectToBridge) actions_.connectToBridge();
                }
                refresh();
            });
        };
        dispatcher.postBG([find = actions_.detect, back] { back(find ? find() : FoundBridge()); });
    });
}

void ConfigurationPart::formConnect() {
    afterDelay([this] { reconnect(); });
}

void ConfigurationPart::statusButtonClicked() {
    if (settings_.bridgeConnected()) {
        if (actions_.disconnectBridge) actions_.disconnectBridge();
    } else {
        reconnect();
    }
}

void ConfigurationPart::reconnect() {
    // A mangled address would only produce a puzzling "unable to connect"
    // after a long wait; say what is wrong with it instead.
    const BridgeAddress address = parseBridgeAddress(settings_.hueIP());
    if (!address.ok()) {
        settings_.setConnectionError({connectionProblem(address.problem), settings_.hueIP()});
        return;
    }
    if (address.hostPort != settings_.hueIP()) settings_.setHueIP(address.hostPort);
    settings_.defaults().setString(keys::bridgeUser, "");
    settings_.setHueKey("");
    if (actions_.connectToBridge) actions_.connectToBridge();
}

// ---------------------------------------------------------------------------

ConnectionView::ConnectionView(AppSettings& settings, ConnectionActions actions, QWidget* parent)
    : QWidget(parent), settings_(settings), actions_(std::move(actions)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(0);

    // The settings' own trouble comes first: it outlasts any connection.
    settingsNotice_ = new QLabel;
    settingsNotice_->setWordWrap(true);
    settingsNotice_->setTextFormat(Qt::PlainText);
    settingsNotice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    settingsNotice_->setStyleSheet(
        QStringLiteral("QLabel { color: black; background-color: rgb(255,204,0); "
                       "border-radius: 6px; padding: 5px; }"));
    settingsNotice_->setAccessibleName(tr("Settings problem"));
    layout->addWidget(settingsNotice_);

    // A user name the bridge will not hand out again, ready to copy.
    unsavedUserRow_ = new QWidget;
    auto* unsavedLayout = new QVBoxLayout(unsavedUserRow_);
    unsavedLayout->setContentsMargins(0, 8, 0, 8);
    auto* unsavedText = new QLabel(
        tr("Paired with the bridge, but its user name could not be saved. The bridge will not "
           "show it again: copy it and keep it until the settings can be saved."));
    unsavedText->setWordWrap(true);
    unsavedLayout->addWidget(unsavedText);
    unsavedUser_ = new QLineEdit;
    unsavedUser_->setReadOnly(true);
    unsavedUser_->setAccessibleName(tr("User name that could not be saved"));
    unsavedLayout->addWidget(unsavedUser_);
    layout->addWidget(unsavedUserRow_);

    configuration_ = new ConfigurationPart(settings_, actions_);
    layout->addWidget(configuration_);

    debugLink_ = new LinkLabel;
    debugLink_->setText(tr("Connection troube? Click to send debug data!"));
    debugLink_->setFont(sized(font(), 10, QFont::Light));
    layout->addSpacing(5);
    layout->addWidget(debugLink_, 0, Qt::AlignHCenter);
    connect(debugLink_, &QPushButton::clicked, this, [this] {
        // Every click sends another report.
        if (actions_.sendDebug) actions_.sendDebug();
        debugSent_ = true;
        debugLink_->setText(tr("Thank you!"));
    });

    layout->addSpacing(8);
    layout->addWidget(ui::divider());
    layout->addSpacing(15);
    version_ = new LinkLabel;
    version_->setText(tr("Version ") + QString::fromStdString(actions_.version));
    version_->setFont(sized(font(), 11, QFont::Light));
    version_->setToolTip(tr("Show the debug window"));
    layout->addWidget(version_, 0, Qt::AlignHCenter);
    connect(version_, &QPushButton::clicked, this, [this] {
        if (actions_.showDebugWindow) actions_.showDebugWindow();
    });
    layout->addStretch(1);

    applyColors();
    observer_ = settings_.addObserver([this](AppSettings::Field f) {
        using F = AppSettings::Field;
        if (f == F::bridgeConnected || f == F::storeProblem || f == F::unsavedUserName) refresh();
    });
    refresh();
}

ConnectionView::~ConnectionView() {
    settings_.removeObserver(observer_);
}

QString ConnectionView::storeProblemText(const StoreProblem& problem) {
    const QString path = QString::fromStdString(problem.path);
    const QString reason = QString::fromStdString(problem.reason);
    if (problem.kind == StoreProblem::Kind::Unreadable)
        return tr("Settings cannot be read: %1 (%2). Lumora is using defaults and saves nothing "
                  "until the file can be read.")
            .arg(path, reason);
    return tr("Settings could not be saved to %1: %2.").arg(path, reason);
}

void ConnectionView::refresh() {
    debugLink_->setVisible(!settings_.bridgeConnected());
    const auto& problem = settings_.storeProblem();
    const QString notice = problem ? storeProblemText(*problem) : QString();
    if (settingsNotice_->text() != notice) settingsNotice_->setText(notice);
    settingsNotice_->setVisible(problem.has_value());
    const QString user = QString::fromStdString(settings_.unsavedUserName());
    if (unsavedUser_->text() != user) unsavedUser_->setText(user);
    unsavedUserRow_->setVisible(!user.isEmpty());
}

void ConnectionView::applyColors() {
    debugLink_->setColor(blue(ui::isDarkScheme(this)));
    version_->setColor(grey(ui::isDarkScheme(this)));
}

void ConnectionView::changeEvent(QEvent* e) {
    if (e->type() == QEvent::PaletteChange || e->type() == QEvent::ApplicationPaletteChange)
        applyColors();
    QWidget::changeEvent(e);
}

}  // namespace lumora::prefs
