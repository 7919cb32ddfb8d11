// The control API under /sim: JSON in, JSON out, for tests and demos.

#include <limits>
#include <vector>

#include "simulator/fixtures.h"
#include "simulator/request_body.h"
#include "simulator/server_impl.h"

namespace lumora::sim {

namespace {

constexpr long long kMaxFaultDelayMs = 10 * 60 * 1000;

// An integer from `low` (at most 0) to `high`.
bool within(const Json& value, long long low, long long high) {
    if (value.is_number_unsigned()) {
        return value.get<unsigned long long>() <= static_cast<unsigned long long>(high);
    }
    return value.is_number_integer() && value.get<long long>() >= low &&
           value.get<long long>() <= high;
}

std::vector<std::string> controlSegments(const std::string& path) {
    std::vector<std::string> segments;
    std::size_t start = 4;  // after "/sim"
    while (start < path.size()) {
        auto slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) segments.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return segments;
}

Json portJson(const PortStats& stats, bool tls) {
    Json out = Json::object();
    out["port"] = stats.port;
    out["connections"] = stats.connections;
    if (tls) {
        out["handshakes"] = stats.handshakes;
        out["failed_handshakes"] = stats.failedHandshakes;
    }
    out["open"] = stats.open;
    return out;
}

}  // namespace

Json SimServer::Impl::statsJson() const {
    const ConnectionStats stats = connectionStats();
    Json out = Json::object();
    out["model"] = toString(options.model);
    out["http"] = portJson(stats.http, false);
    out["https"] = options.model == Generation::BSB001 ? Json() : portJson(stats.https, true);
    const StreamStats stream = streams.stats();
    out["streams"] = {{"clients", stream.clients},
                      {"events", stream.events},
                      {"sent", stream.sent},
                      {"dropped", stream.dropped}};
    return out;
}

Json SimServer::Impl::certificateJson() const {
    std::lock_guard lock(portsMutex);
    Json out = Json::object();
    out["kind"] = madeKind ? toString(*madeKind) : "given";
    out["fingerprint"] =
        presented.certificatePem.empty() ? std::string() : fingerprintOf(presented.certificatePem);
    out["certificate"] = presented.certificatePem;
    out["root"] = root.certificatePem;
    return out;
}

void SimServer::Impl::handleControl(const httplib::Request& request, httplib::Response& response) {
    auto reply = [&](int status, const Json& body) {
        response.status = status;
        response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace),
                             "application/json");
    };
    auto refuse = [&](int status, const std::string& why) { reply(status, Json{{"error", why}}); };

    Json body = Json::object();
    if (!request.body.empty()) {
        body = parseBody(request.body);
        if (body.is_discarded() || !body.is_object()) {
            return refuse(400, "the body is not a JSON object");
        }
    }
    const auto segments = controlSegments(request.path);
    const std::string& method = request.method;
    const std::string what = segments.empty() ? "" : segments[0];

    if (what == "linkbutton" && segments.size() == 1 && method == "POST") {
        auto pressed = body.find("pressed");
        if (pressed == body.end() || !pressed->is_boolean()) {
            return refuse(400, "expected {\"pressed\": true|false}");
        }
        if (pressed->get<bool>()) {
            pressLinkButton();
        } else {
            releaseLinkButton();
        }
        return reply(200, Json{{"linkbutton", pressed->get<bool>()}});
    }
    if (what == "fixture" && segments.size() == 1 && method == "POST") {
        const std::string name = stringOr(body, "name", "");
        const std::string path = stringOr(body, "path", "");
        if (name.empty() == path.empty()) {
            return refuse(400, "expected {\"name\": ...} or {\"path\": ...}");
        }
        // Files only from the folder the simulator was started with: anyone
        // who reaches the port could otherwise read any JSON this process can.
        if (!path.empty() && options.fixtureDir.empty()) {
            return refuse(403, "no fixture folder was given (--fixture-dir)");
        }
        std::string error;
        bool outside = false;
        const Json fixture = name.empty()
                                 ? readFixtureIn(options.fixtureDir, path, &error, &outside)
                                 : readEmbeddedFixture(name, &error);
        if (outside) return refuse(403, error);
        if (!applyFixture(fixture, &error)) return refuse(400, error);
        return reply(200, Json{{"fixture", name.empty() ? path : name}});
    }
    if (what == "lights" && segments.size() == 2 && method == "PUT") {
        auto reachable = body.find("reachable");
        if (reachable == body.end() || !reachable->is_boolean()) {
            return refuse(400, "expected {\"reachable\": true|false}");
        }
        if (!setReachable(segments[1], reachable->get<bool>())) {
            return refuse(404, "no light " + segments[1]);
        }
        return reply(200, Json{{"id", segments[1]}, {"reachable", reachable->get<bool>()}});
    }
    if (what == "fault" && segments.size() == 1 && (method == "POST" || method == "DELETE")) {
        std::string kindName = stringOr(body, "kind", "");
        if (method == "DELETE" || kindName == "none") {
            clearFaults();
            return reply(200, Json{{"faults", "cleared"}});
        }
        auto kind = faultFromString(kindName);
        auto count = body.value("count", Json(1));
        auto delay = body.value("delay_ms", Json(0));
        // Counts that fit an int; delays up to ten minutes, so that a
        // request never waits longer than anyone would watch it.
        if (!kind ||
            !within(count, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()) ||
            !within(delay, 0, kMaxFaultDelayMs)) {
            return refuse(400,
                          "expected {\"kind\": \"delay|close|garbage|truncated|http500|http503|"
                          "http429|huge|notutf8|moved\", \"count\": N, \"delay_ms\": M}");
        }
        injectFault(*kind, count.get<int>(), std::chrono::milliseconds(delay.get<long long>()));
        return reply(200, Json{{"kind", kindName}, {"count", count}});
    }
    if (what == "clock" && segments.size() == 1 && (method == "POST" || method == "GET")) {
        if (method == "POST") {
            auto advance = body.find("advance_s");
            const double seconds =
                advance != body.end() && advance->is_number() ? advance->get<double>() : -1.0;
            // NaN fails both comparisons.
            if (!(seconds >= 0 && seconds <= static_cast<double>(kMaxClockOffset.count()))) {
                return refuse(400, "expected {\"advance_s\": seconds, up to a century}");
            }
            advanceClock(std::chrono::seconds(static_cast<long long>(seconds)));
        }
        std::lock_guard lock(mutex);
        return reply(200, Json{{"sim_time", formatUtcMillis(nowLocked())},
                               {"offset_s", clockOffset.count() / 1000}});
    }
    if (what == "log" && segments.size() == 1 && method == "GET") return reply(200, logJson());
    if (what == "log" && segments.size() == 1 && method == "DELETE") {
        clearLog();
        return reply(200, Json{{"log", "cleared"}});
    }
    if (what == "state" && segments.size() == 1 && method == "GET") return reply(200, state());
    if (what == "stats" && segments.size() == 1 && method == "GET") return reply(200, statsJson());
    if (what == "connections" && segments.size() == 1 && method == "DELETE") {
        return reply(200, Json{{"closed", closeIdle()}});
    }
    if (what == "streams" && segments.size() == 1 && method == "DELETE") {
        return reply(200, Json{{"closed", streams.dropAll()}});
    }
    if (what == "certificate" && segments.size() == 1 && method == "GET") {
        return reply(200, certificateJson());
    }
    if (what == "certificate" && segments.size() == 1 && method == "POST") {
        const auto kind = certificateKindFromString(stringOr(body, "kind", ""));
        if (!kind) {
            return refuse(400,
                          "expected {\"kind\": \"bridge|other-root|self-signed|other-bridge|"
                          "expired|signed-by-leaf\"}");
        }
        if (options.model == Generation::BSB001) return refuse(409, "a BSB001 has no HTTPS port");
        std::string error;
        if (!makeCertificate(*kind, &error)) return refuse(500, error);
        return reply(200, certificateJson());
    }
    if (what == "users" && segments.size() == 1 && method == "POST") {
        auto devicetype = body.value("devicetype", Json("lumora-sim#control"));
        if (!devicetype.is_string()) return refuse(400, "expected {\"devicetype\": text}");
        return reply(200, Json{{"username", addUser(devicetype.get<std::string>())}});
    }
    refuse(404, "no control " + method + " " + request.path);
}

}  // namespace lumora::sim
