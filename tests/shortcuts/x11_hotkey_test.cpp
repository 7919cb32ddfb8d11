// The X11 hot-key service against a private Xvfb, driven with xdotool.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/defaults_store.h"
#include "app/dispatch.h"
#include "app/manual_executor.h"
#include "shortcuts/carbon_keyboard_shortcuts.h"
#include "shortcuts/keyboard_shortcuts.h"
#include "shortcuts/x11/key_tables.h"
#include "shortcuts/x11/x11_hotkey_service.h"
#include "support/x11_support.h"

extern char** environ;

namespace lumora::testing {
namespace {

using namespace std::chrono_literals;
using KS = KeyboardShortcuts;
using Name = KeyboardShortcuts::Name;

const Shortcut ctrlOptL(Key::l, Modifier::control | Modifier::option);
const Shortcut ctrlOptK(Key::k, Modifier::control | Modifier::option);
const Shortcut ctrlOptJ(Key::j, Modifier::control | Modifier::option);
const Shortcut ctrlOptM(Key::m, Modifier::control | Modifier::option);

class X11HotKeyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server = new Xvfb(); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        if (!server->failure.empty())
            GTEST_SKIP() << "X11 tests need an X server: " << server->failure;
        xdotoolPath = findProgram("xdotool");
        if (xdotoolPath.empty()) GTEST_SKIP() << "no xdotool binary on PATH";
        previous = installDispatcher(executor);
        service = X11HotKeyService::connect(server->display.c_str());
        ASSERT_TRUE(service) << "cannot connect to " << server->display;
        KS::reset();
        KS::setStore(store);
        KS::setHotKeyService(service);
        KS::setKeyTextProvider(service);
    }
    void TearDown() override {
        KS::reset();
        service.reset();
        installDispatcher(previous);
    }

    // Runs xdotool with DISPLAY set for it alone.
    bool xdotool(std::vector<std::string> args) {
        return runXdotool(xdotoolPath, server->display, std::move(args));
    }
    bool pumpUntil(const std::function<bool()>& done) { return executor->runUntil(done, 3s); }

    static Xvfb* server;
    std::string xdotoolPath;
    std::shared_ptr<ManualExecutor> executor =
        std::make_shared<ManualExecutor>(ManualExecutor::Background::Threads);
    std::shared_ptr<Dispatcher> previous;
    std::shared_ptr<InMemoryDefaultsStore> store = std::make_shared<InMemoryDefaultsStore>();
    std::shared_ptr<X11HotKeyService> service;
};

Xvfb* X11HotKeyTest::server = nullptr;

TEST_F(X11HotKeyTest, PressFiresWithNumLockAndStopsOnceCleared) {
    int downs = 0, offs = 0, ons = 0;
    KS::setShortcut(ctrlOptL, Name::actionAllLightsOff);
    KS::onKeyDown(Name::actionAllLightsOff, [&] { ++downs; });
    KS::onKeyUp(Name::actionAllLightsOff, [&] { ++offs; });

    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "ctrl+alt+l"}));
    ASSERT_TRUE(pumpUntil([&] { return offs == 1; }));
    EXPECT_EQ(downs, 1);

    // With Num Lock on the server adds its modifier to the press.
    ASSERT_TRUE(xdotool({"key", "Num_Lock", "ctrl+alt+l", "Num_Lock"}));
    ASSERT_TRUE(pumpUntil([&] { return offs == 2; }));

    // Once cleared the key goes nowhere; a still bound key pressed after it
    // shows the server has delivered both.
    KS::setShortcut(std::nullopt, Name::actionAllLightsOff);
    KS::setShortcut(ctrlOptK, Name::actionAllLightsOn);
    KS::onKeyUp(Name::actionAllLightsOn, [&] { ++ons; });
    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "ctrl+alt+l", "ctrl+alt+k"}));
    ASSERT_TRUE(pumpUntil([&] { return ons == 1; }));
    EXPECT_EQ(offs, 2);
}

TEST_F(X11HotKeyTest, GrabsHeldByAnotherClientAreTakenAndNeverHalfMade) {
    OtherClient other(server->display);
    const std::uint16_t ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    ASSERT_TRUE(other.grab(XKB_KEY_k, ctrlAlt));

    EXPECT_TRUE(ctrlOptK.isTakenBySystem());
    KS::setShortcut(ctrlOptK, Name::actionAllLightsOn);
    EXPECT_EQ(KS::getShortcut(Name::actionAllLightsOn), ctrlOptK);  // stored all the same
    EXPECT_TRUE(CarbonKeyboardShortcuts::hotKeys().empty());

    // Only the Caps Lock variant is held: the whole registration fails and
    // the variants already grabbed are let go.
    ASSERT_TRUE(other.grab(XKB_KEY_m, ctrlAlt | XCB_MOD_MASK_LOCK));
    EXPECT_FALSE(service->registerHotKey(40, 46, ctrlOptM.carbonModifiers()));
    EXPECT_TRUE(other.grab(XKB_KEY_m, ctrlAlt));

    // A free combination: the probe does not keep it.
    EXPECT_FALSE(ctrlOptJ.isTakenBySystem());
    EXPECT_TRUE(other.grab(XKB_KEY_j, ctrlAlt));

    // Our own grab is not taken, and probing it does not drop it.
    int offs = 0;
    KS::setShortcut(ctrlOptL, Name::actionAllLightsOff);
    KS::onKeyUp(Name::actionAllLightsOff, [&] { ++offs; });
    EXPECT_FALSE(ctrlOptL.isTakenBySystem());
    EXPECT_FALSE(other.grab(XKB_KEY_l, ctrlAlt));
    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "ctrl+alt+l"}));
    EXPECT_TRUE(pumpUntil([&] { return offs == 1; }));
}

TEST_F(X11HotKeyTest, GrabFollowsTheKeyAfterAMappingChange) {
    int offs = 0, changes = 0;
    service->setKeymapChangedHandler([&] { ++changes; });
    KS::setShortcut(ctrlOptL, Name::actionAllLightsOff);
    KS::onKeyUp(Name::actionAllLightsOff, [&] { ++offs; });

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

    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "ctrl+alt+l"}));
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
    EXPECT_EQ(Shortcut(Key::l, Modifier::command | Modifier::shift).description(), "⇧⌘L");
    EXPECT_EQ(Shortcut(Key::quote, Modifier::control).description(), "⌃'");
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
