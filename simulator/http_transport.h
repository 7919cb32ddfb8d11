#pragma once
// The simulator's HTTP server: the library parses requests and routes them,
// the connections are ours. One thread watches every connection that is
// waiting for a request and reads what arrives; a connection goes to a worker
// only once a whole request is here, and comes back when its reply is sent.
// So clients that send slowly, or nothing at all, hold no worker, and a
// request's head and body are bounded before the library sees a byte of them.
// Each reply is gathered and leaves in one write on a socket without Nagle's
// delay. stopAll() ends every connection at once.
//
// With a TLS identity the same server speaks TLS 1.2 and 1.3: the handshake
// runs without blocking, a step each time the client's bytes arrive, so a
// client that dawdles in it holds no worker either, and the time limit for a
// request counts from the accept, handshake included.

#include <httplib.h>
#include <openssl/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "simulator/request_framing.h"

namespace lumora::sim {

class ConnectionHub;
struct Link;

struct TransportLimits {
    std::size_t maxWorkers = 256;  // requests handled at a time; more wait
    FramingLimits request = {};    // head 64 KiB (else 431), body 1 MiB (else 413)
    // A waiting connection has this long to send one whole request, counted
    // from its accept or its last reply; then it is closed (408 when part of
    // a request came).
    std::chrono::milliseconds requestTimeout{5000};
    // Bytes held for requests still arriving, over all connections; past it
    // the connection that adds more is answered 503.
    std::size_t maxBufferedBytes = 64u * 1024u * 1024u;
};

// What a TLS port presents.
struct TlsIdentity {
    std::string certificatePem;  // the leaf
    std::string chainPem;        // certificates sent after the leaf; may be empty
    std::string privateKeyPem;   // the leaf's key
};

struct TransportStats {
    std::uint64_t accepted = 0;          // connections taken from the listening socket
    std::uint64_t handshakes = 0;        // TLS handshakes completed
    std::uint64_t failedHandshakes = 0;  // TLS handshakes the client or the server broke off
    std::size_t open = 0;                // connections open now
};

class SimHttpServer : public httplib::Server {
  public:
    explicit SimHttpServer(TransportLimits limits = {});
    ~SimHttpServer() override;
    SimHttpServer(const SimHttpServer&) = delete;
    SimHttpServer& operator=(const SimHttpServer&) = delete;

    // After bind_to_port / bind_to_any_port: a backlog that takes a burst of
    // connections (the library listens with a very short one).
    void widenBacklog();

    // Wakes every connection waiting to read or write and makes it close,
    // then stops the accept loop; listen_after_bind() returns soon after.
    void stopAll();

    // Speaks TLS with this identity from now on; connections already open
    // keep the one they began with. False, with nothing changed, when the
    // certificates or the key cannot be used. Call before listening to serve
    // TLS at all.
    bool setTlsIdentity(const TlsIdentity& identity, std::string* error = nullptr);
    bool tls() const;

    TransportStats stats() const;
    // Closes every connection that is waiting for its next request (a TLS
    // one says so first); those being answered stay. Returns how many closed.
    std::size_t closeIdle();

    // The socket of the connection whose request this thread is handling,
    // -1 outside a handler.
    static int currentSocket();

    // For a reply that goes on long after its head (an event stream), from
    // its content provider on the worker's thread. Its connection stays with
    // the worker until the reply ends, so no time limit for requests applies
    // and closeIdle() leaves it alone; stopAll() ends it.
    // Sends what the reply has written so far; false when that failed.
    static bool flushReply();
    enum class ReplyWait { woken, clientGone, stopping };
    // Waits until `wakeFd` (an eventfd, read here) is signalled, the client
    // goes away or the server stops. What the client sends meanwhile is
    // read and dropped.
    static ReplyWait waitDuringReply(int wakeFd);

  private:
    friend class ConnectionHub;

    bool process_and_close_socket(socket_t sock) override;
    // Answers the whole request at the start of the link's buffer; false
    // when the connection is to close.
    bool answer(Link& link);

    // A TLS context for the next connection, or null for plain HTTP.
    std::shared_ptr<SSL_CTX> tlsContext() const;

    const TransportLimits limits_;
    int wakeFd_ = -1;  // an eventfd, readable once stopAll() ran
    std::atomic<ConnectionHub*> hub_{nullptr};
    mutable std::mutex hubMutex_;  // held while the hub is used from outside its threads

    mutable std::mutex tlsMutex_;
    std::shared_ptr<SSL_CTX> tls_;
    std::atomic<std::uint64_t> accepted_{0};
    std::atomic<std::uint64_t> handshakes_{0};
    std::atomic<std::uint64_t> failedHandshakes_{0};
};

}  // namespace lumora::sim
