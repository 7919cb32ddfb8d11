// A portal activation through the shortcut module's name dispatch.

#include <gtest/gtest.h>

#include <string>

#include "shortcuts/keyboard_shortcuts.h"

namespace lumora {
namespace {

using Name = KeyboardShortcuts::Name;

TEST(PortalActivation, RunsTheNamesHandlersWhateverIsRecordedButNotWhileARecorderRecords) {
    CarbonKeyboardShortcuts layer;  // no service: the desktop holds the keys
    KeyboardShortcuts shortcuts(std::make_shared<InMemoryDefaultsStore>(), nullptr, layer);
    std::string ran;
    shortcuts.onKeyUp(Name::actionAllLightsOff, [&] { ran += "off-up "; });
    shortcuts.onKeyDown(Name::actionAllLightsOff, [&] { ran += "off-down "; });
    shortcuts.onKeyUp(Name::actionAllLightsOn, [&] { ran += "on-up "; });

    // Nothing recorded: the desktop chose the key, the name still fires.
    shortcuts.handleActivated(Name::actionAllLightsOff);
    EXPECT_EQ(ran, "off-down off-up ");

    // Two names on one recorded combination: only the activated one runs.
    const Shortcut same(Key::k, Modifier::control);
    shortcuts.setShortcut(same, Name::actionAllLightsOff);
    shortcuts.setShortcut(same, Name::actionAllLightsOn);
    ran.clear();
    shortcuts.handleActivated(Name::actionAllLightsOn);
    EXPECT_EQ(ran, "on-up ");

    shortcuts.setPaused(true);
    shortcuts.handleActivated(Name::actionAllLightsOn);
    EXPECT_EQ(ran, "on-up ");
    shortcuts.setPaused(false);
    shortcuts.handleActivated(Name::actionAllLightsOn);
    EXPECT_EQ(ran, "on-up on-up ");
}

}  // namespace
}  // namespace lumora
