#pragma once
// The clients of the event stream: each change of state becomes one
// server-sent event with the next id, kept in a short history for clients
// that come back with Last-Event-ID, and queued for every client connected.
// Queuing never waits: a client that does not read is dropped once its queue
// passes a cap, and never holds more memory than that.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simulator/replies.h"
#include "simulator/sim_server.h"

namespace lumora::sim {

struct StreamLimits {
    std::size_t maxClients = 8;                  // more are refused
    std::size_t maxQueuedBytes = 1024u * 1024u;  // per client, past it dropped
    std::size_t history = 256;                   // events kept for a reconnect
};

class EventStreams {
  public:
    struct Client;

    explicit EventStreams(StreamLimits limits = {});
    ~EventStreams();
    EventStreams(const EventStreams&) = delete;
    EventStreams& operator=(const EventStreams&) = delete;

    // One event of these containers, with the next id, for every client.
    void publish(const Json& containers);

    // A new client on `socket`. When `lastEventId` names a kept event it is
    // first given every later one; an unknown or forgotten id gives only the
    // events from now on. Null when there are as many clients as allowed.
    std::shared_ptr<Client> subscribe(int socket, const std::string& lastEventId);
    void unsubscribe(const std::shared_ptr<Client>& client);

    // Moves the client's queued bytes into `out` (counting their events as
    // sent); false once the client is to be closed.
    bool take(Client& client, std::string& out);
    // Readable (an eventfd) when the client has something to take.
    static int wakeFd(const Client& client);

    // Ends every client's stream; how many there were.
    std::size_t dropAll();
    StreamStats stats() const;

  private:
    void queue(Client& client, const std::string& text, std::size_t events);

    const StreamLimits limits_;
    mutable std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::deque<std::pair<std::uint64_t, std::string>> history_;  // oldest first
    std::vector<std::shared_ptr<Client>> clients_;
    std::uint64_t published_ = 0;
    std::uint64_t sent_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace lumora::sim
