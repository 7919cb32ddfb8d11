// What the event stream buys, against simulated bridges in processes of
// their own (the newest model, over HTTPS):
//  - latency from a change another client makes (a PUT) to the tray's
//    AppSettings holding it, over CHANGES changes, p50/p95;
//  - the same to a line of `lumora-ctl watch --json` (with CTL, the program);
//  - idle, side by side in the same run for SECONDS: a tray process on the
//    stream and one with live updates off (reading every 3.5 s), each on a
//    bridge of its own: the requests each bridge saw, per hour, and each
//    tray's CPU per minute.
//
//   lumora-live-updates [SECONDS [CHANGES [CTL]]]
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/bridge_controller.h"
#include "app/linux/loop_dispatcher.h"
#include "bench/process_pipe.h"
#include "simulator/sim_server.h"

extern char** environ;

using namespace lumora;
using Steady = std::chrono::steady_clock;

using bench::cpuSeconds;
using bench::readLine;
using bench::writeLine;

namespace {

// A process of its own with a line-based pipe both ways.
struct Child {
    pid_t pid = 0;
    int in = -1;   // we write
    int out = -1;  // we read
};

template <typename F>
Child fork(F body) {
    int to[2], from[2];
    if (pipe(to) != 0 || pipe(from) != 0) std::_Exit(1);
    Child c;
    c.pid = ::fork();
    if (c.pid == 0) {
        close(to[1]);
        close(from[0]);
        body(to[0], from[1]);
        std::_Exit(0);
    }
    close(to[0]);
    close(from[1]);
    c.in = to[1];
    c.out = from[0];
    return c;
}

// The bridge: says where it is, then answers "requests" with how many it
// has logged, until its input closes.
void serve(int in, int out) {
    sim::ServerOptions o;
    o.model = sim::Generation::BSB003;
    sim::SimServer server(o);
    std::string error;
    if (!server.start(&error)) {
        writeLine(out, "error " + error);
        return;
    }
    std::string root = server.trustAnchorPem();
    std::replace(root.begin(), root.end(), '\n', '|');
    writeLine(out, server.httpsAddress());
    writeLine(out, server.certificateFingerprint());
    writeLine(out, root);
    while (readLine(in) == "requests") writeLine(out, std::to_string(server.requestLog().size()));
}

struct Bridge {
    Child process;
    std::string address, fingerprint, root;
    std::size_t requests() const {
        writeLine(process.in, "requests");
        return std::stoull(readLine(process.out));
    }
};

Bridge startBridge() {
    Bridge b;
    b.process = fork(serve);
    b.address = readLine(b.process.out);
    b.fingerprint = readLine(b.process.out);
    b.root = readLine(b.process.out);
    std::replace(b.root.begin(), b.root.end(), '|', '\n');
    if (b.address.empty() || b.address.starts_with("error")) {
        std::fprintf(stderr, "the bridge did not start: %s\n", b.address.c_str());
        std::exit(1);
    }
    return b;
}

// Another client's change: light 1's brightness, over the bridge's HTTPS.
void put(const Bridge& b, int bri) {
    HttpRequest r;
    r.method = "PUT";
    r.url = "https://" + b.address + "/api/" + sim::kDemoUser + "/lights/1/state";
    r.body = "{\"bri\":" + std::to_string(bri) + "}";
    r.tls = TlsIdentity::pinned(b.fingerprint);
    if (httpSend(r).status != 200) std::fprintf(stderr, "a PUT failed\n");
}

std::unique_ptr<BridgeController> tray(const std::shared_ptr<LoopDispatcher>& loop, const Bridge& b,
                                       bool live) {
    auto store = std::make_shared<InMemoryDefaultsStore>();
    store->setBool(keys::liveUpdates, live);
    Services services = servicesWith(loop, store);
    services.bridgeAnchors = TrustAnchors::fromPem(b.root);
    auto c = std::make_unique<BridgeController>(std::move(services));
    c->settings().loadFromStore();
    c->settings().setHueIP(b.address);
    c->settings().setHueKey(sim::kDemoUser);
    c->connectToBridge();
    loop->runUntil([&] { return c->settings().bridgeConnected(); }, std::chrono::seconds(10));
    if (live)
        loop->runUntil([&] { return c->settings().liveStatus() == LiveStatus::active; },
                       std::chrono::seconds(10));
    return c;
}

int brightnessOfOne(const AppSettings& s) {
    for (const auto& l : s.lights())
        if (l.lamp_id == "1") return static_cast<int>(l.brightness);
    return -1;
}

void summary(const char* what, std::vector<double> ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, std::size_t(q * ms.size()))]; };
    std::fprintf(stderr, "%s: p50 %.1f ms, p95 %.1f ms, max %.1f ms (%zu changes)\n", what, at(0.5),
                 at(0.95), ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 180;
    const int changes = argc > 2 ? std::atoi(argv[2]) : 100;
    const char* ctl = argc > 3 ? argv[3] : nullptr;
    std::freopen("/dev/null", "w", stdout);  // the controllers' log lines are not the point

    const Bridge streamed = startBridge();
    const Bridge polled = startBridge();
    // Idle, side by side: each tray in a process of its own, on its own bridge.
    auto idleTray = [seconds](const Bridge& b, bool live) {
        return fork([&b, live, seconds](int in, int out) {
            // Forked before this process starts any thread; waits for its turn.
            if (readLine(in) != "start") return;
            auto loop = std::make_shared<LoopDispatcher>(4);
            auto c = tray(loop, b, live);
            c->settings().setLastUserActionAt(Clock::now() - std::chrono::hours(1));
            // The first reads settle.
            loop->runUntil([] { return false; }, std::chrono::seconds(2));
            writeLine(out, "ready");
            readLine(in);
            const double before = cpuSeconds();
            loop->runUntil([] { return false; }, std::chrono::seconds(seconds));
            writeLine(out, std::to_string(cpuSeconds() - before) + " " +
                               (c->settings().bridgeConnected() ? "connected" : "lost") + " " +
                               (c->streamLive() ? "live" : "polling"));
            c.reset();
        });
    };
    Child onStream = idleTray(streamed, true);
    Child onPolling = idleTray(polled, false);

    // Latency: another client's change until the tray's settings hold it.
    {
        auto loop = std::make_shared<LoopDispatcher>(4);
        auto c = tray(loop, streamed, true);
        // Past the quiet time that starts with the program.
        c->settings().setLastUserActionAt(Clock::now() - std::chrono::hours(1));
        std::vector<double> ms;
        for (int i = 0; i < changes; ++i) {
            const int bri = 20 + (i % 2) * 100 + i % 50;
            const auto t0 = Steady::now();
            std::thread change([&] { put(streamed, bri); });
            const bool seen = loop->runUntil([&] { return brightnessOfOne(c->settings()) == bri; },
                                             std::chrono::seconds(10));
            change.join();
            if (seen)
                ms.push_back(std::chrono::duration<double, std::milli>(Steady::now() - t0).count());
        }
        summary("PUT -> tray AppSettings (stream)", ms);
        c.reset();
    }

    // The same to a line of lumora-ctl watch.
    if (ctl) {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("lumora-live-bench-" + std::to_string(getpid()));
        setenv("LUMORA_CONFIG_DIR", dir.c_str(), 1);
        setenv("XDG_CACHE_HOME", dir.c_str(), 1);
        std::vector<std::string> args{ctl,
                                      "--bridge",
                                      "https://" + streamed.address,
                                      "--user",
                                      sim::kDemoUser,
                                      "--trust-fingerprint",
                                      streamed.fingerprint,
                                      "watch",
                                      "--json"};
        std::vector<char*> cargs;
        for (auto& a : args) cargs.push_back(a.data());
        cargs.push_back(nullptr);
        int lines[2];
        if (pipe(lines) != 0) return 1;
        posix_spawn_file_actions_t io;
        posix_spawn_file_actions_init(&io);
        posix_spawn_file_actions_adddup2(&io, lines[1], 1);
        posix_spawn_file_actions_addopen(&io, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        if (posix_spawn(&pid, ctl, &io, nullptr, cargs.data(), environ) != 0) return 1;
        close(lines[1]);
        // Its stream is open once a change shows up as a line.
        std::string buffer;
        auto waitFor = [&](const std::string& text, std::chrono::milliseconds limit) {
            const auto until = Steady::now() + limit;
            for (;;) {
                if (auto at = buffer.find(text); at != std::string::npos) {
                    buffer.erase(0, at + text.size());
                    return true;
                }
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(until - Steady::now());
                if (left.count() <= 0) return false;
                pollfd p{lines[0], POLLIN, 0};
                if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
                char chunk[4096];
                const ssize_t n = ::read(lines[0], chunk, sizeof chunk);
                if (n <= 0) return false;
                buffer.append(chunk, static_cast<std::size_t>(n));
            }
        };
        for (int i = 0; i < 50; ++i) {
            put(streamed, 7 + i % 2);
            if (waitFor("\"bri\":" + std::to_string(7 + i % 2) + "}", std::chrono::seconds(1)))
                break;
        }
        std::vector<double> ms;
        for (int i = 0; i < changes; ++i) {
            const int bri = 30 + (i % 2) * 100 + i % 50;
            const auto t0 = Steady::now();
            put(streamed, bri);
            if (waitFor("\"bri\":" + std::to_string(bri) + "}", std::chrono::seconds(10)))
                ms.push_back(std::chrono::duration<double, std::milli>(Steady::now() - t0).count());
        }
        summary("PUT -> lumora-ctl watch line (stream)", ms);
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        std::fprintf(stderr, "lumora-ctl watch ended with %d on SIGTERM\n",
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        close(lines[0]);
        std::filesystem::remove_all(dir);
    }

    // Idle, side by side: each tray in a process of its own, on its own bridge.
    writeLine(onStream.in, "start");
    writeLine(onPolling.in, "start");
    readLine(onStream.out);
    readLine(onPolling.out);
    const std::size_t s0 = streamed.requests(), p0 = polled.requests();
    writeLine(onStream.in, "go");
    writeLine(onPolling.in, "go");
    const std::string streamCpu = readLine(onStream.out);
    const std::string pollCpu = readLine(onPolling.out);
    const std::size_t s1 = streamed.requests(), p1 = polled.requests();
    const double hour = 3600.0 / seconds, minute = 60.0 / seconds;
    std::fprintf(stderr,
                 "idle %d s, side by side:\n"
                 "  stream : %zu requests (%.0f per hour), CPU %.2f ms per minute [%s]\n"
                 "  polling: %zu requests (%.0f per hour), CPU %.2f ms per minute [%s]\n",
                 seconds, s1 - s0, (s1 - s0) * hour, std::atof(streamCpu.c_str()) * 1000 * minute,
                 streamCpu.c_str(), p1 - p0, (p1 - p0) * hour,
                 std::atof(pollCpu.c_str()) * 1000 * minute, pollCpu.c_str());
    for (const Child* c : std::initializer_list<const Child*>{&onStream, &onPolling,
                                                              &streamed.process, &polled.process}) {
        close(c->in);
        waitpid(c->pid, nullptr, 0);
    }
    return 0;
}
