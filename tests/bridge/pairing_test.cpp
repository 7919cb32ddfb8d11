#include "bridge/pairing.h"

#include <gtest/gtest.h>

#include "support/canned_bridge.h"

using namespace lumora;
using support::CannedBridge;

TEST(Pairing, CondensesTheBridgeAnswerToFourOutcomes) {
    CannedBridge bridge;
    struct Case {
        const char* reply;
        std::string expected;
    } cases[] = {
        {R"([{"error":{"type":101,"address":"","description":"link button not pressed"}}])",
         kPressButton},
        {R"([{"error":{"type":1,"address":"/","description":"unauthorized user"}}])", kPressButton},
        {R"([{"error":{"type":7,"address":"/devicetype","description":"invalid value"}}])",
         kNoConnection},
        {R"([{"success":{"username":"hdOIRli7m4e8ojJABvWxeoY-YznaMh5c7wBG5zmj"}},{"error":{"type":101}}])",
         "hdOIRli7m4e8ojJABvWxeoY-YznaMh5c7wBG5zmj"},
        {R"([{"success":{"username":"u","clientkey":"7CC0"}}])", "u"},
        {R"([{"error":{"type":101},"success":{"username":"u"}}])", kPressButton},
        // Without a name there is nothing to connect with; pairing again at once
        // would only repeat this.
        {R"([{"success":{"username":""}}])", kNoUserName},
        {R"([{"success":{"username":" \t\u00a0"}}])", kNoUserName},
        {R"([{"success":{"username":null}}])", kNoConnection},
        // The type reads as every integer in a reply does: 101.0 is 101.
        {R"([{"error":{"type":101.0,"description":"link button not pressed"}}])", kPressButton},
        {R"([{"error":{"type":1.0}}])", kPressButton},
        {R"([{"error":{"type":101.5}}])", kNoConnection},
        {R"([{"error":{"type":18446744073709551717}}])", kNoConnection},
        {R"([{"error":{"type":7.0}}])", kNoConnection},
        {R"([{"success":{}}])", kNoConnection},
        {R"({"success":{"username":"u"}})", kNoConnection},
        {R"([])", kNoConnection},
        {R"([{"success":{"username":5}}])", kNoConnection},
        {R"([{"error":{"type":"101"}}])", kNoConnection},
        {R"([5])", kNoConnection},
        {"not json", kNoConnection},
        {"", kNoConnection},
    };
    for (const auto& c : cases) {
        bridge.answer("POST", "/api", c.reply);
        EXPECT_EQ(manageBridge(bridge.address()), c.expected) << c.reply;
    }
    // The request is always the same fixed text.
    EXPECT_EQ(bridge.lastBody(), R"({"devicetype":"lumora#osx"})");
    EXPECT_EQ(bridge.lastContentType(), "application/json");
}

TEST(Pairing, UnusableAddressesNeverReachTheNetwork) {
    CannedBridge bridge;
    bridge.answer("POST", "/api", R"([{"success":{"username":"u"}}])");
    EXPECT_EQ(manageBridge("127.0.0.1 :" + bridge.address().substr(10)), kNoConnection);
    EXPECT_EQ(manageBridge("my bridge"), kNoConnection);
    EXPECT_EQ(manageBridge("not a url"), kNoConnection);
    EXPECT_EQ(bridge.requests(), 0);
    EXPECT_EQ(manageBridge("127.0.0.1:1"), kNoConnection);  // nothing listens there
}
