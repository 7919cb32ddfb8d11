#include "preferences/recorder_widget.h"

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <array>
#include <utility>

#include "shortcuts/carbon_keyboard_shortcuts.h"
#include "ui/translations.h"

namespace lumora::prefs {
namespace {

// Qt keys by the key that types them on a US keyboard, for key events that
// carry no native key code (synthetic ones, platforms without the X keymap).
constexpr std::pair<int, Key> kQtKeys[] = {
    {Qt::Key_A, Key::a},
    {Qt::Key_B, Key::b},
    {Qt::Key_C, Key::c},
    {Qt::Key_D, Key::d},
    {Qt::Key_E, Key::e},
    {Qt::Key_F, Key::f},
    {Qt::Key_G, Key::g},
    {Qt::Key_H, Key::h},
    {Qt::Key_I, Key::i},
    {Qt::Key_J, Key::j},
    {Qt::Key_K, Key::k},
    {Qt::Key_L, Key::l},
    {Qt::Key_M, Key::m},
    {Qt::Key_N, Key::n},
    {Qt::Key_O, Key::o},
    {Qt::Key_P, Key::p},
    {Qt::Key_Q, Key::q},
    {Qt::Key_R, Key::r},
    {Qt::Key_S, Key::s},
    {Qt::Key_T, Key::t},
    {Qt::Key_U, Key::u},
    {Qt::Key_V, Key::v},
    {Qt::Key_W, Key::w},
    {Qt::Key_X, Key::x},
    {Qt::Key_Y, Key::y},
    {Qt::Key_Z, Key::z},
    {Qt::Key_0, Key::zero},
    {Qt::Key_1, Key::one},
    {Qt::Key_2, Key::two},
    {Qt::Key_3, Key::three},
    {Qt::Key_4, Key::four},
    {Qt::Key_5, Key::five},
    {Qt::Key_6, Key::six},
    {Qt::Key_7, Key::seven},
    {Qt::Key_8, Key::eight},
    {Qt::Key_9, Key::nine},
    // What Shift makes of the digit and punctuation keys.
    {Qt::Key_ParenRight, Key::zero},
    {Qt::Key_Exclam, Key::one},
    {Qt::Key_At, Key::two},
    {Qt::Key_NumberSign, Key::three},
    {Qt::Key_Dollar, Key::four},
    {Qt::Key_Percent, Key::five},
    {Qt::Key_AsciiCircum, Key::six},
    {Qt::Key_Ampersand, Key::seven},
    {Qt::Key_Asterisk, Key::eight},
    {Qt::Key_ParenLeft, Key::nine},
    {Qt::Key_Minus, Key::minus},
    {Qt::Key_Underscore, Key::minus},
    {Qt::Key_Equal, Key::equal},
    {Qt::Key_Plus, Key::equal},
    {Qt::Key_BracketLeft, Key::leftBracket},
    {Qt::Key_BraceLeft, Key::leftBracket},
    {Qt::Key_BracketRight, Key::rightBracket},
    {Qt::Key_BraceRight, Key::rightBracket},
    {Qt::Key_Apostrophe, Key::quote},
    {Qt::Key_QuoteDbl, Key::quote},
    {Qt::Key_Semicolon, Key::semicolon},
    {Qt::Key_Colon, Key::semicolon},
    {Qt::Key_Backslash, Key::backslash},
    {Qt::Key_Bar, Key::backslash},
    {Qt::Key_Comma, Key::comma},
    {Qt::Key_Less, Key::comma},
    {Qt::Key_Period, Key::period},
    {Qt::Key_Greater, Key::period},
    {Qt::Key_Slash, Key::slash},
    {Qt::Key_Question, Key::slash},
    {Qt::Key_QuoteLeft, Key::backtick},
    {Qt::Key_AsciiTilde, Key::backtick},
    {Qt::Key_Return, Key::returnKey},
    {Qt::Key_Enter, Key::keypadEnter},
    {Qt::Key_Tab, Key::tab},
    {Qt::Key_Backtab, Key::tab},
    {Qt::Key_Space, Key::space},
    {Qt::Key_Backspace, Key::deleteKey},
    {Qt::Key_Delete, Key::deleteForward},
    {Qt::Key_Escape, Key::escape},
    {Qt::Key_Help, Key::help},
    {Qt::Key_Home, Key::home},
    {Qt::Key_End, Key::end},
    {Qt::Key_PageUp, Key::pageUp},
    {Qt::Key_PageDown, Key::pageDown},
    {Qt::Key_Left, Key::leftArrow},
    {Qt::Key_Right, Key::rightArrow},
    {Qt::Key_Up, Key::upArrow},
    {Qt::Key_Down, Key::downArrow},
    {Qt::Key_Clear, Key::keypadClear},
};

constexpr std::pair<int, Key> kQtKeypadKeys[] = {
    {Qt::Key_0, Key::keypad0},
    {Qt::Key_1, Key::keypad1},
    {Qt::Key_2, Key::keypad2},
    {Qt::Key_3, Key::keypad3},
    {Qt::Key_4, Key::keypad4},
    {Qt::Key_5, Key::keypad5},
    {Qt::Key_6, Key::keypad6},
    {Qt::Key_7, Key::keypad7},
    {Qt::Key_8, Key::keypad8},
    {Qt::Key_9, Key::keypad9},
    {Qt::Key_Asterisk, Key::keypadMultiply},
    {Qt::Key_Plus, Key::keypadPlus},
    {Qt::Key_Minus, Key::keypadMinus},
    {Qt::Key_Slash, Key::keypadDivide},
    {Qt::Key_Period, Key::keypadDecimal},
    {Qt::Key_Equal, Key::keypadEquals},
};

bool isModifierKey(int key) {
    switch (key) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
        case Qt::Key_Hyper_L:
        case Qt::Key_Hyper_R:
        case Qt::Key_CapsLock:
        case Qt::Key_NumLock:
        case Qt::Key_ScrollLock:
        case Qt::Key_Mode_switch:
            return true;
        default:
            return false;
    }
}

int carbonKeyCodeForQtKey(int key, bool keypad) {
    if (key >= Qt::Key_F1 && key <= Qt::Key_F20) {
        static constexpr Key kF[] = {Key::f1,  Key::f2,  Key::f3,  Key::f4,  Key::f5,
                                     Key::f6,  Key::f7,  Key::f8,  Key::f9,  Key::f10,
                                     Key::f11, Key::f12, Key::f13, Key::f14, Key::f15,
                                     Key::f16, Key::f17, Key::f18, Key::f19, Key::f20};
        return static_cast<int>(kF[key - Qt::Key_F1]);
    }
    if (keypad)
        for (const auto& [qt, k] : kQtKeypadKeys)
            if (qt == key) return static_cast<int>(k);
    for (const auto& [qt, k] : kQtKeys)
        if (qt == key) return static_cast<int>(k);
    return -1;
}

// The rules speak English; a title with the menu item filled in still
// finds its translation.
QString translated(const std::string& english) {
    return ui::translatedCoreText(ui::kShortcutTextContext, english);
}

}  // namespace

RecorderWidget::RecorderWidget(KeyboardShortcuts& shortcuts, KeyboardShortcuts::Name name,
                               OnChange onChange, QWidget* parent)
    : QLineEdit(parent),
      shortcuts_(shortcuts),
      rules_(std::make_shared<RecorderRules>(shortcuts, std::move(name), 130, 22)),
      onChange_(std::move(onChange)) {
    // Typing, pasting and the caret have no place here: keys are recorded.
    setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setDragEnabled(false);
    setAcceptDrops(false);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setFocusPolicy(Qt::StrongFocus);
    setAlignment(Qt::AlignCenter);
    setMinimumWidth(130);
    setStyleSheet(QStringLiteral(
        "QLineEdit { border: 1px solid palette(mid); border-radius: 10px;"
        " padding: 1px 6px; background: palette(base); color: palette(text); }"
        "QLineEdit:focus { border: 2px solid palette(highlight); padding: 0px 5px; }"));

    clear_ = addAction(style()->standardIcon(QStyle::SP_LineEditClearButton),
                       QLineEdit::TrailingPosition);
    // The text is the button's name for a screen reader; only the icon shows.
    clear_->setText(tr("Clear"));
    clear_->setToolTip(tr("Clear"));
    connect(clear_, &QAction::triggered, this, [this] {
        setText(QString());
        apply(rules_->textChanged(std::string()));
    });

    // Another recorder of the name, or the program, changed the stored value.
    rules_->setOnViewChange([this] { refresh(); });
    refresh();
}

RecorderWidget::~RecorderWidget() {
    stopMonitor();
    // The rules resume the handlers if they were recording.
}

bool RecorderWidget::clearButtonVisible() const {
    return clear_->isVisible();
}

QSize RecorderWidget::sizeHint() const {
    return {std::max(130, QLineEdit::sizeHint().width()), QLineEdit::sizeHint().height()};
}

QSize RecorderWidget::minimumSizeHint() const {
    return {130, QLineEdit::minimumSizeHint().height()};
}

std::optional<RecorderEvent> RecorderWidget::recorderEvent(const QKeyEvent& event,
                                                           const HotKeyService* service) {
    const int qtKey = event.key();
    if (isModifierKey(qtKey)) return std::nullopt;
    const Qt::KeyboardModifiers m = event.modifiers();
    EventModifiers modifiers;
    modifiers.shift = m.testFlag(Qt::ShiftModifier);
    modifiers.control = m.testFlag(Qt::ControlModifier);
    modifiers.option = m.testFlag(Qt::AltModifier);
    modifiers.command = m.testFlag(Qt::MetaModifier);
    modifiers.numericPad = m.testFlag(Qt::KeypadModifier);

    std::optional<int> keyCode;
    if (service && event.nativeScanCode() != 0)
        keyCode = service->carbonKeyCodeForNativeKey(event.nativeScanCode());
    if (!keyCode) keyCode = carbonKeyCodeForQtKey(qtKey, modifiers.numericPad);
    return RecorderEvent::keyDown(*keyCode, modifiers);
}

void RecorderWidget::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // Only a click, Tab or the recorder itself asks to record. A window that
    // opens or comes back, or a pane that puts focus on its first field,
    // hands focus over too; that is no request to record (and would pause
    // every shortcut while the settings are merely open).
    const Qt::FocusReason reason = event->reason();
    const bool asked = reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
                       reason == Qt::BacktabFocusReason;
    if (!asked && !wantsFocus_) {
        clearFocus();
        return;
    }
    wantsFocus_ = false;
    rules_->focusGained();
    startMonitor();
    refresh();
}

void RecorderWidget::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    stopMonitor();
    rules_->focusLost();
    refresh();
}

void RecorderWidget::keyPressEvent(QKeyEvent* event) {
    // Recording keys arrive through the monitor; anything else is not ours.
    event->ignore();
}

void RecorderWidget::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    rules_->setSize(width(), height());
}

void RecorderWidget::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    // A centred line edit hides its placeholder while focused (for the
    // caret); here the focused one is where "Press Shortcut" must show.
    if (!hasFocus() || !text().isEmpty() || placeholderText().isEmpty()) return;
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect area = style()
                           ->subElementRect(QStyle::SE_LineEditContents, &option, this)
                           .marginsRemoved(textMargins());
    QPainter p(this);
    p.setPen(palette().color(QPalette::PlaceholderText));
    p.drawText(area, Qt::AlignCenter,
               fontMetrics().elidedText(placeholderText(), Qt::ElideRight, area.width()));
}

void RecorderWidget::startMonitor() {
    if (monitoring_) return;
    monitoring_ = true;
    qApp->installEventFilter(this);
    // On X11 a key another program grabbed would go to that program; while
    // the keyboard is ours it comes here, and the rules can say it is taken.
    grabKeyboard();
}

void RecorderWidget::stopMonitor() {
    if (!monitoring_) return;
    monitoring_ = false;
    qApp->removeEventFilter(this);
    releaseKeyboard();
}

bool RecorderWidget::eventFilter(QObject* watched, QEvent* event) {
    if (!monitoring_ || !rules_->isRecording()) return false;
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            // The window's own shortcuts must not act on a key being recorded.
            event->accept();
            return true;
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            const auto recorded = recorderEvent(*key, shortcuts_.hotKeyLayer().service());
            if (!recorded) return true;  // a modifier on its way to a combination
            return apply(rules_->handleEvent(*recorded));
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton)
                return false;
            // The clear button works while recording too.
            auto* target = qobject_cast<QWidget*>(watched);
            if (target && target != this && isAncestorOf(target)) return false;
            const QPointF at = mapFromGlobal(mouse->globalPosition());
            return apply(rules_->handleEvent(
                RecorderEvent::mouseUp(at.x(), at.y(), mouse->button() == Qt::RightButton)));
        }
        default:
            return false;
    }
}

bool RecorderWidget::apply(const RecorderResponse& response) {
    if (response.beep) QApplication::beep();
    if (response.saved && onChange_) onChange_(response.savedShortcut);
    if (response.endRecording) {
        if (response.swallow)
            clearFocus();
        else
            stopMonitor();  // Tab: Qt moves the focus on with this very event
    }
    if (response.alert) {
        // Shown once the event is done with, not from inside the filter.
        QTimer::singleShot(0, this, [this, alert = *response.alert] { showAlert(alert); });
    } else if (response.takeFocus) {
        takeFocus();
    }
    refresh();
    return response.swallow;
}

void RecorderWidget::showAlert(const RecorderAlert& alert) {
    const QString title = translated(alert.title);
    const QString text = alert.message.empty() ? QString() : translated(alert.message);
    if (alert_) {
        alert_(window(), title, text);
    } else {
        QMessageBox box(QMessageBox::Warning, title, title, QMessageBox::Ok, window());
        box.setInformativeText(text);
        box.exec();
    }
    // Ready for another combination.
    activateWindow();
    takeFocus();
}

void RecorderWidget::takeFocus() {
    wantsFocus_ = true;
    setFocus(Qt::OtherFocusReason);
    if (hasFocus()) wantsFocus_ = false;
}

void RecorderWidget::refresh() {
    const QString text = QString::fromStdString(rules_->text());
    if (this->text() != text) setText(text);
    setPlaceholderText(translated(rules_->placeholder()));
    clear_->setVisible(rules_->clearButtonVisible());
}

}  // namespace lumora::prefs
