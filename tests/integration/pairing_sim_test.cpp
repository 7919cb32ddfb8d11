#include <gtest/gtest.h>

#include "bridge/fetchers.h"
#include "bridge/pairing.h"
#include "simulator/sim_server.h"

using namespace lumora;

TEST(PairingWithBridge, LinkButtonDecidesAndTheNewUserCanRead) {
    sim::SimServer server;
    ASSERT_TRUE(server.start());
    EXPECT_EQ(manageBridge(server.address()), kPressButton);

    server.pressLinkButton();
    const std::string user = manageBridge(server.address());
    ASSERT_NE(user, kPressButton);
    ASSERT_NE(user, kNoConnection);
    EXPECT_EQ(user.size(), 40u);
    EXPECT_TRUE(std::holds_alternative<std::vector<HueLight>>(
        fetchLightsNow(httpSend, {server.address(), user})));

    // The request is the fixed pairing body.
    const auto log = server.requestLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().method, "POST");
    EXPECT_EQ(log.front().path, "/api");
    EXPECT_EQ(log.front().body, R"({"devicetype":"lumora#osx"})");

    const std::string address = server.address();
    server.stop();
    EXPECT_EQ(manageBridge(address), kNoConnection);
}
