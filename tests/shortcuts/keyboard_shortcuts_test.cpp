#include "shortcuts/keyboard_shortcuts.h"

#include <gtest/gtest.h>

#include <optional>

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

// Stored files rely on the spelling of these keys.
TEST_F(KeyboardShortcutsTest, NamesAndTheirDefaultsKeys) {
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
    EXPECT_EQ(ks.getShortcut(off), ctrlOptL);
    for (const DefaultsValue& v :
         {DefaultsValue(false), DefaultsValue(true), DefaultsValue(std::int64_t{37}),
          DefaultsValue(37.0), DefaultsValue(std::string("garbage")),
          DefaultsValue(std::string(R"({"carbonKeyCode":37,"carbonModifiers":"x"})"))}) {
        store->set(key, v);
        EXPECT_EQ(ks.getShortcut(off), std::nullopt);
        EXPECT_TRUE(ks.userDefaultsContains(off));
    }
    store->remove(key);
    EXPECT_FALSE(ks.userDefaultsContains(off));
}

TEST_F(KeyboardShortcutsTest, StoringReplacesTheRegistrationWritesAndPosts) {
    ks.setShortcut(ctrlOptL, off);
    EXPECT_EQ(store->string("KeyboardShortcuts_allLightsOff"), ctrlOptL.json());
    EXPECT_EQ(posted, std::vector<std::string>{"allLightsOff"});
    EXPECT_EQ(service->calls, (std::vector<FakeHotKeyService::Call>{
                                  {"register", 1, FakeHotKeyService::combo(ctrlOptL)}}));

    ks.setShortcut(cmdShiftK, off);
    EXPECT_EQ(ks.getShortcut(off), cmdShiftK);
    EXPECT_EQ(service->calls, (std::vector<FakeHotKeyService::Call>{
                                  {"register", 1, FakeHotKeyService::combo(ctrlOptL)},
                                  {"unregister", 1, FakeHotKeyService::combo(ctrlOptL)},
                                  {"register", 2, FakeHotKeyService::combo(cmdShiftK)}}));
    EXPECT_EQ(ks.registeredShortcuts(), std::set<Shortcut>{cmdShiftK});
    EXPECT_EQ(posted.size(), 2u);
}

TEST_F(KeyboardShortcutsTest, ClearingWritesFalseOnceAndOnlyWhenSet) {
    ks.setShortcut(std::nullopt, off);  // never set: nothing at all
    EXPECT_FALSE(ks.userDefaultsContains(off));
    EXPECT_TRUE(posted.empty());

    ks.setShortcut(ctrlOptL, off);
    posted.clear();
    ks.setShortcut(std::nullopt, off);
    EXPECT_EQ(store->object("KeyboardShortcuts_allLightsOff"), DefaultsValue(false));
    EXPECT_TRUE(ks.userDefaultsContains(off));
    EXPECT_EQ(ks.getShortcut(off), std::nullopt);
    EXPECT_TRUE(service->active.empty());
    EXPECT_TRUE(ks.registeredShortcuts().empty());
    EXPECT_EQ(posted, std::vector<std::string>{"allLightsOff"});

    const auto before = store->snapshot();
    const auto callsBefore = service->calls.size();
    ks.setShortcut(std::nullopt, off);
    EXPECT_EQ(store->snapshot(), before);
    EXPECT_EQ(posted.size(), 1u);
    EXPECT_EQ(service->calls.size(), callsBefore);
}

TEST_F(KeyboardShortcutsTest, HandlerAddedBeforeRecordingFiresOnReleaseAfterIt) {
    int ups = 0, downs = 0;
    ks.onKeyUp(off, [&] { ++ups; });
    ks.onKeyDown(off, [&] { ++downs; });
    EXPECT_TRUE(service->calls.empty());
    EXPECT_FALSE(layer.eventHandlerInstalled());

    ks.setShortcut(ctrlOptL, off);
    EXPECT_EQ(service->handlerInstalls, 1);
    service->press(ctrlOptL);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(ups, 0);
    service->release(ctrlOptL);
    EXPECT_EQ(ups, 1);

    ks.setShortcut(cmdShiftK, off);
    service->tap(cmdShiftK);
    EXPECT_EQ(ups, 2);
    EXPECT_EQ(service->handlerInstalls, 1);  // installed once
}

TEST_F(KeyboardShortcutsTest, HandlersFollowTheCombinationStoredAtThePress) {
    std::vector<std::string> fired;
    ks.setShortcut(ctrlOptL, off);
    ks.setShortcut(ctrlOptL, on);
    ks.onKeyUp(off, [&] { fired.push_back("off1"); });
    ks.onKeyUp(off, [&] { fired.push_back("off2"); });
    ks.onKeyUp(on, [&] { fired.push_back("on"); });

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

TEST_F(KeyboardShortcutsTest, PausingLetsGoOfEveryRegistrationUntilResumed) {
    int offs = 0, ons = 0;
    ks.setShortcut(f5, off);       // id 1
    ks.setShortcut(ctrlOptL, on);  // id 2
    ks.onKeyUp(off, [&] { ++offs; });
    ks.onKeyUp(on, [&] { ++ons; });
    ASSERT_EQ(service->active.size(), 2u);

    ks.setPaused(true);
    EXPECT_TRUE(service->active.empty()) << "a grab would steal the press from the recorder";
    EXPECT_EQ(layer.hotKeys().size(), 2u) << "kept for the resume";
    ks.setPaused(true);  // a second pause changes nothing
    EXPECT_TRUE(service->active.empty());
    service->tap(f5);
    EXPECT_EQ(offs, 0);

    // Recorded while paused: tried (so a refusal is known) but not held.
    service->calls.clear();
    ks.setShortcut(cmdShiftK, on);  // id 3, replaces id 2
    EXPECT_TRUE(service->active.empty());
    EXPECT_EQ((std::vector<FakeHotKeyService::Call>{
                  {"register", 3, FakeHotKeyService::combo(cmdShiftK)},
                  {"unregister", 3, FakeHotKeyService::combo(cmdShiftK)}}),
              service->calls);
    // Another program takes F5 meanwhile: dropped when the grabs come back.
    service->heldElsewhere = {FakeHotKeyService::combo(f5)};

    ks.setPaused(false);
    EXPECT_EQ(service->active, (std::map<std::uint32_t, FakeHotKeyService::Combo>{
                                   {3, FakeHotKeyService::combo(cmdShiftK)}}));
    EXPECT_EQ(layer.hotKeys().size(), 1u);
    service->tap(cmdShiftK);
    service->tap(ctrlOptL);
    service->tap(f5);
    EXPECT_EQ(ons, 1);
    EXPECT_EQ(offs, 0);

    // A service installed while paused holds nothing until the resume.
    auto other = std::make_shared<FakeHotKeyService>();
    ks.setPaused(true);
    ks.setHotKeyService(other);
    EXPECT_TRUE(other->active.empty());
    EXPECT_FALSE(other->calls.empty()) << "the names were tried there";
    ks.setPaused(false);
    EXPECT_EQ(other->active.size(), 2u);  // F5 is free at the new one
}

TEST_F(KeyboardShortcutsTest, IdsAreNeverReusedAndRefusalsKeepNothing) {
    service->heldElsewhere = {FakeHotKeyService::combo(cmdShiftK)};
    ks.setShortcut(ctrlOptL, off);  // id 1
    ks.setShortcut(cmdShiftK, on);  // id 2, refused
    EXPECT_EQ(layer.hotKeyId(), 2u);
    EXPECT_EQ(layer.hotKeys().size(), 1u);
    EXPECT_TRUE(layer.hotKeys().contains(1));
    // Stored and counted as registered all the same; it just never fires.
    EXPECT_EQ(ks.getShortcut(on), cmdShiftK);
    EXPECT_TRUE(ks.registeredShortcuts().contains(cmdShiftK));
    HotKeyEvent refused{2, HotKeyEvent::released};
    EXPECT_EQ(layer.handleEvent(&refused), Layer::eventNotHandledErr);

    ks.setShortcut(std::nullopt, off);
    ks.setShortcut(ctrlOptL, off);
    EXPECT_EQ(layer.hotKeyId(), 3u);
    EXPECT_EQ(service->active.begin()->first, 3u);
    HotKeyEvent stale{1, HotKeyEvent::released};
    EXPECT_EQ(layer.handleEvent(&stale), Layer::eventNotHandledErr);
}

TEST_F(KeyboardShortcutsTest, EventHandlerAnswersOnlyKnownPressesAndReleases) {
    int ups = 0;
    ks.setShortcut(f5, off);
    ks.onKeyUp(off, [&] { ++ups; });
    const HotKeyEvent release{1, HotKeyEvent::released};
    const HotKeyEvent other{1, 7};
    const HotKeyEvent unknown{9, HotKeyEvent::released};
    EXPECT_EQ(layer.handleEvent(nullptr), Layer::eventNotHandledErr);
    EXPECT_EQ(layer.handleEvent(&other), Layer::eventNotHandledErr);
    EXPECT_EQ(layer.handleEvent(&unknown), Layer::eventNotHandledErr);
    EXPECT_EQ(ups, 0);
    EXPECT_EQ(layer.handleEvent(&release), Layer::noErr);
    EXPECT_EQ(ups, 1);
}

TEST_F(KeyboardShortcutsTest, DefaultIsStoredOnlyWhenNothingIsThere) {
    const Name fresh("fresh", f5);
    EXPECT_EQ(ks.getShortcut(fresh), f5);
    EXPECT_EQ(posted, std::vector<std::string>{"fresh"});

    ks.setShortcut(std::nullopt, fresh);  // the user cleared it
    const Name again("fresh", ctrlOptL);
    EXPECT_EQ(ks.getShortcut(again), std::nullopt);
}

TEST_F(KeyboardShortcutsTest, AnotherServiceTakesOverEveryBoundName) {
    int ups = 0;
    ks.setShortcut(ctrlOptL, off);
    ks.onKeyUp(off, [&] { ++ups; });
    auto next = std::make_shared<FakeHotKeyService>();
    ks.setHotKeyService(next);
    EXPECT_TRUE(service->active.empty());
    EXPECT_EQ(next->active.size(), 1u);
    service->tap(ctrlOptL);
    next->tap(ctrlOptL);
    EXPECT_EQ(ups, 1);
}

TEST_F(KeyboardShortcutsTest, TwoModulesInOneProcessKeepTheirRegistrationsApart) {
    auto otherService = std::make_shared<FakeHotKeyService>();
    CarbonKeyboardShortcuts otherLayer(otherService);
    std::optional<KeyboardShortcuts> other;
    other.emplace(std::make_shared<InMemoryDefaultsStore>(), std::make_shared<NotificationCenter>(),
                  otherLayer);
    int ups = 0, otherUps = 0;
    ks.onKeyUp(off, [&] { ++ups; });
    other->onKeyUp(off, [&] { ++otherUps; });
    ks.setShortcut(ctrlOptL, off);
    other->setShortcut(f5, off);
    EXPECT_EQ(ks.getShortcut(off), ctrlOptL);
    EXPECT_EQ(ks.registeredShortcuts(), std::set<Shortcut>{ctrlOptL});
    EXPECT_EQ(other->registeredShortcuts(), std::set<Shortcut>{f5});
    EXPECT_EQ(layer.hotKeyId(), 1u);
    EXPECT_EQ(otherLayer.hotKeyId(), 1u);
    EXPECT_EQ(posted, std::vector<std::string>{"allLightsOff"});
    service->tap(ctrlOptL);
    service->tap(f5);
    otherService->tap(f5);
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(otherUps, 1);
    // The other one's recorder records: only its own grabs are let go.
    other->setPaused(true);
    EXPECT_TRUE(otherService->active.empty());
    service->tap(ctrlOptL);
    EXPECT_EQ(ups, 2);
    // Gone, it leaves its layer empty and this module bound.
    other->setPaused(false);
    other.reset();
    EXPECT_TRUE(otherService->active.empty());
    EXPECT_TRUE(otherLayer.hotKeys().empty());
    EXPECT_EQ(service->active.size(), 1u);
}

}  // namespace
}  // namespace lumora::testing
