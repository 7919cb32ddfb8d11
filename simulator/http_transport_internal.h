#pragma once
// Inside of SimHttpServer: a connection as the hub (http_transport.cpp), the
// request exchange (http_exchange.cpp) and the TLS layer (tls_context.cpp)
// all see it.

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "simulator/http_transport.h"
#include "simulator/request_framing.h"

namespace lumora::sim {

// Replaces the name "Expect" (same length, so no offset moves) once the
// expectation is met here, so that the library does not answer it again.
inline constexpr char kAnsweredExpect[] = "X-Done";

// One client connection and the bytes it has sent that are not answered yet,
// from the start of its next request.
struct Link {
    Link(int sock, FramingLimits limits) : fd(sock), framer(limits) {}
    ~Link() {
        if (ssl) {
            if (handshaking && unfinished) ++*unfinished;
            // Says goodbye without waiting for the client's; never after a
            // fatal error, when the session must not be used again.
            ERR_clear_error();
            if (!handshaking && !tlsBroken) SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The expectation is answered here, or needs no answer as the body is
    // in; true the first time.
    bool meetExpectation() {
        const std::size_t at = framer.expectAt();
        if (at == std::string_view::npos || in.compare(at, 6, kAnsweredExpect) == 0) return false;
        in.replace(at, 6, kAnsweredExpect);
        return true;
    }

    // One try, never waiting: for short answers to clients that may not read.
    void sendNow(std::string_view bytes) {
        if (!ssl) {
            [[maybe_unused]] auto sent =
                ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        } else if (!handshaking && !tlsBroken) {
            ERR_clear_error();
            if (SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())) <= 0) tlsBroken = true;
        }
    }

    // The TLS error of the last call that returned `result`; marks the
    // session unusable when it is fatal.
    int tlsError(int result) {
        const int error = SSL_get_error(ssl, result);
        if (error == SSL_ERROR_SYSCALL || error == SSL_ERROR_SSL) tlsBroken = true;
        return error;
    }

    const int fd;
    SSL* ssl = nullptr;        // null for plain HTTP
    bool handshaking = false;  // TLS: the handshake is not complete yet
    bool tlsBroken = false;    // TLS: a fatal error; no more records, not even a goodbye
    std::atomic<std::uint64_t>* unfinished = nullptr;  // counts handshakes never completed
    std::string in;
    RequestFramer framer;
    std::chrono::steady_clock::time_point deadline;
    std::size_t served = 0;
    std::size_t counted = 0;  // bytes counted against the hub's buffer limit
    bool peerDone = false;    // the client has shut its sending side
    bool closing = false;     // refused: only drained until the deadline
    bool busy = false;        // a worker has it (the hub's lock guards this)
};

}  // namespace lumora::sim
