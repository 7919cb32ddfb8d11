// Reading the bridge over loopback against the simulator, including every
// kind of bad reply: each must end in an error through the completion.
#include <gtest/gtest.h>

#include <future>
#include <nlohmann/json.hpp>

#include "app/app_settings.h"
#include "bridge/decode.h"
#include "bridge/fetchers.h"
#include "bridge/http.h"
#include "simulator/sim_server.h"
#include "support/manual_executor.h"

using namespace lumora;
using namespace std::chrono_literals;
using sim::Fault;

namespace {

class FetchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string err;
        ASSERT_TRUE(server_.start(&err)) << err;
    }

    // Runs a fetch through its completion, which must arrive off the test
    // thread exactly once.
    template <typename Fetcher, typename Result>
    Result run(Fetcher fetcher) {
        std::promise<Result> done;
        auto future = done.get_future();
        const auto caller = std::this_thread::get_id();
        fetcher.fetch([&done, caller](Result r) {
            EXPECT_NE(std::this_thread::get_id(), caller);
            done.set_value(std::move(r));
        });
        EXPECT_EQ(future.wait_for(15s), std::future_status::ready);
        return future.get();
    }
    LightsResult lights(const std::string& key = sim::kDemoUser) {
        return run<HueCommunicationLights, LightsResult>(
            HueCommunicationLights(*exec_, server_.address(), key));
    }

    std::shared_ptr<ManualExecutor> exec_ =
        std::make_shared<ManualExecutor>(ManualExecutor::Background::Threads);
    sim::SimServer server_;
};

template <typename T, typename E>
E errorOf(const FetchResult<T, E>& r) {
    EXPECT_TRUE(std::holds_alternative<E>(r)) << "expected a failure";
    return std::holds_alternative<E>(r) ? std::get<E>(r) : E{};
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

    auto groups = run<HueCommunicationGroups, GroupsResult>(
        HueCommunicationGroups(*exec_, server_.address(), sim::kDemoUser));
    ASSERT_TRUE(std::holds_alternative<std::vector<HueGroup>>(groups));
    const auto& gs = std::get<std::vector<HueGroup>>(groups);
    ASSERT_FALSE(gs.empty());
    for (size_t i = 1; i < gs.size(); ++i)
        EXPECT_FALSE(localizedCaseInsensitiveLess(gs[i].name, gs[i - 1].name)) << gs[i].name;
    for (const auto& g : gs) EXPECT_TRUE(g.type == "Room" || g.type == "Zone") << g.type;

    auto scenes = run<HueCommunicationScenes, ScenesResult>(
        HueCommunicationScenes(*exec_, server_.address(), sim::kDemoUser));
    ASSERT_TRUE(std::holds_alternative<std::vector<HueScene>>(scenes));
    EXPECT_FALSE(std::get<std::vector<HueScene>>(scenes).empty());
}

// Its oddities are each decoded in the decoder's own tests.
TEST_F(FetchTest, EdgeHomeDecodesWithoutSurprises) {
    ASSERT_TRUE(server_.loadFixture("edge"));
    EXPECT_TRUE(std::holds_alternative<std::vector<HueLight>>(lights()));
}

TEST_F(FetchTest, UnknownUserIsInvalidData) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(errorOf(lights("no-such-user")), BridgeError::invalidData);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Couldn't decode Hue data"),
              std::string::npos);
}

TEST_F(FetchTest, EveryBadReplyEndsInAnError) {
    struct Case {
        Fault fault;
        BridgeError expected;
    } cases[] = {
        {Fault::garbageBody, BridgeError::invalidData},
        {Fault::http500, BridgeError::invalidData},
        {Fault::http503, BridgeError::invalidData},
        {Fault::http429, BridgeError::invalidData},
        {Fault::hugeBody, BridgeError::invalidData},
        {Fault::notUtf8, BridgeError::invalidData},
        {Fault::closeConnection, BridgeError::connectionFailed},
        {Fault::truncatedBody, BridgeError::connectionFailed},
    };
    testing::internal::CaptureStdout();
    for (const auto& c : cases) {
        server_.injectFault(c.fault, 1);
        EXPECT_EQ(errorOf(lights()), c.expected) << sim::toString(c.fault);
    }
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(std::holds_alternative<std::vector<HueLight>>(lights())) << "faults are used up";
}

TEST_F(FetchTest, SlowBridgeTimesOutAfterFourSeconds) {
    // The bridge would answer after 20 s. The three reads give up together
    // after 4 s; one after the other they would take 12 s, waiting the bridge
    // out 20 s. The upper bound sits far from both, so a busy machine's
    // slowness does not reach it.
    server_.injectFault(Fault::delay, 3, 20s);
    const auto start = std::chrono::steady_clock::now();
    // The three reads run at the same time, as the refresh starts them.
    std::promise<LightsResult> l;
    std::promise<GroupsResult> g;
    std::promise<ScenesResult> s;
    HueCommunicationLights(*exec_, server_.address(), sim::kDemoUser).fetch([&](LightsResult r) {
        l.set_value(r);
    });
    HueCommunicationGroups(*exec_, server_.address(), sim::kDemoUser).fetch([&](GroupsResult r) {
        g.set_value(r);
    });
    HueCommunicationScenes(*exec_, server_.address(), sim::kDemoUser).fetch([&](ScenesResult r) {
        s.set_value(r);
    });
    EXPECT_EQ(errorOf(l.get_future().get()), BridgeError::connectionFailed);
    EXPECT_EQ(errorOf(g.get_future().get()), BridgeDataType_Groups_Error::connectionFailed);
    EXPECT_EQ(errorOf(s.get_future().get()), BridgeDataType_Scenes_Error::connectionFailed);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 3900ms);
    EXPECT_LT(took, 8s);
    server_.clearFaults();
}

TEST_F(FetchTest, NothingListeningOrNoAddressIsConnectionFailed) {
    const std::string address = server_.address();
    server_.stop();
    for (const std::string& at : {address, std::string("my bridge")})
        EXPECT_EQ(errorOf(run<HueCommunicationLights, LightsResult>(
                      HueCommunicationLights(*exec_, at, "u"))),
                  BridgeError::connectionFailed)
            << at;
    EXPECT_EQ(errorOf(run<HueCommunicationGroups, GroupsResult>(
                  HueCommunicationGroups(*exec_, "1.2.3.4 ", "u"))),
              BridgeDataType_Groups_Error::connectionFailed);
}

TEST_F(FetchTest, AnUnchangedBridgeGivesTheSameRecordsAndNobodyHearsOfIt) {
    using Groups = std::vector<HueGroup>;
    const auto memo = std::make_shared<FetchMemo>();
    auto groups = [&](const std::string& address, std::shared_ptr<FetchMemo> through = nullptr) {
        auto r = run<HueCommunicationGroups, GroupsResult>(
            HueCommunicationGroups(*exec_, address, sim::kDemoUser, {}, through ? through : memo));
        EXPECT_TRUE(std::holds_alternative<Groups>(r));
        return std::holds_alternative<Groups>(r) ? std::get<Groups>(r) : Groups{};
    };
    AppSettings settings(std::make_shared<InMemoryDefaultsStore>(), *exec_);
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
    // A reader with a memo of its own (another delegate) decodes for itself.
    const Groups own = groups(server_.address(), std::make_shared<FetchMemo>());
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
