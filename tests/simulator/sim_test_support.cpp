#include "sim_test_support.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace lumora::sim::test {

namespace {

Json ctRange(int min, int max) {
    return Json{{"control", Json{{"ct", Json{{"min", min}, {"max", max}}}}}};
}

}  // namespace

Json smallFixture() {
    Json lights = Json::object();
    lights["1"] = {{"state",
                    {{"on", true},
                     {"bri", 100},
                     {"hue", 1000},
                     {"sat", 100},
                     {"effect", "none"},
                     {"xy", {0.3, 0.3}},
                     {"ct", 300},
                     {"alert", "none"},
                     {"colormode", "ct"},
                     {"reachable", true}}},
                   {"type", "Extended color light"},
                   {"name", "Ceiling"},
                   {"capabilities", ctRange(153, 500)}};
    lights["2"] = {{"state",
                    {{"on", true},
                     {"bri", 100},
                     {"ct", 300},
                     {"alert", "none"},
                     {"colormode", "ct"},
                     {"reachable", true}}},
                   {"type", "Color temperature light"},
                   {"name", "Spot"},
                   {"capabilities", ctRange(153, 454)}};
    lights["3"] = {{"state",
                    {{"on", false},
                     {"bri", 50},
                     {"hue", 2000},
                     {"sat", 200},
                     {"effect", "none"},
                     {"xy", {0.5, 0.4}},
                     {"alert", "none"},
                     {"colormode", "xy"},
                     {"reachable", true}}},
                   {"type", "Color light"},
                   {"name", "Strip"}};
    lights["4"] = {{"state", {{"on", false}, {"bri", 80}, {"alert", "none"}, {"reachable", true}}},
                   {"type", "Dimmable light"},
                   {"name", "Lamp"}};
    lights["5"] = {{"state", {{"on", false}, {"alert", "none"}, {"reachable", true}}},
                   {"type", "On/Off plug-in unit"},
                   {"name", "Plug"}};
    lights["6"] = {{"state",
                    {{"on", true},
                     {"bri", 10},
                     {"hue", 0},
                     {"sat", 0},
                     {"effect", "none"},
                     {"xy", {0.3, 0.3}},
                     {"ct", 153},
                     {"alert", "none"},
                     {"colormode", "hs"},
                     {"reachable", false}}},
                   {"type", "Extended color light"},
                   {"name", "Porch"},
                   {"capabilities", ctRange(153, 500)}};

    auto group = [](const char* name, Json members, const char* type) {
        Json g = {{"name", name},
                  {"lights", std::move(members)},
                  {"sensors", Json::array()},
                  {"type", type},
                  {"state", {{"all_on", false}, {"any_on", false}}},
                  {"recycle", false}};
        g["action"] = {
            {"on", false}, {"bri", 1}, {"ct", 200}, {"alert", "none"}, {"colormode", "ct"}};
        return g;
    };
    Json groups = Json::object();
    groups["1"] = group("Lounge", Json::array({"1", "2", "3"}), "Room");
    groups["2"] = group("Den", Json::array({"4", "5"}), "Room");
    groups["2"]["action"] = {{"on", false}, {"bri", 80}, {"alert", "none"}};
    groups["3"] = group("Empty", Json::array(), "Zone");
    groups["4"] = group("Pair", Json::array({"1", "6"}), "LightGroup");

    Json scenes = Json::object();
    scenes["sceneLounge"] = {{"name", "Evening"},
                             {"type", "GroupScene"},
                             {"group", "1"},
                             {"lights", {"1", "2", "3"}},
                             {"recycle", false},
                             {"version", 2},
                             {"lightstates",
                              {{"1", {{"on", true}, {"bri", 200}, {"xy", {0.2, 0.3}}}},
                               {"2", {{"on", true}, {"bri", 150}, {"ct", 250}}},
                               {"3", {{"on", true}, {"bri", 30}, {"xy", {0.6, 0.3}}}}}}};
    scenes["sceneMixed"] = {
        {"name", "Mixed"},
        {"type", "LightScene"},
        {"lights", Json::array({"1", "4"})},
        {"recycle", false},
        {"version", 2},
        {"lightstates", {{"1", {{"on", false}}}, {"4", {{"on", true}, {"bri", 10}}}}}};
    scenes["legacy"] = {{"name", "Tap"},
                        {"type", "LightScene"},
                        {"lights", Json::array({"2"})},
                        {"recycle", true},
                        {"version", 1}};

    Json config = {{"name", "Test bridge"},      {"bridgeid", "001788FFFE0A0B0C"},
                   {"mac", "00:17:88:0a:0b:0c"}, {"modelid", "BSB002"},
                   {"apiversion", "1.62.0"},     {"swversion", "1962097030"}};
    config["whitelist"] = {{kDemoUser, {{"name", "tests#here"}}}};
    return {{"config", config}, {"lights", lights}, {"groups", groups}, {"scenes", scenes}};
}

TempFile::TempFile(const std::string& content) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/lumora-sim-test-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot create a temporary file");
    ::close(fd);
    path_ = pattern;
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
}

TempFile::~TempFile() {
    std::remove(path_.c_str());
}

RawReply rawRequest(int port, const std::string& method, const std::string& path,
                    const std::string& body, std::chrono::milliseconds timeout) {
    RawReply reply;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return reply;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return reply;
    }
    reply.connected = true;
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                          "Connection: close\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + body;
    for (std::size_t sent = 0; sent < request.size();) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[1 << 16];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);

    auto headerEnd = reply.bytes.find("\r\n\r\n");
    if (headerEnd == std::string::npos) return reply;
    std::string head = reply.bytes.substr(0, headerEnd);
    reply.body = reply.bytes.substr(headerEnd + 4);
    std::sscanf(head.c_str(), "HTTP/1.%*d %d", &reply.status);
    for (std::size_t line = head.find("\r\n"); line != std::string::npos;) {
        std::size_t next = head.find("\r\n", line + 2);
        std::string text =
            head.substr(line + 2, next == std::string::npos ? std::string::npos : next - line - 2);
        if (auto colon = text.find(':'); colon != std::string::npos) {
            std::string name = text.substr(0, colon);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            std::string value = text.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            reply.headers[name] = value;
        }
        line = next;
    }
    return reply;
}

bool isValidUtf8(const std::string& bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto c = static_cast<unsigned char>(bytes[i]);
        std::size_t extra = c < 0x80           ? 0
                            : (c >> 5) == 0x6  ? 1
                            : (c >> 4) == 0xE  ? 2
                            : (c >> 3) == 0x1E ? 3
                                               : 99;
        if (extra == 99 || i + extra >= bytes.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) >> 6) != 0x2) return false;
        }
        i += extra + 1;
    }
    return true;
}

void SimServerTest::SetUp() {
    useFixture({});
}

void SimServerTest::TearDown() {
    if (server_) server_->stop();
}

void SimServerTest::useFixture(const std::string& nameOrPath) {
    if (server_) server_->stop();
    ServerOptions options;
    if (nameOrPath.empty()) {
        fixtureFile_ = std::make_unique<TempFile>(smallFixture().dump());
        options.fixture = fixtureFile_->path();
    } else {
        options.fixture = nameOrPath;
    }
    server_ = std::make_unique<SimServer>(options);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
}

Json SimServerTest::send(const std::string& method, const std::string& path,
                         const std::string& body) {
    httplib::Client client("127.0.0.1", server_->port());
    client.set_read_timeout(5, 0);
    httplib::Result result = method == "GET"    ? client.Get(path)
                             : method == "PUT"  ? client.Put(path, body, "application/json")
                             : method == "POST" ? client.Post(path, body, "application/json")
                                                : client.Delete(path);
    if (!result) {
        ADD_FAILURE() << method << " " << path << ": " << httplib::to_string(result.error());
        return Json();
    }
    // The bridge answers errors in the body: always 200 and JSON.
    EXPECT_EQ(result->status, 200) << method << " " << path;
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
    Json reply = Json::parse(result->body, nullptr, false);
    EXPECT_FALSE(reply.is_discarded()) << result->body;
    return reply;
}

Json SimServerTest::get(const std::string& path) {
    return send("GET", path, {});
}
Json SimServerTest::put(const std::string& path, const std::string& body) {
    return send("PUT", path, body);
}
Json SimServerTest::post(const std::string& path, const std::string& body) {
    return send("POST", path, body);
}
Json SimServerTest::del(const std::string& path) {
    return send("DELETE", path, {});
}

Json successValue(const Json& entry, const std::string& address) {
    if (!entry.is_object() || !entry.contains("success") || !entry["success"].contains(address)) {
        ADD_FAILURE() << "no success for " << address << " in " << entry.dump();
        return Json();
    }
    return entry["success"][address];
}

}  // namespace lumora::sim::test
