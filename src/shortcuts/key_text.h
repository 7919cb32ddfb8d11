#pragma once
// Where the text of an ordinary key (a letter, a digit, punctuation) comes from
// when a shortcut is displayed. The X11 back-end answers from the live keymap;
// without a display a US-layout table answers.

#include <optional>
#include <string>

namespace lumora {

class KeyTextProvider {
  public:
    virtual ~KeyTextProvider() = default;
    // The UTF-8 text the key gives with no modifiers (possibly empty), or
    // nothing when the layout is unavailable or cannot translate the key.
    virtual std::optional<std::string> keyText(int carbonKeyCode) const = 0;
};

// US layout: letters, digits, punctuation and the keypad's digits and signs.
class UsLayoutKeyText : public KeyTextProvider {
  public:
    std::optional<std::string> keyText(int carbonKeyCode) const override;
};

// The one US table, for whoever has no layout of its own.
const KeyTextProvider& usLayoutKeyText();

}  // namespace lumora
