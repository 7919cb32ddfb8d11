#include "shortcuts/x11/x11_hotkey_service.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// The XKB protocol header names a member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>

#include "base/dispatch.h"
#include "base/x11/xcb_watch.h"
#include "shortcuts/x11/key_tables.h"

namespace lumora {
namespace {

constexpr std::uint8_t kBadAccess = 10;

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

}  // namespace

std::shared_ptr<X11HotKeyService> X11HotKeyService::connect(std::shared_ptr<Dispatcher> dispatcher,
                                                            const char* displayName) {
    int screen = 0;
    xcb_connection_t* c = xcb_connect(displayName, &screen);
    if (!c) return nullptr;
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return nullptr;
    }
    return std::make_shared<X11HotKeyService>(Private{}, std::move(dispatcher), c, screen);
}

X11HotKeyService::X11HotKeyService(Private, std::shared_ptr<Dispatcher> dispatcher,
                                   xcb_connection_t* connection, int screen)
    : dispatcher_(std::move(dispatcher)), conn_(connection) {
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(conn_));
    for (int i = 0; i < screen && roots.rem > 0; ++i) xcb_screen_next(&roots);
    root_ = roots.data->root;
    symbols_ = xcb_key_symbols_alloc(conn_);
    readNumLockMask();

    // Holding a combination should report one press and one release, not a
    // stream of synthetic pairs. An XKB request on a server without XKB
    // would close the connection, so ask first.
    const auto* xkb = xcb_get_extension_data(conn_, &xcb_xkb_id);
    if (xkb && xkb->present) {
        Reply<xcb_xkb_use_extension_reply_t> use(xcb_xkb_use_extension_reply(
            conn_, xcb_xkb_use_extension(conn_, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION),
            nullptr));
        if (use && use->supported) {
            const auto flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
            Reply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
                conn_,
                xcb_xkb_per_client_flags(conn_, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0),
                nullptr));
            // An XKB client no longer receives the core MappingNotify; keymap
            // changes arrive as XKB events instead.
            const std::uint16_t events =
                XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
            const std::uint16_t parts = XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP;
            xcb_xkb_select_events(conn_, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, parts, parts,
                                  nullptr);
            xkbEventBase_ = xkb->first_event;
            xcb_flush(conn_);
        }
    }

    watch_ = std::make_unique<x11::XcbWatch>();
    watch_->start(conn_, [this](xcb_generic_event_t* event) { handleEvent(event); });
}

X11HotKeyService::~X11HotKeyService() {
    if (watch_) watch_->stop();
    for (const auto& [key, count] : grabCount_) xcb_ungrab_key(conn_, key.first, root_, key.second);
    xcb_flush(conn_);
    xcb_key_symbols_free(symbols_);
    xcb_disconnect(conn_);
}

std::vector<std::uint8_t> X11HotKeyService::keycodesFor(std::uint32_t keysym) const {
    std::vector<std::uint8_t> codes;
    const xcb_setup_t* setup = xcb_get_setup(conn_);
    // Prefer keys that give the symbol on their first group, plain or
    // shifted; a symbol found only on another group or level would also catch
    // an unrelated key.
    for (int kc = setup->min_keycode; kc <= setup->max_keycode; ++kc) {
        for (int col = 0; col < 2; ++col) {
            if (xcb_key_symbols_get_keysym(symbols_, static_cast<xcb_keycode_t>(kc), col) ==
                keysym) {
                codes.push_back(static_cast<std::uint8_t>(kc));
                break;
            }
        }
    }
    if (!codes.empty()) return codes;
    if (xcb_keycode_t* any = xcb_key_symbols_get_keycode(symbols_, keysym)) {
        for (xcb_keycode_t* p = any; *p != XCB_NO_SYMBOL; ++p) codes.push_back(*p);
        std::free(any);
    }
    return codes;
}

void X11HotKeyService::readNumLockMask() {
    numLockMask_ = 0;
    Reply<xcb_get_modifier_mapping_reply_t> map(
        xcb_get_modifier_mapping_reply(conn_, xcb_get_modifier_mapping(conn_), nullptr));
    if (!map) return;
    const auto numLock = keycodesFor(XKB_KEY_Num_Lock);
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map.get());
    const int perModifier = map->keycodes_per_modifier;
    for (int mod = 0; mod < 8; ++mod) {
        for (int k = 0; k < perModifier; ++k) {
            const xcb_keycode_t kc = codes[mod * perModifier + k];
            if (kc != 0 && std::find(numLock.begin(), numLock.end(), kc) != numLock.end())
                numLockMask_ = static_cast<std::uint16_t>(1u << mod);
        }
    }
}

std::vector<std::uint16_t> X11HotKeyService::lockVariants(std::uint16_t mask) const {
    std::vector<std::uint16_t> variants{mask, static_cast<std::uint16_t>(mask | XCB_MOD_MASK_LOCK)};
    if (numLockMask_ != 0 && (numLockMask_ & (mask | XCB_MOD_MASK_LOCK)) == 0) {
        variants.push_back(static_cast<std::uint16_t>(mask | numLockMask_));
        variants.push_back(static_cast<std::uint16_t>(mask | numLockMask_ | XCB_MOD_MASK_LOCK));
    }
    return variants;
}

bool X11HotKeyService::grab(std::uint32_t keysym, std::uint16_t mask, std::vector<GrabKey>& grabs,
                            bool* taken) {
    if (taken) *taken = false;
    const auto codes = keycodesFor(keysym);
    if (codes.empty()) return false;

    std::vector<GrabKey> held;  // already grabbed for another registration
    std::vector<std::pair<GrabKey, xcb_void_cookie_t>> requests;
    for (std::uint8_t kc : codes) {
        for (std::uint16_t variant : lockVariants(mask)) {
            const GrabKey key{kc, variant};
            if (grabCount_.contains(key)) {
                held.push_back(key);
                continue;
            }
            requests.emplace_back(
                key, xcb_grab_key_checked(conn_, 0, root_, variant, kc, XCB_GRAB_MODE_ASYNC,
                                          XCB_GRAB_MODE_ASYNC));
        }
    }

    bool ok = true;
    bool badAccess = false;
    std::vector<GrabKey> made;
    for (const auto& [key, cookie] : requests) {
        if (Reply<xcb_generic_error_t> error{xcb_request_check(conn_, cookie)}) {
            ok = false;
            badAccess = badAccess || error->error_code == kBadAccess;
        } else {
            made.push_back(key);
        }
    }
    if (!ok) {
        // All or nothing: a combination that works only with Num Lock off
        // would be a puzzle for the user.
        for (const auto& key : made) xcb_ungrab_key(conn_, key.first, root_, key.second);
        sync();
        if (taken) *taken = badAccess;
        return false;
    }
    for (const auto& key : made) {
        grabCount_[key] = 1;
        grabs.push_back(key);
    }
    for (const auto& key : held) {
        ++grabCount_[key];
        grabs.push_back(key);
    }
    return true;
}

void X11HotKeyService::release(const std::vector<GrabKey>& grabs) {
    for (const auto& key : grabs) {
        auto it = grabCount_.find(key);
        if (it == grabCount_.end()) continue;
        if (--it->second == 0) {
            xcb_ungrab_key(conn_, key.first, root_, key.second);
            grabCount_.erase(it);
        }
    }
    sync();
}

void X11HotKeyService::sync() {
    // A round trip: once it returns, the server has carried out every
    // request before it, so a released grab is free for other clients.
    Reply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
}

bool X11HotKeyService::registerHotKey(std::uint32_t id, std::uint32_t carbonKeyCode,
                                      std::uint32_t carbonModifiers) {
    const auto keysym = x11::keysymForCarbonKeyCode(static_cast<int>(carbonKeyCode));
    if (!keysym) return false;
    bool ok = false;
    {
        std::lock_guard lock(mutex_);
        if (auto old = registrations_.find(id); old != registrations_.end()) {
            release(old->second.grabs);
            registrations_.erase(old);
        }
        Registration r{*keysym, x11::xModifierMask(static_cast<int>(carbonModifiers)), {}};
        ok = grab(r.keysym, r.mask, r.grabs, nullptr);
        if (ok) registrations_.emplace(id, std::move(r));
    }
    // Our requests may have read events into xcb's queue.
    watch_->wake();
    return ok;
}

void X11HotKeyService::unregisterHotKey(std::uint32_t id) {
    {
        std::lock_guard lock(mutex_);
        auto it = registrations_.find(id);
        if (it == registrations_.end()) return;
        release(it->second.grabs);
        registrations_.erase(it);
        for (auto p = pressed_.begin(); p != pressed_.end();) {
            std::erase(p->second, id);
            p = p->second.empty() ? pressed_.erase(p) : std::next(p);
        }
    }
    // Our requests may have read events into xcb's queue.
    watch_->wake();
}

bool X11HotKeyService::isTaken(std::uint32_t carbonKeyCode, std::uint32_t carbonModifiers) {
    const auto keysym = x11::keysymForCarbonKeyCode(static_cast<int>(carbonKeyCode));
    if (!keysym) return false;
    const std::uint16_t mask = x11::xModifierMask(static_cast<int>(carbonModifiers));
    bool taken = false;
    {
        std::lock_guard lock(mutex_);
        // Keys we hold already are only counted, never grabbed and released
        // again, so probing our own combination leaves it in place.
        std::vector<GrabKey> probe;
        if (grab(*keysym, mask, probe, &taken)) release(probe);
    }
    // Our requests may have read events into xcb's queue.
    watch_->wake();
    return taken;
}

void X11HotKeyService::setEventHandler(EventHandler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void X11HotKeyService::setKeymapChangedHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    keymapChanged_ = std::move(handler);
}

std::optional<std::string> X11HotKeyService::keyText(int carbonKeyCode) const {
    const auto keysym = x11::keysymForCarbonKeyCode(carbonKeyCode);
    if (!keysym) return std::nullopt;
    {
        std::lock_guard lock(mutex_);
        if (keycodesFor(*keysym).empty()) return std::nullopt;  // not on this keyboard
    }
    char buffer[8] = {};
    const int size = xkb_keysym_to_utf8(*keysym, buffer, sizeof buffer);
    if (size <= 1) return std::nullopt;
    const std::string text(buffer);
    // Control characters (keypad Enter) have nothing to show.
    if (text.size() == 1 && (static_cast<unsigned char>(text[0]) < 0x20 || text[0] == 0x7F))
        return std::nullopt;
    return text;
}

std::optional<int> X11HotKeyService::carbonKeyCodeForKeycode(std::uint8_t keycode) const {
    std::lock_guard lock(mutex_);
    for (int col = 0; col < 2; ++col) {
        if (auto code =
                x11::carbonKeyCodeForKeysym(xcb_key_symbols_get_keysym(symbols_, keycode, col)))
            return code;
    }
    return std::nullopt;
}

std::optional<int> X11HotKeyService::carbonKeyCodeForNativeKey(std::uint32_t nativeKeyCode) const {
    if (nativeKeyCode == 0 || nativeKeyCode > 255) return std::nullopt;
    return carbonKeyCodeForKeycode(static_cast<std::uint8_t>(nativeKeyCode));
}

void X11HotKeyService::regrabAll() {
    for (const auto& [key, count] : grabCount_) xcb_ungrab_key(conn_, key.first, root_, key.second);
    grabCount_.clear();
    for (auto& [id, r] : registrations_) {
        r.grabs.clear();
        // A combination the new mapping cannot grab stays registered without
        // grabs and comes back with the next mapping that allows it.
        grab(r.keysym, r.mask, r.grabs, nullptr);
    }
    sync();
}

void X11HotKeyService::handleEvent(void* raw) {
    auto* event = static_cast<xcb_generic_event_t*>(raw);
    switch (event->response_type & 0x7F) {
        case XCB_KEY_PRESS: {
            auto* e = reinterpret_cast<xcb_key_press_event_t*>(event);
            std::vector<std::uint32_t> ids;
            {
                std::lock_guard lock(mutex_);
                // Still down: a repeat of a held key.
                if (pressed_.contains(e->detail)) return;
                const std::uint16_t state = e->state & 0xFF & ~(XCB_MOD_MASK_LOCK | numLockMask_);
                for (const auto& [id, r] : registrations_) {
                    if (r.mask != state) continue;
                    if (std::any_of(r.grabs.begin(), r.grabs.end(),
                                    [&](const GrabKey& g) { return g.first == e->detail; }))
                        ids.push_back(id);
                }
                if (ids.empty()) return;
                pressed_[e->detail] = ids;
            }
            for (auto id : ids) post(id, HotKeyEvent::pressed);
            return;
        }
        case XCB_KEY_RELEASE: {
            // By key code alone: the modifiers may be up already.
            auto* e = reinterpret_cast<xcb_key_release_event_t*>(event);
            std::vector<std::uint32_t> ids;
            {
                std::lock_guard lock(mutex_);
                auto node = pressed_.extract(e->detail);
                if (node.empty()) return;
                ids = std::move(node.mapped());
            }
            for (auto id : ids) post(id, HotKeyEvent::released);
            return;
        }
        case XCB_MAPPING_NOTIFY: {
            auto* e = reinterpret_cast<xcb_mapping_notify_event_t*>(event);
            if (e->request != XCB_MAPPING_POINTER) keymapChanged();
            return;
        }
        default:
            if (xkbEventBase_ != 0 && event->response_type == xkbEventBase_) {
                // The XKB event type sits in the second byte.
                const auto xkbType = reinterpret_cast<const std::uint8_t*>(event)[1];
                if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
                    keymapChanged();
            }
            return;  // errors of unchecked requests and anything else
    }
}

void X11HotKeyService::keymapChanged() {
    std::function<void()> changed;
    {
        std::lock_guard lock(mutex_);
        // Start over with the symbols: they are fetched again when next asked.
        xcb_key_symbols_free(symbols_);
        symbols_ = xcb_key_symbols_alloc(conn_);
        readNumLockMask();
        regrabAll();
        changed = keymapChanged_;
    }
    if (changed) dispatcher_->postUI(std::move(changed));
}

void X11HotKeyService::post(std::uint32_t id, int kind) {
    EventHandler handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
    }
    if (!handler) return;
    dispatcher_->postUI(
        [handler = std::move(handler), event = HotKeyEvent{id, kind}] { handler(event); });
}

}  // namespace lumora
