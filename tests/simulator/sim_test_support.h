#pragma once
// Shared helpers for the simulator's tests: a server on an ephemeral loopback
// port, a small fixture of our own, and a raw HTTP client that shows exactly
// the bytes the server sends.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "simulator/sim_server.h"

namespace lumora::sim::test {

using Json = nlohmann::ordered_json;

// Lights: 1 extended colour (on, ct range 153-500), 2 colour temperature (on,
// 153-454), 3 colour (off), 4 dimmable (off), 5 on/off plug (off),
// 6 extended colour, unreachable and on. Groups: 1 Room "Lounge" [1,2,3],
// 2 Room "Den" [4,5], 3 empty Zone, 4 LightGroup [1,6]. Scenes: "sceneLounge"
// (version 2, group 1), "sceneMixed" (version 2, lights 1 and 4), "legacy"
// (version 1, light 2, no stored states).
// Read from small_fixture.json beside the tests.
Json smallFixture();

// Writes JSON to a fresh temporary file; removed when the object goes.
class TempFile {
  public:
    explicit TempFile(const std::string& content);
    ~TempFile();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

struct RawReply {
    bool connected = false;
    std::string bytes;  // everything received until the server closed
    int status = 0;
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;
};

// A request's bytes; `headers` are extra lines, each ending in CRLF.
std::string requestBytes(const std::string& method, const std::string& path,
                         const std::string& body = {}, const std::string& headers = {});
// A socket connected to the loopback port, or -1; with a receive buffer of
// that many bytes when `receiveBuffer` is not 0.
int connectLoopback(int port, int receiveBuffer = 0);
bool sendAll(int fd, const std::string& bytes);
// Reads the status line and headers of `bytes` into `reply`; the offset of
// the body, or npos while the head is incomplete.
std::size_t parseHead(const std::string& bytes, RawReply& reply);
// Takes the next whole reply (Content-Length framed) off the front of
// `pending`, calling `receiveMore` while it is incomplete; status 0 when
// that gives up first.
RawReply takeReply(std::string& pending, const std::function<bool()>& receiveMore);

// Sends one request with "Connection: close" and reads until the server
// closes or `timeout` passes.
RawReply rawRequest(int port, const std::string& method, const std::string& path,
                    const std::string& body = {},
                    std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Segments with data this TCP socket has received so far, -1 when the
// kernel does not tell.
long dataSegmentsIn(int fd);

// A started server with the small fixture (or another), and JSON helpers
// over loopback HTTP.
class SimServerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Restarts with another fixture name or file.
    void useFixture(const std::string& nameOrPath);

    Json get(const std::string& path);
    Json put(const std::string& path, const std::string& body);
    Json post(const std::string& path, const std::string& body);
    Json del(const std::string& path);
    static std::string api(const std::string& rest) {
        return "/api/" + std::string(kDemoUser) + rest;
    }
    Json light(const std::string& id) { return get(api("/lights/" + id)); }
    Json lightState(const std::string& id) { return light(id)["state"]; }
    Json group(const std::string& id) { return get(api("/groups/" + id)); }

    std::unique_ptr<SimServer> server_;

  private:
    Json send(const std::string& method, const std::string& path, const std::string& body);
};

// The one success value of a reply entry, keyed by its address.
Json successValue(const Json& entry, const std::string& address);

}  // namespace lumora::sim::test
