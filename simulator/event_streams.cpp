#include "simulator/event_streams.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

namespace lumora::sim {

struct EventStreams::Client {
    explicit Client(int sock) : socket(sock), wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Client() {
        if (wake >= 0) ::close(wake);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void signal() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake, &one, sizeof one);
    }

    const int socket;  // the connection's; open while the client is subscribed
    const int wake;
    std::string queued;
    std::size_t queuedEvents = 0;
    bool ended = false;
};

EventStreams::EventStreams(StreamLimits limits) : limits_(limits) {}

EventStreams::~EventStreams() = default;

void EventStreams::publish(const Json& containers) {
    std::lock_guard lock(mutex_);
    const std::uint64_t id = nextId_++;
    std::string text = "id: " + std::to_string(id) + "\ndata: " +
                       containers.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n\n";
    ++published_;
    for (const auto& client : clients_) queue(*client, text, 1);
    history_.emplace_back(id, std::move(text));
    while (history_.size() > limits_.history) history_.pop_front();
}

void EventStreams::queue(Client& client, const std::string& text, std::size_t events) {
    if (client.ended) return;
    if (client.queued.size() + text.size() > limits_.maxQueuedBytes) {
        // It does not read: let it go rather than hold more for it. The
        // socket is shut so that a write waiting for room gives up at once.
        client.ended = true;
        client.queued = std::string();
        client.queuedEvents = 0;
        ++dropped_;
        ::shutdown(client.socket, SHUT_RDWR);
    } else {
        client.queued += text;
        client.queuedEvents += events;
    }
    client.signal();
}

std::shared_ptr<EventStreams::Client> EventStreams::subscribe(int socket,
                                                              const std::string& lastEventId) {
    std::lock_guard lock(mutex_);
    if (clients_.size() >= limits_.maxClients) return nullptr;
    auto client = std::make_shared<Client>(socket);
    std::uint64_t last = 0;
    const char* begin = lastEventId.data();
    const char* end = begin + lastEventId.size();
    const auto [at, error] = std::from_chars(begin, end, last);
    // Replays only when nothing after `last` has been forgotten; an id from
    // the future (another run) is as unknown as a malformed one.
    if (!lastEventId.empty() && error == std::errc() && at == end && last < nextId_ &&
        (history_.empty() || last + 1 >= history_.front().first)) {
        for (const auto& [id, text] : history_) {
            if (id > last) queue(*client, text, 1);
        }
    }
    clients_.push_back(client);
    return client;
}

void EventStreams::unsubscribe(const std::shared_ptr<Client>& client) {
    std::lock_guard lock(mutex_);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

bool EventStreams::take(Client& client, std::string& out) {
    std::lock_guard lock(mutex_);
    out.clear();
    if (client.ended) return false;
    out.swap(client.queued);
    sent_ += client.queuedEvents;
    client.queuedEvents = 0;
    return true;
}

int EventStreams::wakeFd(const Client& client) {
    return client.wake;
}

std::size_t EventStreams::dropAll() {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& client : clients_) {
        if (client->ended) continue;
        client->ended = true;
        client->signal();
        ++count;
    }
    return count;
}

StreamStats EventStreams::stats() const {
    std::lock_guard lock(mutex_);
    StreamStats stats;
    stats.clients = clients_.size();
    stats.events = published_;
    stats.sent = sent_;
    stats.dropped = dropped_;
    return stats;
}

}  // namespace lumora::sim
