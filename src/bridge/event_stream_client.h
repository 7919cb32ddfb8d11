#pragma once
// Reads the bridge's event stream on a thread of its own (never a pool
// worker: the request lasts for hours), reconnecting with a growing wait and
// the last event id after any failure.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "bridge/event_stream.h"
#include "bridge/http.h"

namespace lumora {

struct EventStreamTarget {
    std::string url;             // https://HOST[:PORT]/eventstream/clip/v2
    std::string applicationKey;  // the bridge user name
    std::optional<TlsIdentity> tls;
};

class EventStreamClient {
  public:
    struct Callbacks {
        // Both run on the reader's thread.
        std::function<void(const StreamEventMeaning&)> onEvent;
        // true once the stream delivers, false when it is lost.
        std::function<void(bool live)> onHealth;
        std::function<void(const std::string&)> log;
    };
    struct Timing {
        // Up to the end of the reply's headers.
        std::chrono::milliseconds connectTimeout{10000};
        // The bridge sends no heartbeat: a long silence is normal.
        std::chrono::milliseconds idleTimeout{90000};
        std::size_t maxEventBytes = 1u << 20;
        // The wait before attempt n+1 after n failures in a row.
        std::function<std::chrono::milliseconds(int failures)> backoff = defaultBackoff;
    };

    // min(2·n, 600) seconds.
    static std::chrono::milliseconds defaultBackoff(int failures);

    EventStreamClient(EventStreamTarget target, Callbacks callbacks, Timing timing);
    EventStreamClient(EventStreamTarget target, Callbacks callbacks)
        : EventStreamClient(std::move(target), std::move(callbacks), Timing{}) {}
    // Cancels the request in flight and joins the thread.
    ~EventStreamClient();
    EventStreamClient(const EventStreamClient&) = delete;
    EventStreamClient& operator=(const EventStreamClient&) = delete;

    std::string lastEventId() const;
    int connections() const;  // attempts made so far

  private:
    void run();
    // One connection, until it fails; true if it delivered anything.
    bool readOnce();

    EventStreamTarget target_;
    Callbacks callbacks_;
    Timing timing_;
    HttpCancel cancel_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::string lastId_;
    int connections_ = 0;
    std::thread thread_;
};

}  // namespace lumora
