#pragma once
// Inside of SimServer, shared by its operations (sim_server.cpp), its
// listening ports (server_ports.cpp), the HTTP side (request_routing.cpp) and
// the control API (control_api.cpp).

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "simulator/bridge_model.h"
#include "simulator/event_streams.h"
#include "simulator/http_transport.h"
#include "simulator/sim_server.h"

namespace lumora::sim {

struct PendingFault {
    Fault kind;
    int remaining;
    std::chrono::milliseconds delay;
};

// One listening port: its server and the thread of its accept loop.
struct Listener {
    std::unique_ptr<SimHttpServer> http;
    std::thread thread;
    std::atomic<bool> ended{false};  // its accept loop has returned
    std::atomic<int> port{0};

    PortStats stats() const;
};

struct SimServer::Impl {
    explicit Impl(ServerOptions options);

    // Everything below `mutex` is guarded by it.
    SimTime nowLocked() const { return SimClock::now() + clockOffset; }

    // The operations offered both as methods and through the control API.
    void pressLinkButton();
    void releaseLinkButton();
    bool loadFixture(const std::string& nameOrPath, std::string* error);
    bool applyFixture(const Json& fixture, std::string* error);
    bool setReachable(const std::string& lightId, bool reachable);
    void injectFault(Fault kind, int count, std::chrono::milliseconds delay);
    void clearFaults();
    void advanceClock(std::chrono::seconds by);
    std::string addUser(const std::string& devicetype);
    Json logJson() const;
    void clearLog();
    Json state() const;
    ConnectionStats connectionStats() const;
    std::size_t closeIdle();
    Json statsJson() const;
    Json certificateJson() const;

    void serve(const httplib::Request& request, httplib::Response& response,
               const char* scheme = "http");
    // A BSB003's plain HTTP port: every request is sent to HTTPS.
    void redirect(const httplib::Request& request, httplib::Response& response);
    void logRequest(const httplib::Request& request, const char* scheme, const char* fault);
    void handleControl(const httplib::Request& request, httplib::Response& response);
    // GET /eventstream/clip/v2: refused, or held open while events are written.
    void serveEventStream(const httplib::Request& request, httplib::Response& response,
                          const char* scheme);
    // Waits up to `duration`; returns early (false) once the server stops.
    bool sleepUnlessStopping(std::chrono::milliseconds duration);
    // The schedule ticker's wait: until `duration` has passed, the server
    // stops, or a request may have changed the schedules.
    bool waitForTick(std::chrono::milliseconds duration);
    void wakeTicker();
    std::string hostForClients() const;
    std::string bracketedHost() const;  // an IPv6 address in brackets
    // The port named in discovery: the one that serves the API over plain
    // HTTP, or the HTTPS one on a BSB003.
    int advertisedPort() const;

    // Makes the certificate of `kind` for the current bridge id and presents
    // it when the HTTPS port is open. Takes portsMutex.
    bool makeCertificate(CertificateKind kind, std::string* error);
    bool present(const TlsIdentity& identity, std::string* error);
    // A fixture with another bridge id gets a certificate for it, when the
    // server makes its own.
    void followBridgeId();

    const ServerOptions options;
    std::string loadError;

    // The model tells it of every change, under `mutex`.
    EventStreams streams;

    mutable std::mutex mutex;
    BridgeModel model;
    std::chrono::milliseconds clockOffset{0};
    std::deque<PendingFault> faults;
    std::deque<LoggedRequest> log;
    std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();

    Listener plain;
    Listener secure;  // not for BSB001
    std::atomic<bool> started{false};
    std::thread ticker;

    // Guards both listeners' `http` once started, and what follows.
    mutable std::mutex portsMutex;
    Certificate root;                         // made at construction
    TlsIdentity presented;                    // empty until start() or a swap
    std::optional<CertificateKind> madeKind;  // none when the certificate was given
    std::string certifiedId;                  // the bridge id the made certificate names
    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;
    bool rescan = false;
};

}  // namespace lumora::sim
