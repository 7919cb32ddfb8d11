#include "shortcuts/keyboard_shortcuts.h"

#include <gtest/gtest.h>

#include "module_fixture.h"
#include "shortcuts/carbon_keyboard_shortcuts.h"

namespace lumora::testing {
namespace {

using Layer = CarbonKeyboardShortcuts;

const Shortcut ctrlOptL(Key::l, Modifier::control | Modifier::option);
const Shortcut cmdShiftK(Key::k, Modifier::command | Modifier::shift);
const Shortcut f5(Key::f5);

class KeyboardShortcutsTest : public ShortcutModuleTest {
  protected:
    const Name& off = Name::actionAllLightsOff;
    const Name& on = Name::actionAllLightsOn;
};

TEST_F(KeyboardShortcutsTest, NamesAndTheirDefaultsKeys) {
    ASSERT_EQ(Name::all().size(), 13u);
    EXPECT_EQ(Name::all().front(), Name::actionAllLightsOn);
    EXPECT_EQ(Name::all()[11], Name::actionCustomGroup5);
    EXPECT_EQ(Name::all().back(), Name::actionTogglePanel);
    EXPECT_EQ(KS::userDefaultsKey(Name::actionTogglePanel), "KeyboardShortcuts_togglePanel");
    EXPECT_EQ(KS::userDefaultsKey(Name::actionAllLightsOn), "KeyboardShortcuts_allLightsOn");
    EXPECT_EQ(KS::userDefaultsKey(Name::actionAllLightsWhite), "KeyboardShortcuts_allLightsWhite");
    EXPECT_EQ(KS::userDefaultsKey(Name::actionCustomGroup3),
              "KeyboardShortcuts_actionCustomGroup3");
    EXPECT_EQ(Name("allLightsOn"), Name::actionAllLightsOn);
}

TEST_F(KeyboardShortcutsTest, OddStoredEntriesReadAsNone) {
    const auto key = KS::userDefaultsKey(off);
    store->set(key, DefaultsValue(std::string(R"({"carbonModifiers":6144,"carbonKeyCode":37})")));
    EXPECT_EQ(KS::getShortcut(off), ctrlOptL);
    for (const DefaultsValue& v :
         {DefaultsValue(false), DefaultsValue(true), DefaultsValue(std::int64_t{37}),
          DefaultsValue(37.0), DefaultsValue(std::string("garbage")),
          DefaultsValue(std::string(R"({"carbonKeyCode":37,"carbonModifiers":"x"})"))}) {
        store->set(key, v);
        EXPECT_EQ(KS::getShortcut(off), std::nullopt);
        EXPECT_TRUE(KS::userDefaultsContains(off));
    }
    store->remove(key);
    EXPECT_FALSE(KS::userDefaultsContains(off));
}

TEST_F(KeyboardShortcutsTest, StoringReplacesTheRegistrationWritesAndPosts) {
    KS::setShortcut(ctrlOptL, off);
    EXPECT_EQ(store->string("KeyboardShortcuts_allLightsOff"), ctrlOptL.json());
    EXPECT_EQ(posted, std::vector<std::string>{"allLightsOff"});
    EXPECT_EQ(service->calls, (std::vector<FakeHotKeyService::Call>{
                                  {"register", 1, FakeHotKeyService::combo(ctrlOptL)}}));

    KS::setShortcut(cmdShiftK, off);
    EXPECT_EQ(KS::getShortcut(off), cmdShiftK);
    EXPECT_EQ(service->calls, (std::vector<FakeHotKeyService::Call>{
                                  {"register", 1, FakeHotKeyService::combo(ctrlOptL)},
                                  {"unregister", 1, FakeHotKeyService::combo(ctrlOptL)},
                                  {"register", 2, FakeHotKeyService::combo(cmdShiftK)}}));
    EXPECT_EQ(KS::registeredShortcuts(), std::set<Shortcut>{cmdShiftK});
    EXPECT_EQ(posted.size(), 2u);
}

TEST_F(KeyboardShortcutsTest, ClearingWritesFalseOnceAndOnlyWhenSet) {
    KS::setShortcut(std::nullopt, off);  // never set: nothing at all
    EXPECT_FALSE(KS::userDefaultsContains(off));
    EXPECT_TRUE(posted.empty());

    KS::setShortcut(ctrlOptL, off);
    posted.clear();
    KS::setShortcut(std::nullopt, off);
    EXPECT_EQ(store->object("KeyboardShortcuts_allLightsOff"), DefaultsValue(false));
    EXPECT_TRUE(KS::userDefaultsContains(off));
    EXPECT_EQ(KS::getShortcut(off), std::nullopt);
    EXPECT_TRUE(service->active.empty());
    EXPECT_TRUE(KS::registeredShortcuts().empty());
    EXPECT_EQ(posted, std::vector<std::string>{"allLightsOff"});

    const auto before = store->snapshot();
    const auto callsBefore = service->calls.size();
    KS::setShortcut(std::nullopt, off);
    EXPECT_EQ(store->snapshot(), before);
    EXPECT_EQ(posted.size(), 1u);
    EXPECT_EQ(service->calls.size(), callsBefore);
}

TEST_F(KeyboardShortcutsTest, HandlerAddedBeforeRecordingFiresOnReleaseAfterIt) {
    int ups = 0, downs = 0;
    KS::onKeyUp(off, [&] { ++ups; });
    KS::onKeyDown(off, [&] { ++downs; });
    EXPECT_TRUE(service->calls.empty());
    EXPECT_FALSE(Layer::eventHandlerInstalled());

    KS::setShortcut(ctrlOptL, off);
    EXPECT_EQ(service->handlerInstalls, 1);
    service->press(ctrlOptL);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 0);
    service->release(ctrlOptL);
    EXPECT_EQ(ups, 1);

    KS::setShortcut(cmdShiftK, off);
    service->tap(cmdShiftK);
    EXPECT_EQ(ups, 2);
    EXPECT_EQ(service->handlerInstalls, 1);  // installed once
}

TEST_F(KeyboardShortcutsTest, HandlersFollowTheCombinationStoredAtThePress) {
    std::vector<std::string> fired;
    KS::setShortcut(ctrlOptL, off);
    KS::setShortcut(ctrlOptL, on);
    KS::onKeyUp(off, [&] { fired.push_back("off1"); });
    KS::onKeyUp(off, [&] { fired.push_back("off2"); });
    KS::onKeyUp(on, [&] { fired.push_back("on"); });

    service->tap(ctrlOptL);  // both names hold it: both fire, each in order added
    std::sort(fired.begin(), fired.end());
    EXPECT_EQ(fired, (std::vector<std::string>{"off1", "off2", "on"}));

    // Changed behind the module's back: the registration for ctrl-opt-L is
    // still there, but only the name that still stores it fires.
    fired.clear();
    store->setString(KS::userDefaultsKey(off), cmdShiftK.json());
    service->tap(ctrlOptL);
    EXPECT_EQ(fired, std::vector<std::string>{"on"});
}

TEST_F(KeyboardShortcutsTest, NothingFiresWhilePaused) {
    int ups = 0;
    KS::setShortcut(f5, off);
    KS::onKeyUp(off, [&] { ++ups; });
    KS::setPaused(true);
    service->tap(f5);
    EXPECT_EQ(ups, 0);
    KS::setPaused(false);
    service->tap(f5);
    EXPECT_EQ(ups, 1);
}

TEST_F(KeyboardShortcutsTest, PausingLetsGoOfEveryRegistrationUntilResumed) {
    int offs = 0, ons = 0;
    KS::setShortcut(f5, off);       // id 1
    KS::setShortcut(ctrlOptL, on);  // id 2
    KS::onKeyUp(off, [&] { ++offs; });
    KS::onKeyUp(on, [&] { ++ons; });
    ASSERT_EQ(service->active.size(), 2u);

    KS::setPaused(true);
    EXPECT_TRUE(service->active.empty()) << "a grab would steal the press from the recorder";
    EXPECT_EQ(Layer::hotKeys().size(), 2u) << "kept for the resume";
    KS::setPaused(true);  // a second pause changes nothing
    EXPECT_TRUE(service->active.empty());

    // Recorded while paused: tried (so a refusal is known) but not held.
    service->calls.clear();
    KS::setShortcut(cmdShiftK, on);  // id 3, replaces id 2
    EXPECT_TRUE(service->active.empty());
    EXPECT_EQ((std::vector<FakeHotKeyService::Call>{
                  {"register", 3, FakeHotKeyService::combo(cmdShiftK)},
                  {"unregister", 3, FakeHotKeyService::combo(cmdShiftK)}}),
              service->calls);
    // Another program takes F5 meanwhile: dropped when the grabs come back.
    service->heldElsewhere = {FakeHotKeyService::combo(f5)};

    KS::setPaused(false);
    EXPECT_EQ(service->active, (std::map<std::uint32_t, FakeHotKeyService::Combo>{
                                   {3, FakeHotKeyService::combo(cmdShiftK)}}));
    EXPECT_EQ(Layer::hotKeys().size(), 1u);
    service->tap(cmdShiftK);
    service->tap(ctrlOptL);
    service->tap(f5);
    EXPECT_EQ(ons, 1);
    EXPECT_EQ(offs, 0);

    // A service installed while paused holds nothing until the resume.
    auto other = std::make_shared<FakeHotKeyService>();
    KS::setPaused(true);
    KS::setHotKeyService(other);
    EXPECT_TRUE(other->active.empty());
    EXPECT_FALSE(other->calls.empty()) << "the names were tried there";
    KS::setPaused(false);
    EXPECT_EQ(other->active.size(), 2u);  // F5 is free at the new one
}

TEST_F(KeyboardShortcutsTest, IdsAreNeverReusedAndRefusalsKeepNothing) {
    service->heldElsewhere = {FakeHotKeyService::combo(cmdShiftK)};
    KS::setShortcut(ctrlOptL, off);  // id 1
    KS::setShortcut(cmdShiftK, on);  // id 2, refused
    EXPECT_EQ(Layer::hotKeyId(), 2u);
    EXPECT_EQ(Layer::hotKeys().size(), 1u);
    EXPECT_TRUE(Layer::hotKeys().contains(1));
    // Stored and counted as registered all the same; it just never fires.
    EXPECT_EQ(KS::getShortcut(on), cmdShiftK);
    EXPECT_TRUE(KS::registeredShortcuts().contains(cmdShiftK));
    HotKeyEvent refused{2, HotKeyEvent::released};
    EXPECT_EQ(Layer::handleEvent(&refused), Layer::eventNotHandledErr);

    KS::setShortcut(std::nullopt, off);
    KS::setShortcut(ctrlOptL, off);
    EXPECT_EQ(Layer::hotKeyId(), 3u);
    EXPECT_EQ(service->active.begin()->first, 3u);
    HotKeyEvent stale{1, HotKeyEvent::released};
    EXPECT_EQ(Layer::handleEvent(&stale), Layer::eventNotHandledErr);
}

TEST_F(KeyboardShortcutsTest, EventHandlerAnswersOnlyKnownPressesAndReleases) {
    int ups = 0;
    KS::setShortcut(f5, off);
    KS::onKeyUp(off, [&] { ++ups; });
    const HotKeyEvent release{1, HotKeyEvent::released};
    const HotKeyEvent other{1, 7};
    const HotKeyEvent unknown{9, HotKeyEvent::released};
    EXPECT_EQ(Layer::handleEvent(nullptr), Layer::eventNotHandledErr);
    EXPECT_EQ(Layer::handleEvent(&other), Layer::eventNotHandledErr);
    EXPECT_EQ(Layer::handleEvent(&unknown), Layer::eventNotHandledErr);
    EXPECT_EQ(ups, 0);
    EXPECT_EQ(Layer::handleEvent(&release), Layer::noErr);
    EXPECT_EQ(ups, 1);
}

TEST_F(KeyboardShortcutsTest, DefaultIsStoredOnlyWhenNothingIsThere) {
    const Name fresh("fresh", f5);
    EXPECT_EQ(KS::getShortcut(fresh), f5);
    EXPECT_EQ(posted, std::vector<std::string>{"fresh"});

    KS::setShortcut(std::nullopt, fresh);  // the user cleared it
    const Name again("fresh", ctrlOptL);
    EXPECT_EQ(KS::getShortcut(again), std::nullopt);
}

TEST_F(KeyboardShortcutsTest, AnotherServiceTakesOverEveryBoundName) {
    int ups = 0;
    KS::setShortcut(ctrlOptL, off);
    KS::onKeyUp(off, [&] { ++ups; });
    auto next = std::make_shared<FakeHotKeyService>();
    KS::setHotKeyService(next);
    EXPECT_TRUE(service->active.empty());
    EXPECT_EQ(next->active.size(), 1u);
    service->tap(ctrlOptL);
    next->tap(ctrlOptL);
    EXPECT_EQ(ups, 1);
}

}  // namespace
}  // namespace lumora::testing
