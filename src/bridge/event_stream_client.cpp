#include "bridge/event_stream_client.h"

#include <algorithm>
#include <utility>

namespace lumora {

std::chrono::milliseconds EventStreamClient::defaultBackoff(int failures) {
    return std::chrono::seconds(std::min(2 * std::max(failures, 1), 600));
}

EventStreamClient::EventStreamClient(EventStreamTarget target, Callbacks callbacks, Timing timing)
    : target_(std::move(target)), callbacks_(std::move(callbacks)), timing_(std::move(timing)) {
    thread_ = std::thread([this] { run(); });
}

EventStreamClient::~EventStreamClient() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    cancel_.cancel();
    wake_.notify_all();
    thread_.join();
}

std::string EventStreamClient::lastEventId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastId_;
}

int EventStreamClient::connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

void EventStreamClient::run() {
    int failures = 0;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            ++connections_;
        }
        const bool delivered = readOnce();
        // A stream that delivered and then ended starts the count again.
        failures = delivered ? 1 : failures + 1;
        if (callbacks_.onHealth) callbacks_.onHealth(false);
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, timing_.backoff(failures), [this] { return stopping_; })) return;
    }
}

bool EventStreamClient::readOnce() {
    HttpRequest request;
    request.url = target_.url;
    request.tls = target_.tls;
    request.timeout = timing_.connectTimeout;
    request.headers = {{"hue-application-key", target_.applicationKey},
                       {"Accept", "text/event-stream"}};
    EventStreamParser parser(timing_.maxEventBytes);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!lastId_.empty()) request.headers.emplace_back("Last-Event-ID", lastId_);
    }
    bool delivered = false;
    std::size_t droppedSeen = 0;
    const auto onEvent = [&](const ServerSentEvent& event) {
        StreamEventMeaning meaning = readStreamEvent(event.data);
        if (!meaning.readable) {
            if (callbacks_.log)
                callbacks_.log("Event stream: an event that cannot be read was dropped");
            return;
        }
        if (callbacks_.onEvent) callbacks_.onEvent(meaning);
    };
    HttpStreamOptions options;
    options.idleTimeout = timing_.idleTimeout;
    options.cancel = &cancel_;
    const HttpResponse response = httpStream(
        request,
        [&](std::string_view piece) {
            if (!delivered) {
                delivered = true;
                if (callbacks_.onHealth) callbacks_.onHealth(true);
            }
            parser.feed(piece, onEvent);
            if (parser.dropped() != droppedSeen) {
                droppedSeen = parser.dropped();
                if (callbacks_.log)
                    callbacks_.log("Event stream: an event larger than " +
                                   std::to_string(timing_.maxEventBytes) + " bytes was dropped");
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                lastId_ = parser.lastEventId().empty() ? lastId_ : parser.lastEventId();
                return !stopping_;
            }
        },
        options);
    if (callbacks_.log) {
        if (response.error == HttpError::cancelled) {
            // Stopping: nothing to say.
        } else if (!response.ok()) {
            callbacks_.log(std::string("Event stream lost: ") + toString(response.error));
        } else if (response.status < 200 || response.status > 299) {
            callbacks_.log("Event stream refused: HTTP " + std::to_string(response.status));
        } else {
            callbacks_.log("Event stream ended by the bridge");
        }
    }
    return delivered;
}

}  // namespace lumora
