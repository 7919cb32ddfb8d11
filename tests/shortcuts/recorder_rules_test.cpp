#include "shortcuts/recorder_rules.h"

#include <gtest/gtest.h>

#include "module_fixture.h"

namespace lumora::testing {
namespace {

using Event = RecorderEvent;

const Shortcut ctrlOptL(Key::l, Modifier::control | Modifier::option);
constexpr EventModifiers kCtrlOpt{.control = true, .option = true};

class RecorderRulesTest : public ShortcutModuleTest {
  protected:
    void SetUp() override {
        ShortcutModuleTest::SetUp();
        rules = std::make_shared<RecorderRules>(ks, Name::actionAllLightsOff, 130, 22);
    }
    void TearDown() override {
        rules.reset();
        ShortcutModuleTest::TearDown();
    }
    RecorderResponse key(Key k, EventModifiers m = {}) {
        return rules->handleEvent(Event::keyDown(static_cast<int>(k), m));
    }
    std::optional<Shortcut> stored() { return ks.getShortcut(Name::actionAllLightsOff); }

    std::shared_ptr<RecorderRules> rules;
};

TEST_F(RecorderRulesTest, FocusRecordsAValidCombinationSavesItAndEnds) {
    EXPECT_EQ(rules->placeholderKey(), "record_shortcut");
    EXPECT_FALSE(rules->clearButtonVisible());
    rules->focusGained();
    EXPECT_TRUE(rules->isRecording());
    EXPECT_TRUE(rules->caretHidden());
    EXPECT_EQ(rules->placeholderKey(), "press_shortcut");
    EXPECT_EQ(rules->placeholder(), "Press Shortcut");
    EXPECT_TRUE(ks.isPaused());

    const auto r = key(Key::l, kCtrlOpt);
    EXPECT_TRUE(r.swallow && r.endRecording && r.saved);
    EXPECT_EQ(r.savedShortcut, ctrlOptL);
    EXPECT_EQ(stored(), ctrlOptL);
    EXPECT_EQ(service->active.size(), 1u);
    EXPECT_EQ(rules->text(), "⌃⌥L");
    EXPECT_TRUE(rules->clearButtonVisible());
    EXPECT_FALSE(rules->isRecording());
    EXPECT_FALSE(ks.isPaused());

    // Losing focus ends recording without a key.
    rules->focusGained();
    rules->focusLost();
    EXPECT_FALSE(rules->isRecording());
    EXPECT_EQ(rules->placeholderKey(), "record_shortcut");
    EXPECT_FALSE(ks.isPaused());
}

TEST_F(RecorderRulesTest, EscapeTabAndDeleteWithoutModifiers) {
    ks.setShortcut(ctrlOptL, Name::actionAllLightsOff);
    rules->focusGained();

    auto r = key(Key::escape, {.capsLock = true});  // Caps Lock is not a modifier
    EXPECT_TRUE(r.swallow && r.endRecording && !r.saved);
    EXPECT_EQ(stored(), ctrlOptL);

    rules->focusGained();
    r = key(Key::tab, {.numericPad = true});
    EXPECT_FALSE(r.swallow);  // focus moves on
    EXPECT_TRUE(r.endRecording);
    EXPECT_EQ(stored(), ctrlOptL);

    rules->focusGained();
    r = key(Key::deleteKey);
    EXPECT_TRUE(r.swallow && r.saved && r.takeFocus);
    EXPECT_FALSE(r.endRecording);
    EXPECT_EQ(store->object(KS::userDefaultsKey(Name::actionAllLightsOff)), DefaultsValue(false));
    EXPECT_EQ(rules->text(), "");
    EXPECT_FALSE(rules->clearButtonVisible());
    EXPECT_TRUE(rules->isRecording());

    // With a modifier these keys are ordinary combinations.
    r = key(Key::escape, {.shift = true, .command = true});
    EXPECT_EQ(r.savedShortcut, Shortcut(Key::escape, Modifier::shift | Modifier::command));
}

TEST_F(RecorderRulesTest, ModifierRuleBeepsExceptForFunctionKeys) {
    rules->focusGained();
    for (auto r : {key(Key::l), key(Key::l, {.shift = true}),
                   key(Key::l, {.capsLock = true, .numericPad = true, .function = true}),
                   rules->handleEvent(Event::keyDown(-1, kCtrlOpt))}) {
        EXPECT_TRUE(r.beep);
        EXPECT_TRUE(r.swallow);
        EXPECT_FALSE(r.saved || r.endRecording);
    }
    EXPECT_FALSE(ks.userDefaultsContains(Name::actionAllLightsOff));
    EXPECT_TRUE(rules->isRecording());

    const auto r = key(Key::f5, {.function = true});
    EXPECT_FALSE(r.beep);
    EXPECT_EQ(stored(), Shortcut(Key::f5));
    EXPECT_EQ(rules->text(), "F5");
}

TEST_F(RecorderRulesTest, SystemTakenCombinationShowsAlertAndStoresNothing) {
    service->heldElsewhere = {FakeHotKeyService::combo(ctrlOptL), {111, 0}};
    rules->focusGained();
    const auto r = key(Key::l, kCtrlOpt);
    EXPECT_TRUE(r.swallow && r.endRecording && r.takeFocus);
    ASSERT_TRUE(r.alert);
    EXPECT_EQ(r.alert->titleKey, "keyboard_shortcut_used_by_system");
    EXPECT_EQ(r.alert->messageKey, "keyboard_shortcuts_can_be_changed");
    EXPECT_FALSE(r.alert->title.empty());
    EXPECT_FALSE(r.saved);
    EXPECT_FALSE(ks.userDefaultsContains(Name::actionAllLightsOff));
    EXPECT_FALSE(ks.isPaused());  // the alert is modal, nothing fires behind it anyway

    // F12 alone is kept even though the service lists it.
    rules->focusGained();
    EXPECT_TRUE(key(Key::f12).saved);
    EXPECT_EQ(stored(), Shortcut(Key::f12));
}

TEST_F(RecorderRulesTest, BoundCombinationIsRecordedNotFired) {
    int fired = 0;
    ks.setShortcut(ctrlOptL, Name::actionAllLightsOn);
    ks.onKeyUp(Name::actionAllLightsOn, [&] { ++fired; });
    rules->focusGained();
    service->tap(ctrlOptL);  // the system reports it while we record
    key(Key::l, kCtrlOpt);
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(stored(), ctrlOptL);
    service->tap(ctrlOptL);
    EXPECT_EQ(fired, 1);  // recording ended: handlers run again
}

TEST_F(RecorderRulesTest, MouseUpsEndRecordingOnlyOutsideTheMargin) {
    rules->focusGained();
    for (auto e : {Event::mouseUp(-3, 10), Event::mouseUp(132.9, 24.9, true),
                   Event::mouseUp(60, 10), Event{}}) {
        auto r = rules->handleEvent(e);
        EXPECT_TRUE(r.swallow);
        EXPECT_FALSE(r.endRecording);
    }
    EXPECT_TRUE(rules->isRecording());
    auto r = rules->handleEvent(Event::mouseUp(133, 10, true));
    EXPECT_TRUE(r.swallow && r.endRecording);
    EXPECT_FALSE(rules->isRecording());
    EXPECT_FALSE(ks.isPaused());

    rules->focusGained();
    rules->setSize(300, 22);
    EXPECT_FALSE(rules->handleEvent(Event::mouseUp(200, 10)).endRecording);
    EXPECT_TRUE(rules->handleEvent(Event::mouseUp(10, -3.5)).endRecording);
}

TEST_F(RecorderRulesTest, ClearButtonClearsAndKeepsRecording) {
    ks.setShortcut(ctrlOptL, Name::actionAllLightsOff);
    RecorderRules fresh(ks, Name::actionAllLightsOff, 130, 22);
    EXPECT_EQ(fresh.text(), "⌃⌥L");
    EXPECT_TRUE(fresh.clearButtonVisible());
    const auto r = fresh.textChanged("");
    EXPECT_TRUE(r.saved && r.takeFocus);
    EXPECT_EQ(r.savedShortcut, std::nullopt);
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_FALSE(fresh.clearButtonVisible());
}

TEST_F(RecorderRulesTest, RecordersOfOneNameStayInStep) {
    RecorderRules twin(ks, Name::actionAllLightsOff, 130, 22);
    RecorderRules other(ks, Name::actionAllLightsOn, 130, 22);
    int twinRedraws = 0, otherRedraws = 0;
    twin.setOnViewChange([&] { ++twinRedraws; });
    other.setOnViewChange([&] { ++otherRedraws; });

    rules->focusGained();
    key(Key::l, kCtrlOpt);
    EXPECT_EQ(twin.text(), "⌃⌥L");
    EXPECT_TRUE(twin.clearButtonVisible());
    EXPECT_EQ(twinRedraws, 1);

    ks.setShortcut(std::nullopt, Name::actionAllLightsOff);  // cleared elsewhere
    EXPECT_EQ(rules->text(), "");
    EXPECT_EQ(twin.text(), "");
    EXPECT_FALSE(twin.clearButtonVisible());
    EXPECT_EQ(otherRedraws, 0);
    EXPECT_EQ(other.text(), "");
}

TEST_F(RecorderRulesTest, GoneControlSwallowsAndDoesNotLeaveHandlersPaused) {
    std::weak_ptr<RecorderRules> weak = rules;
    rules->focusGained();
    EXPECT_TRUE(ks.isPaused());
    rules.reset();
    EXPECT_FALSE(ks.isPaused());
    const auto r = RecorderRules::handleEvent(weak, Event::keyDown(37, kCtrlOpt));
    EXPECT_TRUE(r.swallow);
    EXPECT_FALSE(r.saved);
    EXPECT_FALSE(ks.userDefaultsContains(Name::actionAllLightsOff));
}

}  // namespace
}  // namespace lumora::testing
