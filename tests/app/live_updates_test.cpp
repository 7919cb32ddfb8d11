// The event stream in the controller: what an event changes, what it reads
// instead, the quiet time after a user action, and the reads the refresh
// still makes while the stream is healthy or after it fails.

#include "app/live_updates.h"

#include <gtest/gtest.h>

#include "bridge/commands.h"
#include "support/controller_fixture.h"

using namespace lumora;
using namespace std::chrono_literals;

namespace {

class LiveUpdatesTest : public ControllerFixture {
  protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        transport_ = [this](const HttpRequest& r) {
            const std::string path = r.url.substr(r.url.find("/api/key") + 8);
            requests_.push_back(r.method + " " + (path.empty() ? "/" : path));
            HttpResponse reply;
            reply.status = 200;
            if (r.method != "GET")
                reply.body = "[]";
            else if (path == "/lights")
                reply.body = lightsReply_;
            else if (path == "/groups" || path == "/scenes")
                reply.body = "{}";
            else
                reply.body = R"({"lights":)" + lightsReply_ + R"(,"groups":{},"scenes":{},)" +
                             R"("config":{"UTC":"now"}})";
            return reply;
        };
        // A white-ambiance light that dims, a colour light, a plug.
        lamp_ = lamp("3", false, true, true);
        lamp_.ct_min = 153;
        lamp_.ct_max = 454;
        lamp_.brightness = 120;
        settings().setLights({lamp_, lamp("4", true, false, true), lamp("6", false, false, false)});
        // Past the quiet time that starts with the program.
        exec_->advance(kQuietAfterUserAction + 1ms);
    }
    static StreamEventMeaning event(std::vector<StreamChange> changes) {
        StreamEventMeaning m;
        m.readable = true;
        m.changes = std::move(changes);
        return m;
    }
    static StreamChange lightChange(const std::string& id, std::optional<bool> on,
                                    std::optional<std::int64_t> bri,
                                    std::optional<std::int64_t> ct = {}) {
        return {StreamResource::light, id, on, bri, ct};
    }
    const HueLight& lightById(const std::string& id) {
        for (const auto& l : settings().lights())
            if (l.lamp_id == id) return l;
        throw std::runtime_error("no light " + id);
    }
    // The requests of `ticks` refresh ticks.
    std::vector<std::string> afterTicks(int ticks) {
        requests_.clear();
        for (int i = 0; i < ticks; ++i) {
            exec_->advance(kRefreshPeriod);
            exec_->runPending();
        }
        return requests_;
    }

    std::string lightsReply_ =
        R"({"3":{"name":"Desk","type":"Color temperature light","state":{"on":true,"bri":77,)"
        R"("ct":300,"colormode":"ct","reachable":true}}})";
    std::vector<std::string> requests_;
};

TEST_F(LiveUpdatesTest, AnEventChangesWhatAReadWouldAndReadsWhatItCannotSayExactly) {
    room_.is_on = true;
    settings().setGroups({room_});
    // Hidden from the panel, not from the records: a read keeps it, so does an event.
    store_->setBool(keys::hideLight("uid-6"), true);
    controller_->onStreamEvent(event({lightChange("3", false, 200, 600),  // ct above the range
                                      lightChange("6", true, 90),         // a plug has no level
                                      lightChange("9", true, 10),         // not shown: unreachable
                                      {StreamResource::group, "5", false, 30, 250}}));
    EXPECT_FALSE(lightById("3").is_on);
    EXPECT_EQ(lightById("3").brightness, 200);
    EXPECT_EQ(lightById("3").color_temperature, 454);
    EXPECT_TRUE(lightById("6").is_on);
    EXPECT_EQ(lightById("6").brightness, 0);
    EXPECT_EQ(settings().lights().size(), 3u);
    EXPECT_EQ(settings().groups()[0].brightness, 30);
    EXPECT_EQ(settings().groups()[0].color_temperature, 250);
    EXPECT_TRUE(settings().groups()[0].is_on);
    EXPECT_FALSE(settings().groups()[0].any_on);
    exec_->runPending();
    // The group's on is the stream's "any light on", not what the group was told.
    EXPECT_EQ(requests_, std::vector<std::string>{"GET /groups"});
    requests_.clear();

    // A colour temperature on a colour light moves its hue and saturation at
    // the bridge, and a scene says nothing of what changed: one read of each
    // kind at the next turn, however many events ask for it.
    StreamEventMeaning scenes = event({});
    scenes.readScenes = true;
    controller_->onStreamEvent(event({lightChange("4", {}, {}, 300)}));
    controller_->onStreamEvent(scenes);
    controller_->onStreamEvent(event({lightChange("4", {}, {}, 310)}));
    EXPECT_EQ(lightById("4").color_temperature, 0);
    exec_->runPending();
    EXPECT_EQ(requests_, (std::vector<std::string>{"GET /lights", "GET /scenes"}));
}

TEST_F(LiveUpdatesTest, AnEchoDuringTheQuietTimeDoesNotMoveWhatTheUserIsDragging) {
    controller_->ensureBridgeStateRefresherIsRunning();
    controller_->onStreamHealth(true);
    setLampBrightness(*controller_, lamp_, 180);
    exec_->runPending();
    // The bridge reports the state before the drag reached it.
    controller_->onStreamEvent(event({lightChange("3", false, 40)}));
    exec_->runPending();
    EXPECT_TRUE(lightById("3").is_on);
    EXPECT_EQ(lightById("3").brightness, 120);
    // Once the quiet time is over, the light is read rather than the echo applied.
    lightsReply_ = R"({"3":{"name":"Desk","state":{"on":true,"bri":180,"reachable":true}}})";
    exec_->advance(kQuietAfterUserAction);
    exec_->runPending();
    std::vector<std::string> reads;
    for (const auto& r : afterTicks(2))
        if (r.rfind("GET", 0) == 0) reads.push_back(r);
    EXPECT_EQ(reads, std::vector<std::string>{"GET /lights"});
    EXPECT_EQ(lightById("3").brightness, 180);
}

TEST_F(LiveUpdatesTest, AHealthyStreamLeavesOneFullReadAMinuteAndAFailureBringsThePollingBack) {
    controller_->ensureBridgeStateRefresherIsRunning();
    EXPECT_EQ(afterTicks(1), (std::vector<std::string>{"GET /lights", "GET /groups"}));

    controller_->onStreamHealth(true);
    // 17 ticks make 59.5 s; the 18th is a minute after the stream came.
    EXPECT_TRUE(afterTicks(17).empty());
    EXPECT_EQ(afterTicks(1), std::vector<std::string>{"GET /"});
    EXPECT_EQ(lightById("3").brightness, 77);
    EXPECT_EQ(settings().lights().size(), 1u);

    controller_->onStreamHealth(false);
    EXPECT_EQ(afterTicks(1), (std::vector<std::string>{"GET /lights", "GET /groups"}));
}

TEST_F(LiveUpdatesTest, TheSwitchIsOnUnlessStoredOffAndStreamsOnlyForAVerifiedBridgeWithOne) {
    store_->setBool(keys::liveUpdates, false);
    settings().loadFromStore();
    EXPECT_FALSE(settings().liveUpdates());
    EXPECT_EQ(settings().liveStatus(), LiveStatus::off);
    store_->remove(keys::liveUpdates);
    settings().loadFromStore();
    EXPECT_TRUE(settings().liveUpdates());
    // Linked to nothing verified: no stream, and the pane says so.
    EXPECT_FALSE(controller_->streamRunning());
    EXPECT_EQ(settings().liveStatus(), LiveStatus::unavailable);
    EXPECT_FALSE(modelHasEventStream("BSB001"));
    EXPECT_TRUE(modelHasEventStream("BSB003"));
}

}  // namespace
