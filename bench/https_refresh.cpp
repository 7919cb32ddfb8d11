// What HTTPS costs the refresh, against a simulated bridge in a process of
// its own: CPU per refresh tick in this process, and the TLS handshakes and
// connections the bridge counted, over SECONDS of real time (600 gives the
// ten minutes of an idle evening). "plain" runs a first-generation bridge
// over HTTP, "https" the newest over HTTPS. With CTL (the lumora-ctl program)
// it also times RUNS of `lumora-ctl lights` end to end against the same bridge.
//
//   lumora-https-refresh plain|https [SECONDS [CTL [RUNS]]]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "app/bridge_controller.h"
#include "app/linux/loop_dispatcher.h"
#include "bench/process_pipe.h"
#include "simulator/sim_server.h"

extern char** environ;

using namespace lumora;

using bench::cpuSeconds;
using bench::readLine;
using bench::writeLine;

namespace {

// The bridge's process: starts, says where it is, then answers "stats" with
// its counts until its input closes.
[[noreturn]] void serve(bool https, int in, int out) {
    sim::ServerOptions o;
    o.model = https ? sim::Generation::BSB003 : sim::Generation::BSB001;
    sim::SimServer server(o);
    std::string error;
    if (!server.start(&error)) {
        writeLine(out, "error " + error);
        std::_Exit(1);
    }
    std::string root = server.trustAnchorPem();
    for (char& c : root)
        if (c == '\n') c = '|';
    writeLine(out, https ? server.httpsAddress() : server.address());
    writeLine(out, server.certificateFingerprint());
    writeLine(out, root);
    while (readLine(in) == "stats") {
        const auto s = server.connectionStats();
        const auto& port = https ? s.https : s.http;
        writeLine(out, std::to_string(port.handshakes) + " " + std::to_string(port.connections));
    }
    std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (std::strcmp(argv[1], "plain") != 0 && std::strcmp(argv[1], "https") != 0)) {
        std::fprintf(stderr, "usage: %s plain|https [SECONDS [CTL [RUNS]]]\n", argv[0]);
        return 2;
    }
    const bool https = std::strcmp(argv[1], "https") == 0;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(toChild[1]);
        close(fromChild[0]);
        serve(https, toChild[0], fromChild[1]);
    }
    close(toChild[0]);
    close(fromChild[1]);
    const std::string address = readLine(fromChild[0]);
    const std::string fingerprint = readLine(fromChild[0]);
    std::string root = readLine(fromChild[0]);
    for (char& c : root)
        if (c == '|') c = '\n';
    if (address.empty() || address.starts_with("error")) {
        std::fprintf(stderr, "the bridge did not start: %s\n", address.c_str());
        return 1;
    }
    auto stats = [&] {
        writeLine(toChild[1], "stats");
        unsigned long long handshakes = 0, connections = 0;
        std::sscanf(readLine(fromChild[0]).c_str(), "%llu %llu", &handshakes, &connections);
        return std::pair{handshakes, connections};
    };

    auto loop = std::make_shared<LoopDispatcher>(4);
    {
        Services services = servicesWith(loop, std::make_shared<InMemoryDefaultsStore>());
        services.bridgeAnchors = TrustAnchors::fromPem(root);
        BridgeController controller(std::move(services));
        controller.settings().setHueIP(address);
        controller.settings().setHueKey(sim::kDemoUser);
        std::freopen("/dev/null", "w", stdout);  // the log lines are not the point
        controller.connectToBridge();
        // The connection and first reads are not the refresh: start counting after them.
        loop->runUntil([&] { return controller.settings().bridgeConnected(); },
                       std::chrono::seconds(10));
        controller.settings().setLastUserActionAt(Clock::now() - std::chrono::hours(1));
        // The first reads (lights, groups and scenes at once) settle.
        loop->runUntil([] { return false; }, std::chrono::seconds(1));
        const auto [h0, c0] = stats();
        const auto mine0 = controller.httpSession().handshakes();
        const auto conns0 = controller.httpSession().connections();
        const double before = cpuSeconds(RUSAGE_SELF);
        loop->runUntil([] { return false; }, std::chrono::seconds(seconds));
        const double used = cpuSeconds(RUSAGE_SELF) - before;
        const auto [h1, c1] = stats();
        std::fprintf(stderr, "this side: %zu handshakes, %zu connections\n",
                     controller.httpSession().handshakes() - mine0,
                     controller.httpSession().connections() - conns0);
        const double ticks = seconds * 1000.0 / kRefreshPeriod.count();
        std::fprintf(stderr,
                     "%s: connected %s; %.0f ticks in %d s: CPU %.3f ms per tick; at the bridge "
                     "%llu TLS handshakes and %llu connections (%.1f handshakes per 10 "
                     "minutes)\n",
                     https ? "https" : "plain",
                     controller.settings().bridgeConnected() ? "yes" : "no", ticks, seconds,
                     used * 1000.0 / ticks, h1 - h0, c1 - c0, (h1 - h0) * 600.0 / seconds);
    }

    if (argc > 3) {
        const int runs = argc > 4 ? std::atoi(argv[4]) : 10;
        const auto dir = std::filesystem::temp_directory_path() /
                         ("lumora-https-bench-" + std::to_string(getpid()));
        setenv("LUMORA_CONFIG_DIR", dir.c_str(), 1);
        setenv("XDG_CACHE_HOME", dir.c_str(), 1);
        std::vector<std::string> args{argv[3], "--bridge",
                                      (https ? "https://" : "http://") + address, "--user",
                                      sim::kDemoUser};
        if (https) args.insert(args.end(), {"--trust-fingerprint", fingerprint});
        args.push_back("lights");
        std::vector<char*> cargs;
        for (auto& a : args) cargs.push_back(a.data());
        cargs.push_back(nullptr);
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
        const auto start = std::chrono::steady_clock::now();
        int failed = 0;
        for (int i = 0; i < runs; ++i) {
            pid_t pid = 0;
            int status = 0;
            if (posix_spawn(&pid, cargs[0], &quiet, nullptr, cargs.data(), environ) != 0 ||
                waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
                ++failed;
        }
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr,
                     "lumora-ctl lights over %s: %.1f ms wall, %.1f ms CPU per run (%d "
                     "runs, %d failed)\n",
                     https ? "HTTPS" : "HTTP", wall * 1000.0 / runs,
                     (cpuSeconds(RUSAGE_CHILDREN) - cpuBefore) * 1000.0 / runs, runs, failed);
        std::filesystem::remove_all(dir);
    }
    close(toChild[1]);
    waitpid(child, nullptr, 0);
    return 0;
}
