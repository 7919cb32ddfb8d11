#pragma once
// A bridge controller on virtual time, holding one light ("3") and one room
// ("5") of a made-up bridge, and makers of lights, rooms and scenes. Nothing
// it sends leaves the process: requests go to `transport_`, or fail as
// unreachable when a test gives none.

#include <gtest/gtest.h>

#include "app/bridge_controller.h"
#include "support/manual_executor.h"

namespace lumora {

class ControllerFixture : public ::testing::Test {
  protected:
    static constexpr const char* kBridge = "10.0.0.2";

    void SetUp() override {
        // The refresh reads scenes at each quarter hour of the wall clock;
        // a fixed minute past one keeps counted reads the same at any hour.
        exec_->setWallNow(WallClock::from_time_t(1'700'001'060));  // 22:31 UTC
        Services services = servicesWith(exec_, store_);
        services.transport = [this](const HttpRequest& request) {
            if (transport_) return transport_(request);
            HttpResponse refused;
            refused.error = HttpError::connectionFailed;
            return refused;
        };
        controller_ = std::make_unique<BridgeController>(std::move(services));
        settings().setHueIP(kBridge);
        settings().setHueKey("key");
        lamp_ = light("3");
        room_ = group("5");
        settings().setLights({lamp_});
        settings().setGroups({room_});
    }
    void TearDown() override {
        exec_->runPending();
        controller_.reset();
    }

    static HueLight light(const std::string& id) {
        HueLight l;
        l.lamp_id = id;
        l.hue_ip = kBridge;
        l.hue_key = "key";
        return l;
    }
    static HueGroup group(const std::string& id) {
        HueGroup g;
        g.group_id = id;
        g.hue_ip = kBridge;
        g.hue_key = "key";
        return g;
    }
    // A light that allows colour, colour temperature (153 to 500) and
    // dimming as given; named "Lamp ID" unless named.
    static HueLight lamp(const std::string& id, bool color, bool ambient, bool dim,
                         const std::string& name = "") {
        HueLight l = light(id);
        l.name = name.empty() ? "Lamp " + id : name;
        l.unique_id = "uid-" + id;
        l.allows_color = color;
        l.allows_ambient = ambient;
        l.allows_brightness = dim;
        l.ct_min = 153;
        l.ct_max = 500;
        return l;
    }
    static HueGroup room(const std::string& id, const std::string& name, const std::string& type,
                         std::vector<std::string> lights = {}) {
        HueGroup g = group(id);
        g.name = name;
        g.type = type;
        g.lights = std::move(lights);
        return g;
    }
    static HueScene scene(const std::string& id, const std::string& name, const std::string& grp) {
        HueScene s;
        s.scene_id = id;
        s.name = name;
        s.group = grp;
        return s;
    }
    AppSettings& settings() { return controller_->settings(); }
    // The waiting items once queued work has run.
    const std::vector<ActionQueueItem>& queued() {
        exec_->runPending();
        return settings().actionQueue();
    }

    std::shared_ptr<ManualExecutor> exec_ = std::make_shared<ManualExecutor>();
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    // Called on the workers, which the manual executor runs on the test's thread.
    HttpTransport transport_;
    std::unique_ptr<BridgeController> controller_;
    HueLight lamp_;
    HueGroup room_;
};

}  // namespace lumora
