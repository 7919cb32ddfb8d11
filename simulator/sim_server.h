#pragma once
// The simulated bridge: an HTTP server that answers the bridge's REST API v1
// under /api, serves the web discovery reply under /discovery, and offers a
// control API under /sim for tests and demos (link button, fixtures,
// reachability, faults, clock, request log, certificate, connections). Its
// HTTPS port also serves the event stream, an event for every change of state.
//
// Like the bridges in homes it comes in three generations: BSB001 serves
// plain HTTP only; BSB002 serves the same on HTTP and HTTPS; BSB003 serves
// HTTPS, and its HTTP port answers every request with a redirect to it.
//
// All direct-control methods are thread-safe and may be called before start().

#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/bridge_certificate.h"

namespace lumora::sim {

// In the whitelist of every bundled fixture; exactly 40 characters, like the
// user names the bridge issues.
inline constexpr const char* kDemoUser = "lumora-demo-user-00000000000000000000000";
static_assert(std::char_traits<char>::length(kDemoUser) == 40);

enum class Generation {
    BSB001,  // plain HTTP only
    BSB002,  // HTTP and HTTPS, both serving the API
    BSB003,  // HTTPS; plain HTTP answers 301 to the same path over HTTPS
};
const char* toString(Generation generation);  // "BSB001", ...
std::optional<Generation> generationFromString(std::string_view name);

struct ServerOptions {
    std::string bind = "127.0.0.1";
    int port = 0;       // plain HTTP; 0 = any free port
    int httpsPort = 0;  // HTTPS (not for BSB001); 0 = any free port
    Generation model = Generation::BSB002;
    // What the HTTPS port presents. When certificatePem is empty the server
    // makes a root of its own at start and, under it, a certificate of the
    // kind below for the fixture's bridge id; nothing goes to disk.
    std::string certificatePem = {};
    std::string certificateChainPem = {};  // sent after certificatePem, may be empty
    std::string privateKeyPem = {};        // certificatePem's key
    CertificateKind certificate = CertificateKind::bridge;
    std::string fixture = "demo";  // an embedded fixture's name, else a file path
    // The only folder whose files POST /sim/fixture may load; none when empty.
    std::string fixtureDir = {};
    bool linkButtonPressed = false;  // counts as pressed at start-up
};

// Misbehaviour for the next requests under /api.
enum class Fault {
    delay,            // wait, then answer normally
    closeConnection,  // close the connection without sending a byte
    garbageBody,      // HTTP 200, application/json, a body that is not JSON
    truncatedBody,    // the real reply, Content-Length of the whole, only half sent
    http500,          // HTML error page
    http503,          // HTML error page
    http429,          // HTML error page
    hugeBody,         // HTTP 200 with about 17 MiB of valid JSON
    notUtf8,          // the real reply with bytes that are not UTF-8 in a JSON string
    moved,            // 301 to the same path over https on the default port
};

// The names the control API uses: "delay", "close", "garbage", "truncated",
// "http500", "http503", "http429", "huge", "notutf8", "moved".
const char* toString(Fault kind);
std::optional<Fault> faultFromString(std::string_view name);

// The log keeps this much of each path and body: enough to tell requests
// apart, never the whole of a large one.
inline constexpr std::size_t kLogExcerptBytes = 1024;

struct LoggedRequest {
    std::string method;
    std::string path;                                // its first kLogExcerptBytes
    std::string body;                                // its first kLogExcerptBytes
    std::size_t bodySize = 0;                        // of the whole body
    std::chrono::system_clock::time_point simTime;   // simulator clock at receipt
    std::chrono::steady_clock::time_point wallTime;  // steady clock at receipt
    std::string fault;                               // toString() of the fault applied, or ""
    std::string scheme;                              // "http" or "https"
};

struct PortStats {
    int port = 0;                        // 0 when the server has no such port
    std::uint64_t connections = 0;       // accepted since start
    std::uint64_t handshakes = 0;        // TLS handshakes completed
    std::uint64_t failedHandshakes = 0;  // TLS handshakes broken off or timed out
    std::size_t open = 0;                // connections open now
};

struct ConnectionStats {
    PortStats http;
    PortStats https;
};

// The event stream (/eventstream/clip/v2 on the HTTPS port).
struct StreamStats {
    std::size_t clients = 0;    // connected now
    std::uint64_t events = 0;   // changes of state told since start
    std::uint64_t sent = 0;     // events handed to clients, replays included
    std::uint64_t dropped = 0;  // clients dropped for not reading
};

// A century: far enough for any schedule, near enough that every time the
// simulator computes stays within the clock's range.
inline constexpr std::chrono::seconds kMaxClockOffset{100LL * 365 * 24 * 3600};

class SimServer {
  public:
    // Loads options.fixture at once; a failure is reported by start().
    explicit SimServer(ServerOptions options = {});
    ~SimServer();  // stops
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Binds and listens on background threads. Returns once connections are
    // accepted (so a client may connect right away) or on failure.
    bool start(std::string* error = nullptr);
    void stop();
    bool running() const;

    int port() const;                  // the plain HTTP port; 0 before start()
    std::string address() const;       // "127.0.0.1:PORT", as the client stores a bridge address
    std::string baseUrl() const;       // "http://" + address()
    int httpsPort() const;             // 0 before start() and for BSB001
    std::string httpsAddress() const;  // "127.0.0.1:HTTPS_PORT"
    std::string httpsBaseUrl() const;  // "https://" + httpsAddress()

    Generation model() const;
    std::string bridgeId() const;  // the config's bridgeid, upper case

    // The root that signs the certificates the server makes: what a client
    // is to trust (PEM). Made at construction, whatever the port presents.
    std::string trustAnchorPem() const;
    // What the HTTPS port presents now (PEM, leaf only) and its SHA-256
    // fingerprint "AB:CD:…"; empty before start() and for BSB001.
    std::string certificatePem() const;
    std::string certificateFingerprint() const;
    // Presents another certificate from now on, made under trustAnchorPem()
    // for the bridge id, or one given; open connections keep theirs.
    bool presentCertificate(CertificateKind kind, std::string* error = nullptr);
    bool presentCertificate(const std::string& certificatePem, const std::string& privateKeyPem,
                            const std::string& chainPem = {}, std::string* error = nullptr);

    ConnectionStats connectionStats() const;
    // Closes every connection, on both ports, that waits for its next
    // request; returns how many.
    std::size_t closeIdleConnections();
    StreamStats streamStats() const;
    // Ends every event stream connection; returns how many.
    std::size_t dropStreams();

    void pressLinkButton();  // pairing is open for 30 s of simulator time
    void releaseLinkButton();
    // Replaces lights, groups, scenes, schedules and config (whitelist included).
    // Link button, faults, clock and log are kept. On failure nothing changes.
    bool loadFixture(const std::string& nameOrPath, std::string* error = nullptr);
    bool loadFixtureJson(const nlohmann::ordered_json& fixture, std::string* error = nullptr);
    bool setReachable(const std::string& lightId, bool reachable);  // false: no such light
    // Queues a fault for the next `count` /api requests (after any queued
    // before). `delay` is waited before every kind, not only Fault::delay.
    // count <= 0 clears every queued fault.
    void injectFault(Fault kind, int count = 1, std::chrono::milliseconds delay = {});
    void clearFaults();

    // Simulator clock: real time plus the sum of all advances.
    std::chrono::system_clock::time_point now() const;
    // Runs every schedule that falls due. The clock goes at most
    // kMaxClockOffset ahead of real time, whatever the advances add up to.
    void advanceClock(std::chrono::seconds by);

    // Whitelists a fresh random 40-character user name and returns it.
    std::string addUser(const std::string& devicetype);

    std::vector<LoggedRequest> requestLog() const;  // oldest first, the last 10,000
    void clearLog();  // and gives the memory it held back to the system

    // {"config","lights","groups","scenes" (with lightstates),"schedules",
    //  "sensors","rules","resourcelinks","linkbutton","sim_time"}
    nlohmann::ordered_json state() const;

    // Answers one bridge API request in-process, as if it came over HTTP
    // (path such as "/api/<user>/lights"); not logged, no faults.
    nlohmann::ordered_json call(const std::string& method, const std::string& path,
                                const std::string& body = {});

    struct Reply {
        int status = 0;
        std::string contentType;
        std::string body;  // as much as would be sent
    };
    // Any request as the HTTP server hands it on, without a socket: the
    // bridge API, discovery and the control API, logged, and faults applied.
    // `path` is decoded and holds no query. For fuzzing and tools.
    Reply handle(const std::string& method, const std::string& path, const std::string& body = {});

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumora::sim
