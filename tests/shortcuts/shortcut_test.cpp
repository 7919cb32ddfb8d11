#include "shortcuts/shortcut.h"

#include <gtest/gtest.h>

#include "module_fixture.h"
#include "shortcuts/key_text.h"

namespace lumora::testing {
namespace {

constexpr int cmd = 0x100, shift = 0x200, opt = 0x800, ctrl = 0x1000;

TEST(ShortcutValue, KeepsOnlyTheFourModifierBits) {
    const Shortcut s(37, cmd | shift | 0x1 | 0x400 | 0x10000);
    EXPECT_EQ(s.carbonModifiers(), cmd | shift);
    EXPECT_EQ(s, Shortcut(Key::l, Modifier::command | Modifier::shift));
    EXPECT_TRUE(s.modifiers().contains(Modifier::shift));
    EXPECT_FALSE(s.modifiers().contains(Modifier::option));
    EXPECT_EQ(s.key(), Key::l);
    EXPECT_EQ(Shortcut(52, 0).key(), std::nullopt);  // no key has code 52
}

TEST(ShortcutStoredForm, IsCompactJsonWithKeyCodeFirst) {
    EXPECT_EQ(Shortcut(Key::l, Modifier::command | Modifier::shift).json(),
              R"({"carbonKeyCode":37,"carbonModifiers":768})");
    EXPECT_EQ(Shortcut(Key::f5).json(), R"({"carbonKeyCode":96,"carbonModifiers":0})");
}

TEST(ShortcutStoredForm, ReadsEitherOrderAndRejectsEverythingElse) {
    EXPECT_EQ(Shortcut::fromJson(R"({"carbonKeyCode":37,"carbonModifiers":768})"),
              Shortcut(37, 768));
    EXPECT_EQ(Shortcut::fromJson(R"({"carbonModifiers":6144,"carbonKeyCode":96})"),
              Shortcut(96, ctrl | opt));
    EXPECT_EQ(Shortcut::fromJson(" { \"carbonModifiers\" : 0 , \"carbonKeyCode\" : 0 } "),
              Shortcut(0, 0));
    // Foreign bits in a stored entry are dropped like in any other shortcut.
    EXPECT_EQ(Shortcut::fromJson(R"({"carbonKeyCode":37,"carbonModifiers":65792})"),
              Shortcut(37, cmd));

    for (const char* bad : {
             R"({"carbonKeyCode":"37","carbonModifiers":768})",
             R"({"carbonKeyCode":37,"carbonModifiers":768.5})",
             R"({"carbonKeyCode":37,"carbonModifiers":true})",
             R"({"carbonKeyCode":37,"carbonModifiers":null})",
             R"({"carbonKeyCode":37})",
             R"({"keyCode":37,"modifiers":768})",
             R"({"carbonKeyCode":99999999999,"carbonModifiers":0})",
             R"([37,768])",
             "37",
             "false",
             "{\"carbonKeyCode\":37,",
             "garbage",
             "",
         }) {
        EXPECT_EQ(Shortcut::fromJson(bad), std::nullopt) << bad;
    }
}

class DescriptionTest : public ShortcutModuleTest {};

struct FixedText : KeyTextProvider {
    std::optional<std::string> answer;
    std::optional<std::string> keyText(int) const override { return answer; }
};

TEST_F(DescriptionTest, ModifierSymbolsInFixedOrderThenKey) {
    EXPECT_EQ(Shortcut(Key::l, Modifier::command | Modifier::shift).description(), "⇧⌘L");
    EXPECT_EQ(Shortcut(Key::f5, Modifier::control | Modifier::option).description(), "⌃⌥F5");
    EXPECT_EQ(Shortcut(Key::quote, Modifiers(cmd | shift | opt | ctrl)).description(), "⌃⌥⇧⌘'");
    EXPECT_EQ(Shortcut(Key::keypad7, Modifier::control).description(), "⌃7");
}

TEST_F(DescriptionTest, NamedKeysUseTheirSymbols) {
    EXPECT_EQ(Shortcut(Key::returnKey, Modifier::command).description(), "⌘↩");
    EXPECT_EQ(Shortcut(Key::deleteKey).description(), "⌫");
    EXPECT_EQ(Shortcut(Key::deleteForward).description(), "⌦");
    EXPECT_EQ(Shortcut(Key::escape).description(), "⎋");
    EXPECT_EQ(Shortcut(Key::help).description(), "?\u20DD");
    EXPECT_EQ(Shortcut(Key::space, Modifier::option).description(), "⌥⎵");
    EXPECT_EQ(Shortcut(Key::tab).description(), "⇥");
    EXPECT_EQ(Shortcut(Key::home).description() + Shortcut(Key::end).description(), "↖↘");
    EXPECT_EQ(Shortcut(Key::pageUp).description() + Shortcut(Key::pageDown).description(), "⇞⇟");
    EXPECT_EQ(Shortcut(Key::upArrow).description() + Shortcut(Key::rightArrow).description() +
                  Shortcut(Key::downArrow).description() + Shortcut(Key::leftArrow).description(),
              "↑→↓←");
    EXPECT_EQ(Shortcut(122, 0).description(), "F1");
    EXPECT_EQ(Shortcut(111, 0).description(), "F12");
    EXPECT_EQ(Shortcut(64, 0).description(), "F17");
    EXPECT_EQ(Shortcut(90, 0).description(), "F20");
}

TEST_F(DescriptionTest, OtherKeysComeFromTheLayoutUpperCased) {
    auto layout = std::make_shared<FixedText>();
    const KeyboardShortcuts withLayout(store, center, layer, layout);
    layout->answer = "ö";
    EXPECT_EQ(withLayout.description(Shortcut(41, ctrl)), "⌃Ö");
    layout->answer = "я";
    EXPECT_EQ(withLayout.description(Shortcut(41, 0)), "Я");
    layout->answer = std::nullopt;  // no layout or no translation
    EXPECT_EQ(withLayout.description(Shortcut(41, cmd)), "⌘\uFFFD");
    layout->answer = "";
    EXPECT_EQ(withLayout.description(Shortcut(41, cmd)), "⌘");
    // Named keys never ask the layout.
    EXPECT_EQ(withLayout.description(Shortcut(Key::f5)), "F5");

    // A module without a layout of its own uses the US table.
    EXPECT_EQ(ks.description(Shortcut(Key::backslash, Modifier::command)), "⌘\\");
    EXPECT_EQ(ks.description(Shortcut(Key::keypadClear, Modifier::command)), "⌘\uFFFD");
}

TEST(UpperCased, MapsLettersOfCommonScriptsAndKeepsTheRest) {
    // Letter by letter through the base's case table (tested there).
    EXPECT_EQ(upperCased("aZ1;éжως÷ß€"), "AZ1;ÉЖΩς÷ß€");
    EXPECT_EQ(upperCased(std::string("a\xFF") + "b"), std::string("A\xFF") + "B");
}

class TakenTest : public ShortcutModuleTest {};

TEST_F(TakenTest, SystemHeldCombinationsAreTakenButF12AloneNever) {
    service->heldElsewhere = {{111, 0}, {111, shift}, {37, ctrl | opt}};
    EXPECT_FALSE(Shortcut(Key::f12).isTakenBySystem(layer));
    EXPECT_TRUE(Shortcut(Key::f12, Modifier::shift).isTakenBySystem(layer));
    EXPECT_TRUE(Shortcut(Key::l, Modifier::control | Modifier::option).isTakenBySystem(layer));
    EXPECT_FALSE(Shortcut(Key::l, Modifier::control).isTakenBySystem(layer));
    EXPECT_EQ(Shortcut(Key::l, Modifier::control).takenByMainMenu(), std::nullopt);

    ks.setHotKeyService(nullptr);
    EXPECT_FALSE(Shortcut(Key::l, Modifier::control | Modifier::option).isTakenBySystem(layer));
}

}  // namespace
}  // namespace lumora::testing
