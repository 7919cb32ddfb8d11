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
#include <thread>

#include "simulator/sim_server.h"

namespace lumora::sim {
// http_transport.h brings httplib.h, whose tcp_info clashes with the kernel's
// that tcp_segments.cpp needs: the transport is only named here.
class SimHttpServer;
struct TransportLimits;
struct TlsIdentity;
}  // namespace lumora::sim

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
// Reads the status line and headers of `bytes` into `reply`; the offset of
// the body, or npos while the head is incomplete.
std::size_t parseHead(const std::string& bytes, RawReply& reply);

// Sends `bytes` on a connection of its own and reads until the server closes
// it or `timeout` passes.
RawReply exchange(int port, const std::string& bytes,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5));
// One request with "Connection: close", through exchange().
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

    Json get(const std::string& path) { return send("GET", path, {}); }
    Json put(const std::string& path, const std::string& body) { return send("PUT", path, body); }
    Json post(const std::string& path, const std::string& body) { return send("POST", path, body); }
    Json del(const std::string& path) { return send("DELETE", path, {}); }
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

// A started server of that generation with the small fixture.
std::unique_ptr<SimServer> startServer(Generation model);

// The transport on its own on a loopback port, with a handler at "/" that
// only says "ok"; `routes` adds handlers before it listens, `tls` makes it
// speak HTTPS. TearDown checks that stopping is prompt.
class TransportTest : public ::testing::Test {
  protected:
    TransportTest();
    ~TransportTest() override;
    void start(const TransportLimits& limits,
               const std::function<void(SimHttpServer&)>& routes = {},
               const TlsIdentity* tls = nullptr);
    void TearDown() override;

    std::unique_ptr<SimHttpServer> http_;
    std::thread listener_;
    int port_ = 0;
};

// The one success value of a reply entry, keyed by its address.
Json successValue(const Json& entry, const std::string& address);

}  // namespace lumora::sim::test
