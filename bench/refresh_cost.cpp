// CPU time the refresh loop costs: connects to a bridge (give its address and
// user name) and lets the 3.5-second refresher run for SECONDS of real time.
// With SETTINGS_DIR the settings live in a file there, as in the tray program,
// and the number of times that file was written is reported too.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/bridge_controller.h"
#include "app/linux/file_store.h"
#include "app/linux/loop_dispatcher.h"

using namespace lumora;

static double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ADDRESS USER [SECONDS [SETTINGS_DIR]]\n", argv[0]);
        return 2;
    }
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    auto loop = std::make_shared<LoopDispatcher>(4);
    {
        std::shared_ptr<JsonFileDefaultsStore> file;
        if (argc > 4) file = std::make_shared<JsonFileDefaultsStore>(argv[4]);
        std::shared_ptr<DefaultsStore> store = file;
        if (!store) store = std::make_shared<InMemoryDefaultsStore>();
        BridgeController controller(servicesWith(loop, store));
        controller.settings().setHueIP(argv[1]);
        controller.settings().setHueKey(argv[2]);
        controller.settings().setLastUserActionAt(Clock::now() - std::chrono::hours(1));
        std::freopen("/dev/null", "w", stdout);  // the log lines are not the point
        const double before = cpuSeconds();
        controller.connectToBridge();
        loop->runUntil([] { return false; }, std::chrono::seconds(seconds));
        const double used = cpuSeconds() - before;
        std::fprintf(stderr,
                     "connected: %s, lights: %zu; CPU %.3f s over %d s = %.3f s per minute\n",
                     controller.settings().bridgeConnected() ? "yes" : "no",
                     controller.settings().lights().size(), used, seconds, used * 60.0 / seconds);
        if (file)
            std::fprintf(stderr, "settings file written %llu times\n",
                         static_cast<unsigned long long>(file->writes()));
    }
    return 0;
}
