// The X11 hot-key service against a private Xvfb, driven with xdotool.

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/defaults_store.h"
#include "base/dispatch.h"
#include "shortcuts/carbon_keyboard_shortcuts.h"
#include "shortcuts/keyboard_shortcuts.h"
#include "shortcuts/recorder_rules.h"
#include "shortcuts/x11/key_tables.h"
#include "shortcuts/x11/x11_hotkey_service.h"
#include "support/manual_executor.h"
#include "support/xvfb.h"

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;
using KS = KeyboardShortcuts;
using Name = KeyboardShortcuts::Name;

const Shortcut ctrlOptL(Key::l, Modifier::control | Modifier::option);
const Shortcut ctrlOptK(Key::k, Modifier::control | Modifier::option);
const Shortcut ctrlOptJ(Key::j, Modifier::control | Modifier::option);
const Shortcut ctrlOptM(Key::m, Modifier::control | Modifier::option);

// A top-level window of another client that holds the input focus, as a
// recorder's window does, and collects the key presses it is sent.
class FocusedWindow {
  public:
    explicit FocusedWindow(const std::string& display) : client(display) {
        window = xcb_generate_id(client.conn);
        const std::uint32_t events = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(client.conn)).data;
        xcb_create_window(client.conn, XCB_COPY_FROM_PARENT, window, client.root, 0, 0, 100, 40, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                          &events);
        xcb_map_window(client.conn, window);
        client.roundTrip();  // no window manager: mapped, hence viewable, now
        xcb_set_input_focus(client.conn, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        client.roundTrip();
    }
    std::vector<xcb_key_press_event_t> presses() { return client.keyPresses(); }

    OtherClient client;
    xcb_window_t window = 0;
};

// The recorder's view of an X key press.
RecorderEvent recorderEvent(const X11HotKeyService& service, const xcb_key_press_event_t& e) {
    const int mods = x11::carbonModifiersForXState(e.state);
    EventModifiers m{.shift = (mods & 0x200) != 0,
                     .control = (mods & 0x1000) != 0,
                     .option = (mods & 0x800) != 0,
                     .command = (mods & 0x100) != 0};
    return RecorderEvent::keyDown(service.carbonKeyCodeForNativeKey(e.detail).value_or(-1), m);
}

class X11HotKeyTest : public XvfbTest {
  protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped()) return;
        service = X11HotKeyService::connect(executor, server->display.c_str());
        ASSERT_TRUE(service) << "cannot connect to " << server->display;
        layer = std::make_unique<CarbonKeyboardShortcuts>(service);
        ks = std::make_unique<KS>(store, nullptr, *layer, service);
    }
    void TearDown() override {
        ks.reset();
        layer.reset();
        service.reset();
    }

    bool pumpUntil(const std::function<bool()>& done) { return executor->runUntil(done, 3s); }

    std::shared_ptr<ManualExecutor> executor =
        std::make_shared<ManualExecutor>(ManualExecutor::Background::Threads);
    std::shared_ptr<InMemoryDefaultsStore> store = std::make_shared<InMemoryDefaultsStore>();
    std::shared_ptr<X11HotKeyService> service;
    std::unique_ptr<CarbonKeyboardShortcuts> layer;
    std::unique_ptr<KS> ks;
};

TEST_F(X11HotKeyTest, PressFiresWithNumLockAndStopsOnceCleared) {
    int downs = 0, offs = 0, ons = 0;
    ks->setShortcut(ctrlOptL, Name::actionAllLightsOff);
    ks->onKeyDown(Name::actionAllLightsOff, [&] { ++downs; });
    ks->onKeyUp(Name::actionAllLightsOff, [&] { ++offs; });

    ASSERT_TRUE(press("ctrl+alt+l"));
    ASSERT_TRUE(pumpUntil([&] { return offs == 1; }));
    EXPECT_EQ(downs, 1);

    // With Num Lock on the server adds its modifier to the press.
    ASSERT_TRUE(xdotool({"key", "Num_Lock", "ctrl+alt+l", "Num_Lock"}));
    ASSERT_TRUE(pumpUntil([&] { return offs == 2; }));

    // Once cleared the key goes nowhere; a still bound key pressed after it
    // shows the server has delivered both.
    ks->setShortcut(std::nullopt, Name::actionAllLightsOff);
    ks->setShortcut(ctrlOptK, Name::actionAllLightsOn);
    ks->onKeyUp(Name::actionAllLightsOn, [&] { ++ons; });
    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "ctrl+alt+l", "ctrl+alt+k"}));
    ASSERT_TRUE(pumpUntil([&] { return ons == 1; }));
    EXPECT_EQ(offs, 2);
}

TEST_F(X11HotKeyTest, GrabsHeldByAnotherClientAreTakenAndNeverHalfMade) {
    OtherClient other(server->display);
    const std::uint16_t ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    ASSERT_TRUE(other.grab(XKB_KEY_k, ctrlAlt));

    EXPECT_TRUE(ctrlOptK.isTakenBySystem(*layer));
    ks->setShortcut(ctrlOptK, Name::actionAllLightsOn);
    EXPECT_EQ(ks->getShortcut(Name::actionAllLightsOn), ctrlOptK);  // stored all the same
    EXPECT_TRUE(layer->hotKeys().empty());

    // Only the Caps Lock variant is held: the whole registration fails and
    // the variants already grabbed are let go.
    ASSERT_TRUE(other.grab(XKB_KEY_m, ctrlAlt | XCB_MOD_MASK_LOCK));
    EXPECT_FALSE(service->registerHotKey(40, 46, ctrlOptM.carbonModifiers()));
    EXPECT_TRUE(other.grab(XKB_KEY_m, ctrlAlt));

    // A free combination: the probe does not keep it.
    EXPECT_FALSE(ctrlOptJ.isTakenBySystem(*layer));
    EXPECT_TRUE(other.grab(XKB_KEY_j, ctrlAlt));

    // Our own grab is not taken, and probing it does not drop it.
    int offs = 0;
    ks->setShortcut(ctrlOptL, Name::actionAllLightsOff);
    ks->onKeyUp(Name::actionAllLightsOff, [&] { ++offs; });
    EXPECT_FALSE(ctrlOptL.isTakenBySystem(*layer));
    EXPECT_FALSE(other.grab(XKB_KEY_l, ctrlAlt));
    ASSERT_TRUE(press("ctrl+alt+l"));
    EXPECT_TRUE(pumpUntil([&] { return offs == 1; }));
}

TEST_F(X11HotKeyTest, ARecorderGetsABoundPressWhilePausedAndNothingFires) {
    int downs = 0, offs = 0, ons = 0;
    ks->setShortcut(ctrlOptL, Name::actionAllLightsOff);
    ks->onKeyDown(Name::actionAllLightsOff, [&] { ++downs; });
    ks->onKeyUp(Name::actionAllLightsOff, [&] { ++offs; });
    ks->onKeyUp(Name::actionAllLightsOn, [&] { ++ons; });
    FocusedWindow window(server->display);
    const xcb_keycode_t l = window.client.keycode(XKB_KEY_l);
    // The modifier keys reach the window either way; the L key is the test.
    auto pressesOfL = [&] {
        int n = 0;
        for (const auto& e : window.presses()) n += e.detail == l;
        return n;
    };

    // Grabbed: the service gets the press, the focused window does not.
    ASSERT_TRUE(press("ctrl+alt+l"));
    ASSERT_TRUE(pumpUntil([&] { return offs == 1; }));
    EXPECT_EQ(pressesOfL(), 0);

    // A recorder for another name takes focus: the press reaches its window
    // and is recorded there; no handler runs.
    auto recorder = std::make_shared<RecorderRules>(*ks, Name::actionAllLightsOn, 130, 22);
    recorder->focusGained();
    ASSERT_TRUE(ks->isPaused());
    ASSERT_TRUE(press("ctrl+alt+l"));
    std::vector<xcb_key_press_event_t> got;
    for (int i = 0; i < 50 && got.empty(); ++i, std::this_thread::sleep_for(10ms)) {
        for (const auto& e : window.presses())
            if (e.detail == l) got.push_back(e);
    }
    ASSERT_EQ(got.size(), 1u) << "the press went to the grab, not the recorder";
    executor->runUntil([] { return false; }, 200ms);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(offs, 1);
    const RecorderResponse r = recorder->handleEvent(recorderEvent(*service, got[0]));
    EXPECT_TRUE(r.saved);
    EXPECT_FALSE(r.alert) << "our own grab is not the system's";
    EXPECT_EQ(ks->getShortcut(Name::actionAllLightsOn), ctrlOptL);
    EXPECT_FALSE(ks->isPaused());

    // Recording over: grabbed again, and now both names fire.
    ASSERT_TRUE(press("ctrl+alt+l"));
    ASSERT_TRUE(pumpUntil([&] { return offs == 2 && ons == 1; }));
    EXPECT_EQ(pressesOfL(), 0);
}

TEST_F(X11HotKeyTest, GrabFollowsTheKeyAfterAMappingChange) {
    int offs = 0, changes = 0;
    service->setKeymapChangedHandler([&] { ++changes; });
    ks->setShortcut(ctrlOptL, Name::actionAllLightsOff);
    ks->onKeyUp(Name::actionAllLightsOff, [&] { ++offs; });

    OtherClient other(server->display);
    const xcb_keycode_t old = other.keycode(XKB_KEY_l);
    const xcb_setup_t* setup = xcb_get_setup(other.conn);
    xcb_keycode_t spare = 0;
    for (int kc = setup->max_keycode; kc >= setup->min_keycode && !spare; --kc) {
        bool empty = true;
        for (int col = 0; col < 4; ++col)
            empty = empty && xcb_key_symbols_get_keysym(other.symbols, kc, col) == XCB_NO_SYMBOL;
        if (empty) spare = static_cast<xcb_keycode_t>(kc);
    }
    ASSERT_NE(old, 0);
    ASSERT_NE(spare, 0);

    other.setKeysyms(spare, {XKB_KEY_l, XKB_KEY_L});
    other.setKeysyms(old, {XCB_NO_SYMBOL, XCB_NO_SYMBOL});
    ASSERT_TRUE(pumpUntil([&] { return changes >= 2; }));
    EXPECT_EQ(service->carbonKeyCodeForKeycode(spare), 37);

    ASSERT_TRUE(press("ctrl+alt+l"));
    EXPECT_TRUE(pumpUntil([&] { return offs == 1; }));

    other.setKeysyms(old, {XKB_KEY_l, XKB_KEY_L});
    other.setKeysyms(spare, {XCB_NO_SYMBOL, XCB_NO_SYMBOL});
    pumpUntil([&] { return changes >= 4; });
}

TEST_F(X11HotKeyTest, KeyTextComesFromTheLiveKeymap) {
    OtherClient other(server->display);
    EXPECT_EQ(service->keyText(37), "l");
    EXPECT_EQ(service->keyText(static_cast<int>(Key::keypadMultiply)), "*");
    EXPECT_EQ(service->keyText(static_cast<int>(Key::keypadEnter)), std::nullopt);
    EXPECT_EQ(service->keyText(52), std::nullopt);
    EXPECT_EQ(ks->description(Shortcut(Key::l, Modifier::command | Modifier::shift)), "⇧⌘L");
    EXPECT_EQ(ks->description(Shortcut(Key::quote, Modifier::control)), "⌃'");
    EXPECT_EQ(service->carbonKeyCodeForKeycode(other.keycode(XKB_KEY_KP_1)), 83);
    EXPECT_EQ(service->carbonKeyCodeForKeycode(other.keycode(XKB_KEY_F5)), 96);
}

TEST(X11KeyTables, EveryKnownKeyHasOneKeysymAndBack) {
    std::set<std::uint32_t> seen;
    for (Key key : allKeys()) {
        const int code = static_cast<int>(key);
        const auto keysym = x11::keysymForCarbonKeyCode(code);
        ASSERT_TRUE(keysym) << "key code " << code;
        EXPECT_TRUE(seen.insert(*keysym).second) << "keysym used twice: " << *keysym;
        EXPECT_EQ(x11::carbonKeyCodeForKeysym(*keysym), code);
    }
    EXPECT_EQ(x11::keyMappings().size(), allKeys().size());
    EXPECT_EQ(x11::carbonKeyCodeForKeysym(XKB_KEY_L), 37);
    EXPECT_EQ(x11::carbonKeyCodeForKeysym(XKB_KEY_adiaeresis), std::nullopt);

    const int all = 0x100 | 0x200 | 0x800 | 0x1000;
    EXPECT_EQ(x11::xModifierMask(all),
              XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4);
    EXPECT_EQ(x11::xModifierMask(0x1000 | 0x800), XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
    EXPECT_EQ(x11::carbonModifiersForXState(XCB_MOD_MASK_4 | XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK),
              0x100);
}

}  // namespace
}  // namespace lumora::testing
