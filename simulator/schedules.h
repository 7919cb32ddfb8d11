#pragma once
// The bridge's schedules: time patterns, the table kept in the bridge's
// reply shape, and firing on the simulator clock.

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/replies.h"
#include "simulator/sim_time.h"

namespace lumora::sim {

struct TimePattern {
    enum class Kind { absolute, weekly, timer };
    Kind kind = Kind::timer;
    bool local = true;                 // from "localtime"; false from "time" (UTC)
    SimTime at{};                      // absolute
    unsigned weekdays = 0;             // weekly: Monday 64, Tuesday 32, ... Sunday 1
    std::chrono::seconds timeOfDay{};  // weekly
    std::chrono::seconds period{};     // timer
    int runs = 1;                      // timer: 1 for PT, 0 for R/PT (forever), nn for Rnn/PT
    std::chrono::seconds randomMax{};  // the "A hh:mm:ss" part

    bool recurring() const { return kind == Kind::weekly || (kind == Kind::timer && runs != 1); }
};

// Absolute "YYYY-MM-DDThh:mm:ss", weekly "Wbbb/Thh:mm:ss", timers "PThh:mm:ss",
// "R/PThh:mm:ss" and "Rnn/PThh:mm:ss", each optionally followed by "Ahh:mm:ss".
std::optional<TimePattern> parseTimePattern(std::string_view text, bool local);

class ScheduleTable {
  public:
    // Runs a schedule's command against the bridge at simulator time `at`.
    using Runner = std::function<void(const std::string& method, const std::string& address,
                                      const Json& body, SimTime at)>;

    // Replaces the table with a fixture's schedules; timers start at `now`.
    bool load(const Json& schedules, SimTime now, std::string* error);

    Json list() const;
    const Json* find(const std::string& id) const;
    Json create(const std::string& bodyText, SimTime now);
    Json modify(const std::string& id, const std::string& bodyText, SimTime now);
    Json remove(const std::string& id);

    // Fires, in order of due time, every schedule due at or before `now`,
    // including repeated runs of recurring ones.
    void runDue(SimTime now, const Runner& run);
    std::optional<SimTime> nextDue() const;

  private:
    struct Entry {
        std::string id;
        Json json;
        std::optional<TimePattern> pattern;
        std::optional<SimTime> due;
        int runsLeft = 0;
    };

    Entry* entry(const std::string& id);
    void start(Entry& entry, SimTime now);
    std::optional<SimTime> nextAfter(const TimePattern& pattern, SimTime after);
    std::chrono::seconds randomPart(const TimePattern& pattern);
    std::string uniqueName(const std::string& wanted) const;
    std::string nextId() const;

    std::vector<Entry> entries_;
    std::mt19937 random_{std::random_device{}()};
};

}  // namespace lumora::sim
