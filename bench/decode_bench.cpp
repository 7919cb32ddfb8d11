// Decoding a large generated bridge (200 lights, 60 groups, 500 scenes),
// next to the time of parsing the same bytes alone.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <random>

#include "bridge/decode.h"

namespace {

using nlohmann::ordered_json;

const char* kTypes[] = {"Extended color light", "Color light", "Color temperature light",
                        "Dimmable light", "On/Off plug-in unit"};

std::string lightsReply() {
    std::mt19937 rng(7);
    ordered_json j = ordered_json::object();
    for (int i = 1; i <= 200; ++i) {
        const char* type = kTypes[i % 5];
        ordered_json state = {{"on", i % 2 == 0},
                              {"bri", static_cast<int>(rng() % 254) + 1},
                              {"hue", static_cast<int>(rng() % 65535)},
                              {"sat", static_cast<int>(rng() % 254)},
                              {"effect", "none"},
                              {"xy", {0.4046, 0.3915}},
                              {"ct", 153 + static_cast<int>(rng() % 347)},
                              {"alert", "select"},
                              {"colormode", i % 3 == 0 ? "ct" : "xy"},
                              {"mode", "homeautomation"},
                              {"reachable", i % 17 != 0}};
        j[std::to_string(i)] = {
            {"state", state},
            {"swupdate", {{"state", "noupdates"}, {"lastinstall", "2018-12-20T19:45:44"}}},
            {"type", type},
            {"name", "Light " + std::to_string(i)},
            {"modelid", "LCT015"},
            {"manufacturername", "Signify Netherlands B.V."},
            {"productname", "Hue color lamp"},
            {"capabilities",
             {{"certified", true},
              {"control",
               {{"mindimlevel", 1000},
                {"maxlumen", 806},
                {"colorgamuttype", "C"},
                {"colorgamut", {{0.6915, 0.3083}, {0.17, 0.7}, {0.1532, 0.0475}}},
                {"ct", {{"min", 153}, {"max", 500}}}}},
              {"streaming", {{"renderer", true}, {"proxy", true}}}}},
            {"config",
             {{"archetype", "sultanbulb"},
              {"function", "mixed"},
              {"direction", "omnidirectional"}}},
            {"uniqueid", "00:17:88:01:04:00:00:" + std::to_string(10 + i % 90) + "-0b"},
            {"swversion", "1.50.2_r30933"}};
    }
    return j.dump();
}

std::string groupsReply() {
    ordered_json j = ordered_json::object();
    const char* types[] = {"Room", "Zone", "LightGroup", "Entertainment"};
    for (int i = 1; i <= 60; ++i) {
        ordered_json lights = ordered_json::array();
        for (int k = 0; k < 4; ++k) lights.push_back(std::to_string((i * 3 + k) % 200 + 1));
        j[std::to_string(i)] = {{"name", "Group " + std::to_string(61 - i)},
                                {"lights", lights},
                                {"sensors", ordered_json::array()},
                                {"type", types[i % 4]},
                                {"state", {{"all_on", false}, {"any_on", i % 2 == 0}}},
                                {"recycle", false},
                                {"class", "Living room"},
                                {"action",
                                 {{"on", true},
                                  {"bri", 200},
                                  {"hue", 8000},
                                  {"sat", 120},
                                  {"effect", "none"},
                                  {"xy", {0.45, 0.41}},
                                  {"ct", 366},
                                  {"alert", "none"},
                                  {"colormode", "ct"}}}};
    }
    return j.dump();
}

std::string scenesReply() {
    ordered_json j = ordered_json::object();
    for (int i = 1; i <= 500; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "Sc%013d", i);
        j[id] = {{"name", "Scene " + std::to_string(i)},
                 {"type", "GroupScene"},
                 {"group", std::to_string(i % 60 + 1)},
                 {"lights", {"1", "2", "3"}},
                 {"owner", "XpfmU-zBwUyGrDq7VW-5muXVmTkn1aZpe4x2Ef-j"},
                 {"recycle", i % 10 == 0},
                 {"locked", false},
                 {"appdata", {{"version", 1}, {"data", "0Vunz_r01_d07"}}},
                 {"picture", ""},
                 {"lastupdated", "2017-12-16T19:34:03"},
                 {"version", i % 25 == 0 ? 1 : 2}};
    }
    return j.dump();
}

const std::string& reply(int which) {
    static const std::string replies[] = {lightsReply(), groupsReply(), scenesReply()};
    return replies[which];
}

void BM_ParseOnly(benchmark::State& state) {
    const std::string& body = reply(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(ordered_json::parse(body));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_Decode(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const std::string& body = reply(which);
    for (auto _ : state) {
        if (which == 0) benchmark::DoNotOptimize(lumora::decodeLights(body, "192.168.1.2", "user"));
        if (which == 1) benchmark::DoNotOptimize(lumora::decodeGroups(body, "192.168.1.2", "user"));
        if (which == 2) benchmark::DoNotOptimize(lumora::decodeScenes(body, "192.168.1.2", "user"));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

}  // namespace

// Argument: 0 = 200 lights, 1 = 60 groups, 2 = 500 scenes.
BENCHMARK(BM_ParseOnly)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
