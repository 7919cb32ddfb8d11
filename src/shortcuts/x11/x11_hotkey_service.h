#pragma once
// Global hot keys on X11 through a connection of their own (no toolkit
// needed): passive key grabs on the root window, one for each Num Lock /
// Caps Lock variant, watched by a thread that posts press and release with
// the registration id to the user-interface thread of the dispatcher it is
// given. Also answers the text of keys from the live keymap.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/dispatch.h"
#include "shortcuts/hotkey_service.h"
#include "shortcuts/key_text.h"

struct xcb_connection_t;
struct _XCBKeySymbols;  // xcb_key_symbols_t

namespace lumora::x11 {
class XcbWatch;
}  // namespace lumora::x11

namespace lumora {

class X11HotKeyService final : public HotKeyService, public KeyTextProvider {
    struct Private {};

  public:
    // Connects to `displayName` (nullptr: $DISPLAY) and starts the watcher,
    // which posts to `dispatcher`. Nothing when no X server answers.
    static std::shared_ptr<X11HotKeyService> connect(std::shared_ptr<Dispatcher> dispatcher,
                                                     const char* displayName = nullptr);

    X11HotKeyService(Private, std::shared_ptr<Dispatcher> dispatcher, xcb_connection_t* connection,
                     int screen);
    ~X11HotKeyService() override;
    X11HotKeyService(const X11HotKeyService&) = delete;
    X11HotKeyService& operator=(const X11HotKeyService&) = delete;

    bool registerHotKey(std::uint32_t id, std::uint32_t carbonKeyCode,
                        std::uint32_t carbonModifiers) override;
    void unregisterHotKey(std::uint32_t id) override;
    // Probes with a grab that is released at once; a grab another client
    // holds fails with BadAccess.
    bool isTaken(std::uint32_t carbonKeyCode, std::uint32_t carbonModifiers) override;
    void setEventHandler(EventHandler handler) override;

    // The key's symbol as text when the current keymap can type it.
    std::optional<std::string> keyText(int carbonKeyCode) const override;
    // The Carbon key code of an X key code in the current keymap (first level,
    // then the shifted one, for keypad keys with Num Lock), for recording.
    std::optional<int> carbonKeyCodeForKeycode(std::uint8_t keycode) const;
    std::optional<int> carbonKeyCodeForNativeKey(std::uint32_t nativeKeyCode) const override;
    // Runs on the user-interface thread after a keyboard mapping change, once
    // the grabs follow the new mapping.
    void setKeymapChangedHandler(std::function<void()> handler);

  private:
    using GrabKey = std::pair<std::uint8_t, std::uint16_t>;  // key code, modifier mask

    struct Registration {
        std::uint32_t keysym;
        std::uint16_t mask;
        std::vector<GrabKey> grabs;
    };

    std::vector<std::uint8_t> keycodesFor(std::uint32_t keysym) const;
    std::vector<std::uint16_t> lockVariants(std::uint16_t mask) const;
    void readNumLockMask();
    // Grabs every key code x lock variant; on any failure releases what it
    // grabbed and reports whether the failure was BadAccess.
    bool grab(std::uint32_t keysym, std::uint16_t mask, std::vector<GrabKey>& grabs, bool* taken);
    void release(const std::vector<GrabKey>& grabs);
    void regrabAll();
    void keymapChanged();
    void sync();
    void handleEvent(void* event);
    void post(std::uint32_t id, int kind);

    // Held, not borrowed: the watcher posts from a thread of its own, and
    // the service is joined before it lets go.
    std::shared_ptr<Dispatcher> dispatcher_;
    xcb_connection_t* conn_;
    std::uint32_t root_ = 0;
    _XCBKeySymbols* symbols_ = nullptr;
    std::uint16_t numLockMask_ = 0;
    std::uint8_t xkbEventBase_ = 0;  // 0: no XKB events selected

    mutable std::mutex mutex_;
    std::map<std::uint32_t, Registration> registrations_;
    std::map<GrabKey, int> grabCount_;
    std::map<std::uint8_t, std::vector<std::uint32_t>> pressed_;
    EventHandler handler_;
    std::function<void()> keymapChanged_;

    // Reads the connection's events on a thread of its own.
    std::unique_ptr<x11::XcbWatch> watch_;
};

}  // namespace lumora
