// A global shortcut end to end: a real key press on a private X server, the
// hot-key service, the program's action, the queue and the simulated bridge.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/bridge_controller.h"
#include "app/hotkey_actions.h"
#include "shortcuts/keyboard_shortcuts.h"
#include "shortcuts/x11/x11_hotkey_service.h"
#include "simulator/sim_server.h"
#include "support/manual_executor.h"
#include "support/xvfb.h"

using namespace lumora;
using namespace lumora::testing;
using namespace std::chrono_literals;
using nlohmann::json;
using KS = KeyboardShortcuts;

namespace {

class HotkeysEndToEnd : public XvfbTest {
  protected:
    void SetUp() override {
        XvfbTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(server_.start());
        service_ = X11HotKeyService::connect(exec_, server->display.c_str());
        ASSERT_TRUE(service_);
        Services services = servicesWith(exec_, store_);
        services.hotKeyService = service_;
        controller_ = std::make_unique<BridgeController>(services);
        hotkeys_ = std::make_unique<HotkeyActions>(*controller_, services);
        controller_->settings().setHueIP(server_.address());
        controller_->settings().setHueKey(sim::kDemoUser);
        hotkeys_->registerKeyboardHotkeys();
        controller_->fetchGroups();
        ASSERT_TRUE(exec_->runUntil([&] { return !controller_->settings().groups().empty(); }, 5s));
        server_.clearLog();
    }
    void TearDown() override {
        hotkeys_.reset();
        controller_.reset();
        service_.reset();
    }
    // Group actions the bridge received with this body.
    std::set<std::string> groupsSent(const json& body) {
        std::set<std::string> ids;
        for (const auto& r : server_.requestLog()) {
            const auto at = r.path.find("/groups/");
            if (r.method == "PUT" && at != std::string::npos &&
                json::parse(r.body, nullptr, false) == body)
                ids.insert(r.path.substr(at + 8, r.path.find('/', at + 8) - at - 8));
        }
        return ids;
    }
    // Pumps the UI and moves the queue's virtual clock until `done` or 5 s of real time.
    bool until(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            exec_->runUntil([] { return false; }, 20ms);
            exec_->advance(300ms);
            if (done()) return true;
        }
        return false;
    }

    std::shared_ptr<ManualExecutor> exec_ =
        std::make_shared<ManualExecutor>(ManualExecutor::Background::Threads);
    std::shared_ptr<InMemoryDefaultsStore> store_ = std::make_shared<InMemoryDefaultsStore>();
    sim::SimServer server_;
    std::shared_ptr<X11HotKeyService> service_;
    std::unique_ptr<BridgeController> controller_;
    std::unique_ptr<HotkeyActions> hotkeys_;
    KS& shortcuts() { return hotkeys_->shortcuts(); }
};

}  // namespace

// Clearing a shortcut is the hot-key service's (X11HotKeyTest).
TEST_F(HotkeysEndToEnd, AllLightsOffSwitchesEveryRoomAndZoneOff) {
    std::set<std::string> everyGroup;
    for (const auto& g : controller_->settings().groups()) everyGroup.insert(g.group_id);

    shortcuts().setShortcut(Shortcut(Key::l, Modifier::control | Modifier::option),
                            KS::Name::actionAllLightsOff);
    ASSERT_TRUE(press("ctrl+alt+l"));
    ASSERT_TRUE(until([&] { return groupsSent({{"on", false}}) == everyGroup; }));
    EXPECT_EQ(server_.requestLog().size(), everyGroup.size()) << "one request per room and zone";
}
