// Any bytes as one request to the simulated bridge: the first line is
// "METHOD PATH", the rest the body. Every request is answered, and the bridge
// and control APIs answer with JSON.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "simulator/fixtures.h"
#include "simulator/sim_server.h"

namespace {

// A few of the demo home's lights, groups and scenes, and its schedules:
// loaded before every input, so it must be small.
nlohmann::ordered_json smallHome() {
    nlohmann::ordered_json home = lumora::sim::readFixture("demo", nullptr);
    for (const char* table : {"lights", "groups", "scenes"}) {
        auto& entries = home[table];
        while (entries.size() > 4) entries.erase(std::prev(entries.end()).key());
    }
    return home;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Not started: requests reach it only through handle().
    static lumora::sim::SimServer server;
    static const nlohmann::ordered_json home = smallHome();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    std::string_view line = input.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t space = line.find(' ');
    const std::string method(line.substr(0, space));
    const std::string path(space == std::string_view::npos ? "" : line.substr(space + 1));
    const std::string body(newline == std::string_view::npos ? "" : input.substr(newline + 1));

    // Each input starts from the same home, and leaves no fault queued nor
    // anything logged: the next input must not wait, and what one input
    // allocates it frees (else each would be searched for leaks).
    server.loadFixtureJson(home);
    const auto reply = server.handle(method, path, body);
    server.clearFaults();
    server.clearLog();

    const bool api = path == "/api" || path.rfind("/api/", 0) == 0;
    const bool control = path == "/sim" || path.rfind("/sim/", 0) == 0;
    if (reply.status < 100 || reply.status > 599) std::abort();
    if ((api || control) &&
        (reply.contentType != "application/json" || !nlohmann::json::accept(reply.body))) {
        std::abort();
    }
    if (api && reply.status != 200) std::abort();
    return 0;
}
