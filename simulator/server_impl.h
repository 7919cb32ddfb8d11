#pragma once
// Inside of SimServer, shared by the HTTP side (sim_server.cpp) and the
// control API (control_api.cpp).

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "simulator/bridge_model.h"
#include "simulator/http_transport.h"
#include "simulator/sim_server.h"

namespace lumora::sim {

struct PendingFault {
    Fault kind;
    int remaining;
    std::chrono::milliseconds delay;
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

    void serve(const httplib::Request& request, httplib::Response& response);
    void handleControl(const httplib::Request& request, httplib::Response& response);
    // Waits up to `duration`; returns early (false) once the server stops.
    bool sleepUnlessStopping(std::chrono::milliseconds duration);
    // The schedule ticker's wait: until `duration` has passed, the server
    // stops, or a request may have changed the schedules.
    bool waitForTick(std::chrono::milliseconds duration);
    void wakeTicker();
    std::string hostForClients() const;

    const ServerOptions options;
    std::string loadError;

    mutable std::mutex mutex;
    BridgeModel model;
    std::chrono::milliseconds clockOffset{0};
    std::deque<PendingFault> faults;
    std::deque<LoggedRequest> log;
    std::chrono::steady_clock::time_point startedAt = std::chrono::steady_clock::now();

    std::unique_ptr<SimHttpServer> http;
    std::thread listener;
    std::atomic<bool> listenerEnded{false};  // its accept loop has returned
    std::thread ticker;
    std::atomic<int> port{0};
    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;
    bool rescan = false;
};

}  // namespace lumora::sim
