#pragma once
// The system's hot-key service as the shortcut module sees it: a key code and
// a modifier set registered under an integer id, press and release reported
// with that id. The X11 back-end implements it; tests use a fake.

#include <cstdint>
#include <functional>
#include <optional>

namespace lumora {

struct HotKeyEvent {
    // Event kinds, numbered as the module's event handler expects them.
    static constexpr int pressed = 5;
    static constexpr int released = 6;

    std::uint32_t id = 0;
    int kind = pressed;
};

class HotKeyService {
  public:
    using EventHandler = std::function<void(const HotKeyEvent&)>;

    virtual ~HotKeyService() = default;

    // Grabs the combination (Carbon key code and Carbon modifier bits) under
    // `id`. False when the system refuses, e.g. because another program holds
    // it; then nothing stays registered.
    virtual bool registerHotKey(std::uint32_t id, std::uint32_t carbonKeyCode,
                                std::uint32_t carbonModifiers) = 0;
    // Releases the registration made under `id`; unknown ids are ignored.
    virtual void unregisterHotKey(std::uint32_t id) = 0;
    // Whether another program already holds the combination. Combinations this
    // service holds itself are not taken.
    virtual bool isTaken(std::uint32_t carbonKeyCode, std::uint32_t carbonModifiers) = 0;
    // Receives press and release of registered combinations on the
    // user-interface thread. Set once; a later call replaces the handler.
    virtual void setEventHandler(EventHandler handler) = 0;
    // The Carbon key code of a key as the platform's key events number it
    // (the X key code), read from the live keymap so a recorder records the
    // key rather than what Shift made of it. Nothing when unknown.
    virtual std::optional<int> carbonKeyCodeForNativeKey(std::uint32_t) const {
        return std::nullopt;
    }
};

}  // namespace lumora
