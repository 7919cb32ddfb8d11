// How long a command waits between addActionItem and the bridge receiving it,
// over 50 actions against the simulator on loopback (real time).
#include <algorithm>
#include <cstdio>
#include <thread>

#include "app/bridge_controller.h"
#include "app/linux/loop_dispatcher.h"
#include "bridge/commands.h"
#include "bridge/fetchers.h"
#include "simulator/sim_server.h"

using namespace lumora;
using namespace std::chrono_literals;

int main() {
    auto loop = std::make_shared<LoopDispatcher>(4);
    sim::SimServer server;
    if (!server.start()) return 1;
    BridgeController controller(servicesWith(loop, std::make_shared<InMemoryDefaultsStore>()));
    controller.settings().setHueIP(server.address());
    controller.settings().setHueKey(sim::kDemoUser);
    auto lights = std::get<std::vector<HueLight>>(
        fetchLightsNow(httpSend, {server.address(), sim::kDemoUser}));
    controller.settings().setLights(lights);
    server.clearLog();

    std::vector<std::chrono::steady_clock::time_point> issued;
    for (int i = 0; i < 50; ++i) {
        // Spread the actions over the queue's period so every phase is seen.
        loop->runUntil([] { return false; }, std::chrono::milliseconds(150 + (i * 37) % 300));
        issued.push_back(std::chrono::steady_clock::now());
        setLampBrightness(controller, lights[static_cast<size_t>(i) % lights.size()], 10 + i);
        loop->runUntil([&] { return controller.queueDrained(); }, 5s);
    }
    const auto log = server.requestLog();
    std::vector<double> ms;
    size_t k = 0;
    for (const auto& r : log) {
        if (r.method != "PUT" || k >= issued.size()) continue;
        ms.push_back(std::chrono::duration<double, std::milli>(r.wallTime - issued[k++]).count());
    }
    std::sort(ms.begin(), ms.end());
    if (ms.size() != 50) {
        std::printf("expected 50 requests, saw %zu\n", ms.size());
        return 1;
    }
    std::printf(
        "addActionItem to bridge: median %.1f ms, best %.1f ms, worst %.1f ms (50 actions)\n",
        (ms[24] + ms[25]) / 2, ms.front(), ms.back());
    return 0;
}
