#pragma once
// The shortcut recorder: a small rounded field that shows the combination
// stored for one shortcut name. Focus it and press a combination to record
// it; Escape leaves it as it was, Backspace or Delete (or the clear button)
// removes it, Tab moves on. The rules themselves live in RecorderRules; this
// widget turns Qt's events into the rules' events and carries out the
// answers.

#include <QLineEdit>
#include <functional>
#include <memory>
#include <optional>

#include "shortcuts/recorder_rules.h"

class QAction;
class QKeyEvent;

namespace lumora::prefs {

class RecorderWidget : public QLineEdit {
    Q_OBJECT
  public:
    using OnChange = std::function<void(const std::optional<Shortcut>&)>;
    // Shows a conflict; the default is a modal warning on the field's window.
    using Alert = std::function<void(QWidget* parent, const QString& title, const QString& text)>;

    // Records into `shortcuts`, which must outlive the widget.
    RecorderWidget(KeyboardShortcuts& shortcuts, KeyboardShortcuts::Name name,
                   OnChange onChange = {}, QWidget* parent = nullptr);
    ~RecorderWidget() override;

    const KeyboardShortcuts::Name& name() const { return rules_->name(); }
    bool isRecording() const { return rules_->isRecording(); }
    bool clearButtonVisible() const;
    QAction* clearAction() const { return clear_; }
    void setAlert(Alert alert) { alert_ = std::move(alert); }

    // The recorder's event for a Qt key press: the key by its place on the
    // keyboard (from the hot-key service's keymap when there is one and the
    // event carries a native key code), else by Qt's key; nothing for a lone
    // modifier key.
    static std::optional<RecorderEvent> recorderEvent(const QKeyEvent& event,
                                                      const HotKeyService* service = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void startMonitor();
    void stopMonitor();
    // Carries out the rules' answer; true when the event is swallowed.
    bool apply(const RecorderResponse& response);
    void showAlert(const RecorderAlert& alert);
    void takeFocus();
    void refresh();

    KeyboardShortcuts& shortcuts_;
    std::shared_ptr<RecorderRules> rules_;
    OnChange onChange_;
    Alert alert_;
    QAction* clear_ = nullptr;
    bool monitoring_ = false;
    // Focus the recorder asked for itself (to record again after an alert or
    // a clear), as opposed to focus handed over by a window coming forward.
    bool wantsFocus_ = false;
};

}  // namespace lumora::prefs
