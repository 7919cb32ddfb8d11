#include "simulator/schedules.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "simulator/request_body.h"

namespace lumora::sim {

namespace {

constexpr std::size_t kMaxSchedules = 100;

// Splits off a trailing "Ahh:mm:ss" random part.
bool splitRandom(std::string_view& text, std::chrono::seconds* random) {
    *random = {};
    auto a = text.rfind('A');
    if (a == std::string_view::npos) return true;
    auto parsed = parseClockDuration(text.substr(a + 1));
    if (!parsed) return false;
    *random = *parsed;
    text = text.substr(0, a);
    return true;
}

bool weekdayInMask(unsigned mask, int weekday) {
    unsigned bit = weekday == 0 ? 1u : 1u << (7 - weekday);
    return (mask & bit) != 0;
}

std::string invalidDump(const Json& value) {
    return value.is_string() ? value.get<std::string>()
                             : value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool validCommand(const Json& command) {
    if (!command.is_object()) return false;
    auto address = command.find("address");
    auto method = command.find("method");
    auto body = command.find("body");
    if (address == command.end() || !address->is_string() ||
        address->get_ref<const std::string&>().rfind("/api/", 0) != 0) {
        return false;
    }
    if (method == command.end() || (*method != "PUT" && *method != "POST" && *method != "DELETE")) {
        return false;
    }
    return body == command.end() || body->is_object();
}

// The checks shared by creation and modification; nullopt when valid.
std::optional<Json> checkParameter(const std::string& address, const std::string& key,
                                   const Json& value) {
    auto fail = [&] { return invalidValue(address, invalidDump(value), key); };
    if (key == "name" || key == "description") {
        std::size_t limit = key == "name" ? 32 : 64;
        if (!value.is_string() || value.get_ref<const std::string&>().size() > limit) return fail();
    } else if (key == "command") {
        if (!validCommand(value)) return fail();
    } else if (key == "localtime" || key == "time") {
        if (!value.is_string() || !parseTimePattern(value.get<std::string>(), key == "localtime")) {
            return fail();
        }
    } else if (key == "status") {
        if (value != "enabled" && value != "disabled") return fail();
    } else if (key == "autodelete" || key == "recycle") {
        if (!value.is_boolean()) return fail();
    }
    return std::nullopt;
}

Json normalisedCommand(const Json& command) {
    Json result = Json::object();
    result["address"] = command["address"];
    result["body"] = command.contains("body") ? command["body"] : Json::object();
    result["method"] = command["method"];
    return result;
}

}  // namespace

std::optional<TimePattern> parseTimePattern(std::string_view text, bool local) {
    TimePattern pattern;
    pattern.local = local;
    if (!splitRandom(text, &pattern.randomMax)) return std::nullopt;

    if (text.rfind("PT", 0) == 0 || text.rfind("R", 0) == 0) {
        pattern.kind = TimePattern::Kind::timer;
        if (text[0] == 'R') {
            auto slash = text.find('/');
            if (slash == std::string_view::npos) return std::nullopt;
            auto count = text.substr(1, slash - 1);
            if (count.empty()) {
                pattern.runs = 0;
            } else if (count.size() == 2 && std::isdigit(static_cast<unsigned char>(count[0])) &&
                       std::isdigit(static_cast<unsigned char>(count[1]))) {
                pattern.runs = (count[0] - '0') * 10 + (count[1] - '0');
                if (pattern.runs == 0) return std::nullopt;
            } else {
                return std::nullopt;
            }
            text = text.substr(slash + 1);
            if (text.rfind("PT", 0) != 0) return std::nullopt;
        }
        auto period = parseClockDuration(text.substr(2));
        if (!period) return std::nullopt;
        // A repeating timer needs a period, or it would fire without end.
        if (pattern.runs != 1 && period->count() == 0) return std::nullopt;
        pattern.period = *period;
        return pattern;
    }
    if (text.rfind("W", 0) == 0) {
        pattern.kind = TimePattern::Kind::weekly;
        auto slash = text.find("/T");
        if (slash == std::string_view::npos || slash < 2 || slash > 4) return std::nullopt;
        unsigned mask = 0;
        for (char c : text.substr(1, slash - 1)) {
            if (c < '0' || c > '9') return std::nullopt;
            mask = mask * 10 + static_cast<unsigned>(c - '0');
        }
        auto timeOfDay = parseClockDuration(text.substr(slash + 2));
        if (mask == 0 || mask > 127 || !timeOfDay || *timeOfDay >= std::chrono::hours(24)) {
            return std::nullopt;
        }
        pattern.weekdays = mask;
        pattern.timeOfDay = *timeOfDay;
        return pattern;
    }
    auto at = parseDateTime(text, local);
    if (!at) return std::nullopt;
    pattern.kind = TimePattern::Kind::absolute;
    pattern.at = *at;
    return pattern;
}

std::chrono::seconds ScheduleTable::randomPart(const TimePattern& pattern) {
    if (pattern.randomMax.count() <= 0) return {};
    std::uniform_int_distribution<long> pick(0, static_cast<long>(pattern.randomMax.count()));
    return std::chrono::seconds(pick(random_));
}

std::optional<SimTime> ScheduleTable::nextAfter(const TimePattern& pattern, SimTime after) {
    switch (pattern.kind) {
        case TimePattern::Kind::timer:
            return after + pattern.period + randomPart(pattern);
        case TimePattern::Kind::absolute:
            if (pattern.at <= after) return std::nullopt;
            return pattern.at + randomPart(pattern);
        case TimePattern::Kind::weekly:
            for (int day = 0; day <= 7; ++day) {
                int weekday = 0;
                SimTime candidate =
                    dayTimeAfter(after, day, pattern.timeOfDay, pattern.local, &weekday);
                if (candidate > after && weekdayInMask(pattern.weekdays, weekday)) {
                    return candidate + randomPart(pattern);
                }
            }
            return std::nullopt;
    }
    return std::nullopt;
}

void ScheduleTable::start(Entry& entry, SimTime now) {
    entry.due.reset();
    if (!entry.pattern || stringOr(entry.json, "status", "enabled") != "enabled") return;
    entry.runsLeft = entry.pattern->runs;
    if (entry.pattern->kind == TimePattern::Kind::timer) entry.json["starttime"] = formatUtc(now);
    entry.due = nextAfter(*entry.pattern, now);
}

ScheduleTable::Entry* ScheduleTable::entry(const std::string& id) {
    auto it =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == id; });
    return it == entries_.end() ? nullptr : &*it;
}

const Json* ScheduleTable::find(const std::string& id) const {
    for (const auto& e : entries_) {
        if (e.id == id) return &e.json;
    }
    return nullptr;
}

std::string ScheduleTable::nextId() const {
    long highest = 0;
    for (const auto& e : entries_) {
        char* end = nullptr;
        long n = std::strtol(e.id.c_str(), &end, 10);
        if (end && *end == '\0') highest = std::max(highest, n);
    }
    return std::to_string(highest + 1);
}

std::string ScheduleTable::uniqueName(const std::string& wanted) const {
    auto taken = [&](const std::string& name) {
        return std::any_of(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return stringOr(e.json, "name", "") == name; });
    };
    if (!taken(wanted)) return wanted;
    for (int n = 1;; ++n) {
        std::string candidate = wanted + " " + std::to_string(n);
        if (!taken(candidate)) return candidate;
    }
}

bool ScheduleTable::load(const Json& schedules, SimTime now, std::string* error) {
    if (!schedules.is_object()) {
        if (error) *error = "\"schedules\" is not an object";
        return false;
    }
    std::vector<Entry> loaded;
    for (const auto& [id, json] : schedules.items()) {
        Entry e{id, json, std::nullopt, std::nullopt, 0};
        if (json.is_object()) {
            bool local = json.contains("localtime");
            auto text = json.find(local ? "localtime" : "time");
            if (text != json.end() && text->is_string()) {
                e.pattern = parseTimePattern(text->get<std::string>(), local);
            }
        }
        loaded.push_back(std::move(e));
    }
    entries_ = std::move(loaded);
    for (auto& e : entries_) start(e, now);
    return true;
}

Json ScheduleTable::list() const {
    Json result = Json::object();
    for (const auto& e : entries_) result[e.id] = e.json;
    return result;
}

Json ScheduleTable::create(const std::string& bodyText, SimTime now) {
    const std::string address = "/schedules";
    Json body = parseBody(bodyText);
    if (body.is_discarded() || !body.is_object()) return invalidJson(address);
    if (entries_.size() >= kMaxSchedules) {
        return errorList(errors::scheduleListFull, address, "Schedule list is full");
    }
    if (!body.contains("command")) return missingParameters(address);
    if (body.contains("localtime") && body.contains("time")) {
        return errorList(errors::timeAndLocalTime, address + "/localtime",
                         "cannot set time and local time");
    }
    if (!body.contains("localtime") && !body.contains("time")) return missingParameters(address);

    Json errorsFound = Json::array();
    for (const auto& [key, value] : body.items()) {
        if (auto error = checkParameter(address + "/" + key, key, value)) {
            errorsFound.push_back(*error);
        }
    }
    const bool local = body.contains("localtime");
    const std::string timeKey = local ? "localtime" : "time";
    const std::string timeText = body[timeKey].is_string() ? body[timeKey].get<std::string>() : "";
    auto pattern = parseTimePattern(timeText, local);
    if (errorsFound.empty() && pattern && pattern->kind == TimePattern::Kind::absolute &&
        pattern->at <= now) {
        errorsFound.push_back(invalidValue(address + "/" + timeKey, timeText, timeKey));
    }
    if (!errorsFound.empty()) return errorsFound;

    Entry e;
    e.id = nextId();
    e.pattern = pattern;
    Json& json = e.json;
    json = Json::object();
    json["name"] = uniqueName(body.value("name", "schedule"));
    json["description"] = body.value("description", "");
    json["command"] = normalisedCommand(body["command"]);
    if (local && pattern->kind == TimePattern::Kind::absolute) {
        json["time"] = formatUtc(pattern->at);
    } else {
        json["time"] = timeText;
    }
    if (local) json["localtime"] = timeText;
    json["created"] = formatUtc(now);
    json["status"] = body.value("status", "enabled");
    if (!pattern->recurring()) json["autodelete"] = body.value("autodelete", true);
    if (pattern->kind == TimePattern::Kind::timer) json["starttime"] = formatUtc(now);
    json["recycle"] = body.value("recycle", false);
    start(e, now);
    std::string id = e.id;
    entries_.push_back(std::move(e));
    return Json::array({Json{{"success", Json{{"id", id}}}}});
}

Json ScheduleTable::modify(const std::string& id, const std::string& bodyText, SimTime now) {
    const std::string address = "/schedules/" + id;
    Entry* e = entry(id);
    if (!e) return notAvailable(address);
    Json body = parseBody(bodyText);
    if (body.is_discarded() || !body.is_object()) return invalidJson(address);

    static const char* const kWritable[] = {"name", "description", "command",    "localtime",
                                            "time", "status",      "autodelete", "recycle"};
    Json reply = Json::array();
    bool restart = false;
    for (const auto& [key, value] : body.items()) {
        std::string keyAddress = address + "/" + key;
        if (std::find(std::begin(kWritable), std::end(kWritable), key) == std::end(kWritable)) {
            reply.push_back(parameterNotAvailable(keyAddress, key));
            continue;
        }
        if (auto error = checkParameter(keyAddress, key, value)) {
            reply.push_back(*error);
            continue;
        }
        if (key == "command") {
            e->json[key] = normalisedCommand(value);
        } else if (key == "name") {
            e->json[key] = value;
        } else if (key == "localtime" || key == "time") {
            bool local = key == "localtime";
            e->pattern = parseTimePattern(value.get<std::string>(), local);
            e->json["time"] = value;
            if (local) {
                e->json["localtime"] = value;
            } else {
                e->json.erase("localtime");
            }
            restart = true;
        } else {
            e->json[key] = value;
            if (key == "status") restart = true;
        }
        reply.push_back(successEntry(keyAddress, value));
    }
    if (restart) start(*e, now);
    return reply;
}

Json ScheduleTable::remove(const std::string& id) {
    auto it =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == id; });
    if (it == entries_.end()) return notAvailable("/schedules/" + id);
    entries_.erase(it);
    return Json::array({Json{{"success", "/schedules/" + id + " deleted."}}});
}

std::optional<SimTime> ScheduleTable::nextDue() const {
    std::optional<SimTime> next;
    for (const Entry& e : entries_)
        if (e.due && (!next || *e.due < *next)) next = e.due;
    return next;
}

void ScheduleTable::runDue(SimTime now, const Runner& run) {
    // Bounded, so that a runaway recurring timer cannot hang the simulator.
    for (int fired = 0; fired < 100000; ++fired) {
        auto next = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->due && *it->due <= now && (next == entries_.end() || *it->due < *next->due)) {
                next = it;
            }
        }
        if (next == entries_.end()) return;

        const SimTime at = *next->due;
        const Json command = next->json.contains("command") ? next->json["command"] : Json();
        const TimePattern pattern = *next->pattern;
        // Settle the schedule before its command runs: the command may itself
        // change the schedule table.
        if (!pattern.recurring()) {
            if (boolOr(next->json, "autodelete", true)) {
                entries_.erase(next);
            } else {
                next->json["status"] = "disabled";
                next->due.reset();
            }
        } else if (pattern.kind == TimePattern::Kind::timer && pattern.runs > 0 &&
                   --next->runsLeft <= 0) {
            next->json["status"] = "disabled";
            next->due.reset();
        } else {
            if (pattern.kind == TimePattern::Kind::timer) next->json["starttime"] = formatUtc(at);
            next->due = nextAfter(pattern, at);
        }
        if (validCommand(command)) {
            run(command["method"].get<std::string>(), command["address"].get<std::string>(),
                command.value("body", Json::object()), at);
        }
    }
}

}  // namespace lumora::sim
