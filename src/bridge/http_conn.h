#pragma once
// The HTTP client's connection: a non-blocking socket, TLS over it when the
// URL asks, and every wait a poll() against a deadline and a cancel fd.
// Internal to the http files.

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/http.h"

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace lumora::net {

class Deadline {
  public:
    using Clock = std::chrono::steady_clock;
    explicit Deadline(Clock::time_point at) : at_(at) {}
    static Deadline in(std::chrono::milliseconds d) { return Deadline(Clock::now() + d); }

    bool passed() const { return Clock::now() >= at_; }
    // For poll(): at least 1 ms while time remains, so it never spins.
    int pollMs() const;
    Clock::time_point at() const { return at_; }

  private:
    Clock::time_point at_;
};

enum class Io { ok, closed, timedOut, failed, cancelled };

class Connection {
  public:
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    struct Counters {
        std::atomic<std::size_t>* connections = nullptr;
        std::atomic<std::size_t>* handshakes = nullptr;
    };

    // Connects and, for https, completes the handshake and checks the peer's
    // certificate. On failure returns null with `error` (and `refusal`) set.
    static std::unique_ptr<Connection> open(const ParsedUrl& url,
                                            const std::optional<TlsIdentity>& identity,
                                            Deadline deadline, int cancelFd, Counters counters,
                                            HttpError& error, TlsRefusal& refusal);

    // `written` counts the bytes the peer may have received.
    Io writeAll(std::string_view bytes, Deadline deadline, int cancelFd, std::size_t& written);
    Io readSome(char* buffer, std::size_t capacity, Deadline deadline, int cancelFd,
                std::size_t& got);
    // An idle connection the peer closed, or wrote to unasked: not to be reused.
    bool looksClosed();

  private:
    Connection() = default;
    Io wait(short events, Deadline deadline, int cancelFd);

    int fd_ = -1;
    SSL* ssl_ = nullptr;
};

// Shared by every https connection; verification happens in verifyPeer.
SSL_CTX* clientTlsContext();
TlsRefusal verifyPeer(SSL* ssl, const TlsIdentity& identity, const std::string& host);

}  // namespace lumora::net
