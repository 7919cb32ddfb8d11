// Stored combinations in the portal's trigger syntax.

#include "shortcuts/portal/portal_trigger.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <set>

#include "shortcuts/x11/key_tables.h"

namespace lumora {
namespace {

TEST(PortalTrigger, ModifiersInOrderThenTheKeysymName) {
    const Modifiers all =
        Modifier::control | Modifier::option | Modifier::shift | Modifier::command;
    const std::pair<Shortcut, const char*> table[] = {
        {Shortcut(Key::k, Modifier::control | Modifier::option), "CTRL+ALT+k"},
        {Shortcut(Key::f5, Modifier::shift | Modifier::command), "SHIFT+LOGO+F5"},
        {Shortcut(Key::a, all), "CTRL+ALT+SHIFT+LOGO+a"},
        {Shortcut(Key::seven), "7"},
        {Shortcut(Key::f20, Modifier::command), "LOGO+F20"},
        {Shortcut(Key::keypadPlus, Modifier::control), "CTRL+KP_Add"},
        {Shortcut(Key::quote, Modifier::option), "ALT+apostrophe"},
        {Shortcut(Key::deleteKey), "BackSpace"},
        {Shortcut(Key::deleteForward), "Delete"},
        {Shortcut(Key::upArrow, Modifier::shift), "SHIFT+Up"},
        {Shortcut(Key::space, Modifier::control), "CTRL+space"},
    };
    for (const auto& [shortcut, text] : table)
        EXPECT_EQ(portalTrigger(shortcut), text) << shortcut.json();
    // A key code the module does not know has no trigger.
    EXPECT_EQ(portalTrigger(Shortcut(10, 0)), std::nullopt);
}

TEST(PortalTrigger, EveryKeyIsNamedAsTheKeysymTheX11GrabsMatch) {
    std::set<std::string> names;
    for (Key key : allKeys()) {
        const auto trigger = portalTrigger(Shortcut(key));
        ASSERT_TRUE(trigger) << static_cast<int>(key);
        EXPECT_TRUE(names.insert(*trigger).second) << *trigger << " names two keys";
        const auto keysym = x11::keysymForCarbonKeyCode(static_cast<int>(key));
        if (!keysym) continue;
        EXPECT_EQ(xkb_keysym_from_name(trigger->c_str(), XKB_KEYSYM_NO_FLAGS), *keysym) << *trigger;
    }
}

}  // namespace
}  // namespace lumora
