#pragma once
// What the shortcut recorder control does, without the control: a recorder
// widget feeds it focus changes, edits and the events its in-application
// monitor sees, and applies the response (swallow or pass on, beep, give up or
// take focus, show an alert). Storing the shortcut and pausing the handlers
// happen here, so the widget only draws.
//
// Widget contract:
//   - show text(), placeholder(), clearButtonVisible(), hide the caret while
//     caretHidden(); refresh when the view-change callback runs;
//   - focus in -> focusGained(); focus out -> focusLost();
//   - while isRecording(), route key-down and left/right mouse-up events
//     through RecorderRules::handleEvent(weakRules, event);
//   - clear button or text emptied by editing -> textChanged("");
//   - apply every RecorderResponse: swallow or pass the event on, beep,
//     endRecording = give up focus, alert = show it modally then take focus,
//     takeFocus = take focus, saved = run the optional onChange.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/notification_center.h"
#include "shortcuts/keyboard_shortcuts.h"

namespace lumora {

// Device-independent modifier flags of an event as the toolkit reports them.
struct EventModifiers {
    bool shift = false;
    bool control = false;
    bool option = false;
    bool command = false;
    bool capsLock = false;
    bool numericPad = false;
    bool function = false;
};

struct RecorderEvent {
    enum class Type { keyDown, leftMouseUp, rightMouseUp, other };

    Type type = Type::other;
    // Carbon key code of a key-down; negative when the key has none.
    int keyCode = -1;
    EventModifiers modifiers;
    // Mouse location in the control's own coordinates (0,0 = top left).
    double x = 0;
    double y = 0;

    static RecorderEvent keyDown(int keyCode, EventModifiers modifiers = {}) {
        return {Type::keyDown, keyCode, modifiers, 0, 0};
    }
    static RecorderEvent mouseUp(double x, double y, bool right = false) {
        return {right ? Type::rightMouseUp : Type::leftMouseUp, -1, {}, x, y};
    }
};

struct RecorderAlert {
    std::string titleKey;
    std::string title;  // English, argument filled in
    std::string messageKey;
    std::string message;  // English; empty when there is none
};

struct RecorderResponse {
    bool swallow = true;                 // false: pass the event on
    bool beep = false;                   // the system beep
    bool endRecording = false;           // the control gives up keyboard focus
    bool takeFocus = false;              // the control takes keyboard focus (again)
    std::optional<RecorderAlert> alert;  // shown modally before taking focus again
    bool saved = false;                  // a shortcut (or none) was just stored
    std::optional<Shortcut> savedShortcut;
};

// English texts of the recorder's localisation keys: "record_shortcut",
// "press_shortcut", "keyboard_shortcut_used_by_menu_item" (argument %1),
// "keyboard_shortcut_used_by_system", "keyboard_shortcuts_can_be_changed".
std::string recorderText(std::string_view key);

class RecorderRules {
  public:
    // Margin around the control within which a mouse-up does not end recording.
    static constexpr double mouseMargin = 3;

    // `shortcuts` stores the recording and must outlive the recorder.
    RecorderRules(KeyboardShortcuts& shortcuts, KeyboardShortcuts::Name name, double width,
                  double height);
    ~RecorderRules();
    RecorderRules(const RecorderRules&) = delete;
    RecorderRules& operator=(const RecorderRules&) = delete;

    void setSize(double width, double height);
    // Runs when text or clear button change because of a stored change made
    // elsewhere (another recorder of the same name, a program call).
    void setOnViewChange(std::function<void()> callback);

    const KeyboardShortcuts::Name& name() const { return name_; }
    const std::string& text() const { return text_; }
    const std::string& placeholderKey() const { return placeholderKey_; }
    std::string placeholder() const { return recorderText(placeholderKey_); }
    bool clearButtonVisible() const { return clearButtonVisible_; }
    bool caretHidden() const { return recording_; }
    // Recording: the monitor is installed and the handlers are paused.
    bool isRecording() const { return recording_; }

    void focusGained();
    void focusLost();
    RecorderResponse handleEvent(const RecorderEvent& event);
    // For the monitor, which must not keep the control alive: once the
    // control is gone, every event is swallowed.
    static RecorderResponse handleEvent(const std::weak_ptr<RecorderRules>& rules,
                                        const RecorderEvent& event);
    // The text changed by editing (the clear button empties it).
    RecorderResponse textChanged(const std::string& text);

  private:
    void refresh();
    RecorderResponse save(const std::optional<Shortcut>& shortcut);
    RecorderResponse conflict(RecorderAlert alert);

    KeyboardShortcuts& shortcuts_;
    KeyboardShortcuts::Name name_;
    double width_;
    double height_;
    std::string text_;
    std::string placeholderKey_ = "record_shortcut";
    bool clearButtonVisible_ = false;
    bool recording_ = false;
    std::function<void()> onViewChange_;
    // Held: the observer must be removed from the centre it was added to.
    std::shared_ptr<NotificationCenter> center_;
    NotificationCenter::Token observer_ = 0;
};

}  // namespace lumora
