#include "ctl/watch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/live_updates.h"
#include "base/letter_case.h"
#include "bridge/event_stream_client.h"
#include "bridge/fetchers.h"

namespace lumora::ctl {
namespace {

using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// ---- What changed -------------------------------------------------------------

// Members in a fixed order, for the plain line and the JSON object alike.
using Members = std::vector<std::pair<std::string, json>>;

Members lightMembers(const HueLight& l) {
    return {{"on", l.is_on}, {"bri", l.brightness}, {"ct", l.color_temperature},
            {"hue", l.hue},  {"sat", l.saturation}, {"name", l.name}};
}

Members groupMembers(const HueGroup& g) {
    return {{"on", g.is_on},
            {"any_on", g.any_on},
            {"all_on", g.all_on},
            {"bri", g.brightness},
            {"ct", g.color_temperature},
            {"hue", g.hue},
            {"sat", g.saturation},
            {"name", g.name}};
}

std::string groupKind(const HueGroup& g) {
    const std::string t = asciiLowerCased(g.type);
    return t == "room" || t == "zone" ? t : std::string("group");
}

std::string line(const std::string& kind, const std::string& id, const std::string& name,
                 const std::string& event, const Members& changed, bool asJson) {
    if (asJson) {
        json o = {{"resource", kind}, {"id", id}, {"name", name}};
        if (!event.empty()) o["event"] = event;
        json members = json::object();
        for (const auto& [key, value] : changed) members[key] = value;
        o["changed"] = std::move(members);
        // Names come from the bridge: bad bytes are replaced, never refused.
        return o.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    std::string out =
        kind + " " + id + " " + json(name).dump(-1, ' ', false, json::error_handler_t::replace);
    if (!event.empty()) out += " " + event;
    for (const auto& [key, value] : changed) {
        if (key == "on")
            out += value.get<bool>() ? " on" : " off";
        else
            out += " " + key + "=" + value.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    return out;
}

template <typename T>
void compare(const std::vector<T>& before, const std::vector<T>& after,
             std::string (*idOf)(const T&), std::string (*kindOf)(const T&),
             Members (*membersOf)(const T&), bool asJson, std::vector<std::string>& out) {
    for (const T& a : after) {
        const T* b = nullptr;
        for (const T& x : before)
            if (idOf(x) == idOf(a)) b = &x;
        const Members now = membersOf(a);
        if (!b) {
            out.push_back(line(kindOf(a), idOf(a), a.name, "added", now, asJson));
            continue;
        }
        const Members was = membersOf(*b);
        Members changed;
        for (std::size_t i = 0; i < now.size(); ++i)
            if (now[i].second != was[i].second) changed.push_back(now[i]);
        if (!changed.empty()) out.push_back(line(kindOf(a), idOf(a), a.name, "", changed, asJson));
    }
    for (const T& b : before) {
        bool kept = false;
        for (const T& a : after) kept = kept || idOf(a) == idOf(b);
        if (!kept) out.push_back(line(kindOf(b), idOf(b), b.name, "gone", {}, asJson));
    }
}

std::string lightId(const HueLight& l) {
    return l.lamp_id;
}
std::string lightKind(const HueLight&) {
    return "light";
}
std::string groupId(const HueGroup& g) {
    return g.group_id;
}

// ---- Stopping -----------------------------------------------------------------

// A signal handler may only write: it wakes the loop through this pipe.
int gWakeWrite = -1;
volatile std::sig_atomic_t gStop = 0;

extern "C" void onStopSignal(int) {
    gStop = 1;
    const char byte = 's';
    if (gWakeWrite >= 0) [[maybe_unused]]
        auto n = ::write(gWakeWrite, &byte, 1);
}

// Installs the handlers and the pipe for one run; puts back what was there.
class StopSignals {
  public:
    StopSignals() {
        if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
        gWakeWrite = fds_[1];
        gStop = 0;
        struct sigaction stop {};
        stop.sa_handler = onStopSignal;
        sigemptyset(&stop.sa_mask);
        ::sigaction(SIGINT, &stop, &oldInt_);
        ::sigaction(SIGTERM, &stop, &oldTerm_);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &oldPipe_);
    }
    ~StopSignals() {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
        ::sigaction(SIGPIPE, &oldPipe_, nullptr);
        gWakeWrite = -1;
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int readFd() const { return fds_[0]; }
    // Wakes the loop from another thread.
    void wake() const {
        const char byte = 'w';
        if (fds_[1] >= 0) [[maybe_unused]]
            auto n = ::write(fds_[1], &byte, 1);
    }
    void drain() const {
        char buffer[64];
        while (fds_[0] >= 0 && ::read(fds_[0], buffer, sizeof buffer) > 0) {
        }
    }

  private:
    int fds_[2] = {-1, -1};
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
    struct sigaction oldPipe_ {};
};

// What the stream's thread hands over.
struct Inbox {
    std::mutex mutex;
    std::deque<StreamEventMeaning> events;
    std::optional<bool> health;  // the latest, until taken
    std::string logLine;
};

}  // namespace

std::vector<std::string> changeLines(const std::vector<HueLight>& beforeLights,
                                     const std::vector<HueGroup>& beforeGroups,
                                     const std::vector<HueLight>& afterLights,
                                     const std::vector<HueGroup>& afterGroups, bool asJson) {
    std::vector<std::string> out;
    compare(beforeLights, afterLights, &lightId, &lightKind, &lightMembers, asJson, out);
    compare(beforeGroups, afterGroups, &groupId, &groupKind, &groupMembers, asJson, out);
    return out;
}

int watch(const WatchSetup& setup, std::ostream& out, std::ostream& err) {
    FetchMemo memo;
    std::vector<HueLight> lights;
    std::vector<HueGroup> groups;
    // false when a read failed; the first failure ends the run, later ones are told once.
    std::string lastProblem;
    auto read = [&](bool wantLights, bool wantGroups) {
        std::optional<FetchError> error;
        if (wantLights) {
            auto l = fetchLightsNow(setup.transport, setup.bridge, &memo);
            if (auto* e = std::get_if<FetchError>(&l))
                error = *e;
            else
                lights = std::move(std::get<std::vector<HueLight>>(l));
        }
        if (wantGroups && !error) {
            auto g = fetchGroupsNow(setup.transport, setup.bridge, &memo);
            if (auto* e = std::get_if<FetchError>(&g))
                error = *e;
            else
                groups = std::move(std::get<std::vector<HueGroup>>(g));
        }
        const std::string problem =
            error ? fetchErrorLine(*error, wantLights ? Collection::lights : Collection::groups)
                  : std::string();
        if (problem != lastProblem && !problem.empty())
            err << "lumora-ctl: " << problem << "\n" << std::flush;
        lastProblem = problem;
        return !error;
    };
    if (!read(true, true)) return 1;

    StopSignals signals;
    Inbox inbox;
    std::unique_ptr<EventStreamClient> stream;
    if (setup.bridge.secure && modelHasEventStream(setup.model)) {
        EventStreamClient::Callbacks callbacks;
        callbacks.onEvent = [&](const StreamEventMeaning& m) {
            {
                std::lock_guard<std::mutex> lock(inbox.mutex);
                inbox.events.push_back(m);
            }
            signals.wake();
        };
        callbacks.onHealth = [&](bool live) {
            {
                std::lock_guard<std::mutex> lock(inbox.mutex);
                inbox.health = live;
            }
            signals.wake();
        };
        callbacks.log = [&](const std::string& text) {
            std::lock_guard<std::mutex> lock(inbox.mutex);
            inbox.logLine = text;
        };
        EventStreamClient::Timing timing;
        timing.idleTimeout = kStreamSilence;
        stream = std::make_unique<EventStreamClient>(eventStreamTarget(setup.bridge),
                                                     std::move(callbacks), std::move(timing));
    } else {
        err << "lumora-ctl: this bridge has no event stream; reading it every "
            << setup.pollPeriod.count() / 1000.0 << " s\n"
            << std::flush;
    }
    // A closed pipe shows on standard output before anything is written to it.
    const int outFd = &out == &std::cout ? STDOUT_FILENO : -1;

    bool live = false;
    std::string toldLog;
    Clock::time_point nextRead = Clock::now() + setup.pollPeriod;
    auto print = [&](const std::vector<std::string>& lines) {
        for (const auto& l : lines) out << l << "\n";
        out.flush();
        return bool(out);
    };
    while (!gStop) {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextRead - Clock::now());
        pollfd fds[2] = {{signals.readFd(), POLLIN, 0}, {outFd, 0, 0}};
        ::poll(fds, outFd >= 0 ? 2 : 1, static_cast<int>(std::max<std::int64_t>(0, wait.count())));
        signals.drain();
        if (gStop) break;
        if (outFd >= 0 && (fds[1].revents & (POLLERR | POLLHUP))) break;

        std::deque<StreamEventMeaning> events;
        std::optional<bool> health;
        std::string logLine;
        {
            std::lock_guard<std::mutex> lock(inbox.mutex);
            events.swap(inbox.events);
            health = std::exchange(inbox.health, std::nullopt);
            logLine = inbox.logLine;
        }
        if (health && *health != live) {
            live = *health;
            err << (live ? "lumora-ctl: following the bridge's event stream\n"
                         : "lumora-ctl: the event stream is lost; reading the bridge every few "
                           "seconds\n")
                << std::flush;
            nextRead = Clock::now() + (live ? setup.safetyPeriod : setup.pollPeriod);
        }
        if (!logLine.empty() && logLine != toldLog && !live) {
            toldLog = logLine;
            err << "lumora-ctl: " << withUserNameMasked(logLine, setup.bridge.user) << "\n"
                << std::flush;
        }

        const auto beforeLights = lights;
        const auto beforeGroups = groups;
        ReadsWanted wanted;
        for (const auto& e : events) {
            wanted |= readsOf(e);
            wanted |= applyStreamChanges(lights, groups, e.changes);
        }
        if (Clock::now() >= nextRead) {
            wanted.lights = wanted.groups = true;
            nextRead = Clock::now() + (live ? setup.safetyPeriod : setup.pollPeriod);
        }
        if (wanted.lights || wanted.groups) read(wanted.lights, wanted.groups);
        if (!print(changeLines(beforeLights, beforeGroups, lights, groups, setup.json))) break;
    }
    return 0;
}

}  // namespace lumora::ctl
