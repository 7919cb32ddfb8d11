// Reading the bridge over loopback against the simulator, including every
// kind of bad reply: each must end in an error.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/app_settings.h"
#include "bridge/decode.h"
#include "bridge/fetchers.h"
#include "bridge/http.h"
#include "simulator/sim_server.h"
#include "support/manual_executor.h"

using namespace lumora;
using sim::Fault;

namespace {

class FetchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(server_.start(&err)) << err;
    }
    BridgeEndpoint demo(const std::string& user = sim::kDemoUser) const {
        return {server_.address(), user};
    }
    LightsResult lights(const std::string& user = sim::kDemoUser) {
        return fetchLightsNow(httpSend, demo(user));
    }

    sim::SimServer server_;
};

template <typename T>
FetchError errorOf(const FetchResult<T>& r) {
    EXPECT_TRUE(std::holds_alternative<FetchError>(r)) << "expected a failure";
    return std::holds_alternative<FetchError>(r) ? std::get<FetchError>(r) : FetchError{};
}

}  // namespace

TEST_F(FetchTest, DemoHomeReadsInBridgeOrderWithRoomsSorted) {
    auto result = lights();
    ASSERT_TRUE(std::holds_alternative<std::vector<HueLight>>(result));
    const auto& ls = std::get<std::vector<HueLight>>(result);
    // The reply's own order, without unreachable lights.
    std::vector<std::string> expected;
    const auto state = server_.state();
    for (const auto& [id, l] : state["lights"].items())
        if (l["state"].value("reachable", false)) expected.push_back(id);
    std::vector<std::string> got;
    for (const auto& l : ls) {
        got.push_back(l.lamp_id);
        EXPECT_EQ(l.hue_ip, server_.address());
        EXPECT_EQ(l.hue_key, sim::kDemoUser);
    }
    EXPECT_EQ(got, expected);
    EXPECT_LT(got.size(), state["lights"].size()) << "the demo home has an unreachable light";

    auto groups = fetchGroupsNow(httpSend, demo());
    ASSERT_TRUE(std::holds_alternative<std::vector<HueGroup>>(groups));
    const auto& gs = std::get<std::vector<HueGroup>>(groups);
    ASSERT_FALSE(gs.empty());
    for (size_t i = 1; i < gs.size(); ++i)
        EXPECT_FALSE(localizedCaseInsensitiveLess(gs[i].name, gs[i - 1].name)) << gs[i].name;
    for (const auto& g : gs) EXPECT_TRUE(g.type == "Room" || g.type == "Zone") << g.type;

    auto scenes = fetchScenesNow(httpSend, demo());
    ASSERT_TRUE(std::holds_alternative<std::vector<HueScene>>(scenes));
    EXPECT_FALSE(std::get<std::vector<HueScene>>(scenes).empty());
}

// Its oddities are each decoded in the decoder's own tests.
TEST_F(FetchTest, EdgeHomeDecodesWithoutSurprises) {
    ASSERT_TRUE(server_.loadFixture("edge"));
    EXPECT_TRUE(std::holds_alternative<std::vector<HueLight>>(lights()));
}

TEST_F(FetchTest, EveryBadReplyEndsInAnError) {
    // Whether a reply came decides between "not reachable" and "not readable".
    struct Case {
        Fault fault;
        bool replied;
    } cases[] = {
        {Fault::garbageBody, true},      {Fault::http500, true},        {Fault::http503, true},
        {Fault::http429, true},          {Fault::hugeBody, true},       {Fault::notUtf8, true},
        {Fault::closeConnection, false}, {Fault::truncatedBody, false},
    };
    for (const auto& c : cases) {
        server_.injectFault(c.fault, 1);
        const FetchError e = errorOf(lights());
        EXPECT_EQ(e != FetchError::connectionFailed, c.replied) << sim::toString(c.fault);
    }
    EXPECT_TRUE(std::holds_alternative<std::vector<HueLight>>(lights())) << "faults are used up";
    // An unknown user is answered with an error list.
    EXPECT_EQ(errorOf(lights("no-such-user")), FetchError::unreadable);
}

TEST(FetchTimeout, AReadWaitsFourSecondsAndATimeOutIsNoConnection) {
    std::vector<HttpRequest> seen;
    const HttpTransport slow = [&](const HttpRequest& r) {
        seen.push_back(r);
        HttpResponse timedOut;
        timedOut.error = HttpError::timedOut;
        return timedOut;
    };
    const BridgeEndpoint bridge{"127.0.0.1:9", "u"};
    EXPECT_EQ(errorOf(fetchLightsNow(slow, bridge)), FetchError::connectionFailed);
    EXPECT_EQ(errorOf(fetchGroupsNow(slow, bridge)), FetchError::connectionFailed);
    EXPECT_EQ(errorOf(fetchScenesNow(slow, bridge)), FetchError::connectionFailed);
    ASSERT_EQ(seen.size(), 3u);
    for (const auto& r : seen) {
        EXPECT_EQ(r.timeout, std::chrono::milliseconds(4000)) << r.url;
        EXPECT_EQ(r.method, "GET");
    }
    EXPECT_EQ(seen[2].url, "http://127.0.0.1:9/api/u/scenes");
}

TEST_F(FetchTest, NothingListeningOrNoAddressIsConnectionFailed) {
    const std::string address = server_.address();
    server_.stop();
    for (const std::string& at : {address, std::string("my bridge")})
        EXPECT_EQ(errorOf(fetchLightsNow(httpSend, {at, "u"})), FetchError::connectionFailed) << at;
    EXPECT_EQ(errorOf(fetchGroupsNow(httpSend, {"1.2.3.4 ", "u"})), FetchError::connectionFailed);
}

TEST_F(FetchTest, AnUnchangedBridgeGivesTheSameRecordsAndNobodyHearsOfIt) {
    using Groups = std::vector<HueGroup>;
    FetchMemo memo;
    auto groups = [&](const std::string& address, FetchMemo* through = nullptr) {
        auto r = fetchGroupsNow(httpSend, {address, sim::kDemoUser}, through ? through : &memo);
        EXPECT_TRUE(std::holds_alternative<Groups>(r));
        return std::holds_alternative<Groups>(r) ? std::get<Groups>(r) : Groups{};
    };
    ManualExecutor exec;
    AppSettings settings(std::make_shared<InMemoryDefaultsStore>(), exec);
    int told = 0;
    settings.addObserver([&](AppSettings::Field f) {
        if (f == AppSettings::Field::groups) ++told;
    });

    const Groups first = groups(server_.address());
    ASSERT_FALSE(first.empty());
    settings.setGroups(first);
    // Same bytes from the bridge: the very records, ids included.
    const Groups second = groups(server_.address());
    EXPECT_EQ(second, first);
    settings.setGroups(second);
    EXPECT_EQ(told, 1) << "an unchanged refresh must not notify";
    // A reader with a memo of its own (another controller) decodes for itself.
    FetchMemo ownMemo;
    const Groups own = groups(server_.address(), &ownMemo);
    ASSERT_EQ(own.size(), first.size());
    EXPECT_NE(own.front().id, first.front().id);
    EXPECT_EQ(groups(server_.address()), first) << "the first memo still holds its records";

    // A room switched the other way is a new reply and is read again.
    const HueGroup& room = first.front();
    HttpRequest flip;
    flip.method = "PUT";
    flip.url = "http://" + server_.address() + "/api/" + sim::kDemoUser + "/groups/" +
               room.group_id + "/action";
    flip.body = room.any_on ? R"({"on": false})" : R"({"on": true})";
    ASSERT_TRUE(httpSend(flip).ok());
    const Groups third = groups(server_.address());
    EXPECT_NE(third, first);
    bool flipped = false;
    for (const auto& g : third)
        flipped = flipped || (g.group_id == room.group_id && g.any_on != room.any_on);
    EXPECT_TRUE(flipped);
    settings.setGroups(third);
    EXPECT_EQ(told, 2);

    // Another bridge with the same home answers with the same bytes, yet its
    // records carry its own address.
    sim::SimServer other;
    std::string err;
    ASSERT_TRUE(other.start(&err)) << err;
    const Groups elsewhere = groups(other.address());
    ASSERT_FALSE(elsewhere.empty());
    for (const auto& g : elsewhere) EXPECT_EQ(g.hue_ip, other.address());
}
