#include "shortcuts/recorder_rules.h"

#include <variant>

namespace lumora {
namespace {

// The Carbon bits of an event's modifiers, Caps Lock, numeric-pad and
// function flags left out.
Modifiers shortcutModifiers(const EventModifiers& m) {
    int bits = 0;
    if (m.command) bits |= static_cast<int>(Modifier::command);
    if (m.shift) bits |= static_cast<int>(Modifier::shift);
    if (m.option) bits |= static_cast<int>(Modifier::option);
    if (m.control) bits |= static_cast<int>(Modifier::control);
    return Modifiers(bits);
}

bool is(int keyCode, Key key) {
    return keyCode == static_cast<int>(key);
}

}  // namespace

std::string recorderText(std::string_view key) {
    if (key == "record_shortcut") return "Record Shortcut";
    if (key == "press_shortcut") return "Press Shortcut";
    if (key == "keyboard_shortcut_used_by_menu_item")
        return "This shortcut is already used by the menu item \u201C%1\u201D.";
    if (key == "keyboard_shortcut_used_by_system")
        return "This shortcut is already taken by the desktop or another program.";
    if (key == "keyboard_shortcuts_can_be_changed")
        return "Shortcuts held by the desktop can usually be changed in its keyboard settings.";
    return std::string(key);
}

RecorderRules::RecorderRules(KeyboardShortcuts& shortcuts, KeyboardShortcuts::Name name,
                             double width, double height)
    : shortcuts_(shortcuts), name_(std::move(name)), width_(width), height_(height) {
    refresh();
    center_ = shortcuts_.notificationCenter();
    if (!center_) return;
    observer_ = center_->addObserver(KeyboardShortcuts::shortcutByNameDidChange,
                                     [this](const Notification& note) {
                                         auto it = note.userInfo.find("name");
                                         if (it == note.userInfo.end()) return;
                                         const auto* raw = std::get_if<std::string>(&it->second);
                                         if (!raw || *raw != name_.rawValue()) return;
                                         refresh();
                                         if (onViewChange_) onViewChange_();
                                     });
}

RecorderRules::~RecorderRules() {
    if (center_) center_->removeObserver(observer_);
    // A recorder that goes away while recording must not leave the handlers
    // paused.
    if (recording_) shortcuts_.setPaused(false);
}

void RecorderRules::setSize(double width, double height) {
    width_ = width;
    height_ = height;
}

void RecorderRules::setOnViewChange(std::function<void()> callback) {
    onViewChange_ = std::move(callback);
}

void RecorderRules::refresh() {
    auto shortcut = shortcuts_.getShortcut(name_);
    text_ = shortcut ? shortcuts_.description(*shortcut) : std::string();
    clearButtonVisible_ = !text_.empty();
}

void RecorderRules::focusGained() {
    placeholderKey_ = "press_shortcut";
    clearButtonVisible_ = !text_.empty();
    recording_ = true;
    shortcuts_.setPaused(true);
}

void RecorderRules::focusLost() {
    placeholderKey_ = "record_shortcut";
    clearButtonVisible_ = !text_.empty();
    if (!recording_) return;
    recording_ = false;
    shortcuts_.setPaused(false);
}

RecorderResponse RecorderRules::handleEvent(const std::weak_ptr<RecorderRules>& rules,
                                            const RecorderEvent& event) {
    if (auto r = rules.lock()) return r->handleEvent(event);
    return {};
}

RecorderResponse RecorderRules::handleEvent(const RecorderEvent& event) {
    RecorderResponse response;
    // Without recording there is no monitor: events go their usual way.
    if (!recording_) {
        response.swallow = false;
        return response;
    }

    if (event.type == RecorderEvent::Type::leftMouseUp ||
        event.type == RecorderEvent::Type::rightMouseUp) {
        const bool inside = event.x >= -mouseMargin && event.x < width_ + mouseMargin &&
                            event.y >= -mouseMargin && event.y < height_ + mouseMargin;
        if (!inside) {
            focusLost();
            response.endRecording = true;
        }
        return response;
    }
    if (event.type != RecorderEvent::Type::keyDown) return response;

    const Modifiers modifiers = shortcutModifiers(event.modifiers);
    const int key = event.keyCode;

    if (is(key, Key::tab) && modifiers.empty()) {
        focusLost();
        response.endRecording = true;
        response.swallow = false;  // focus moves on
        return response;
    }
    if (is(key, Key::escape) && modifiers.empty()) {
        focusLost();
        response.endRecording = true;
        return response;
    }
    if ((is(key, Key::deleteKey) || is(key, Key::deleteForward)) && modifiers.empty())
        return textChanged("");

    if (key < 0 || (modifiers.without(Modifier::shift).empty() && !isFunctionKey(key))) {
        response.beep = true;
        return response;
    }

    const Shortcut shortcut(key, modifiers.carbon());
    if (auto item = shortcut.takenByMainMenu()) {
        std::string title = recorderText("keyboard_shortcut_used_by_menu_item");
        title.replace(title.find("%1"), 2, *item);
        return conflict({"keyboard_shortcut_used_by_menu_item", title, "", ""});
    }
    if (shortcut.isTakenBySystem(shortcuts_.hotKeyLayer())) {
        return conflict({"keyboard_shortcut_used_by_system",
                         recorderText("keyboard_shortcut_used_by_system"),
                         "keyboard_shortcuts_can_be_changed",
                         recorderText("keyboard_shortcuts_can_be_changed")});
    }

    text_ = shortcuts_.description(shortcut);
    clearButtonVisible_ = true;
    response = save(shortcut);
    focusLost();
    response.endRecording = true;
    return response;
}

RecorderResponse RecorderRules::textChanged(const std::string& text) {
    RecorderResponse response;
    text_ = text;
    if (text_.empty()) {
        response = save(std::nullopt);
        // Ready for the next combination at once.
        response.takeFocus = true;
    }
    clearButtonVisible_ = !text_.empty();
    return response;
}

RecorderResponse RecorderRules::save(const std::optional<Shortcut>& shortcut) {
    shortcuts_.setShortcut(shortcut, name_);
    RecorderResponse response;
    response.saved = true;
    response.savedShortcut = shortcut;
    return response;
}

RecorderResponse RecorderRules::conflict(RecorderAlert alert) {
    focusLost();
    RecorderResponse response;
    response.endRecording = true;
    response.alert = std::move(alert);
    response.takeFocus = true;
    return response;
}

}  // namespace lumora
