#pragma once
// A client for the simulator's tests: one connection, plain or TLS, kept
// alive, that reads replies by their Content-Length and, over TLS, shows what
// the server presented and how OpenSSL judged it against a given root.

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <chrono>
#include <string>

#include "sim_test_support.h"

namespace lumora::sim::test {

struct Plain {};
inline constexpr Plain plain{};

class Client {
  public:
    // Plain TCP: no handshake; handshaken() says it is connected.
    Client(Plain, int port);
    // Connects and completes the handshake (see handshaken()). The chain is
    // checked against `rootPem` when given, but a failed check still lets the
    // handshake finish, so that tests can look at what was refused.
    // `maxVersion`: TLS1_2_VERSION to keep to 1.2, 0 for the newest.
    // `receiveBuffer`: the socket's receive buffer in bytes, 0 for the default.
    explicit Client(int port, const std::string& rootPem = {}, int maxVersion = 0,
                    int receiveBuffer = 0);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool handshaken() const { return handshaken_; }
    int fd() const { return fd_; }
    long verifyResult() const;  // X509_V_OK when the chain reached the root
    std::string version() const;
    X509* leaf() const { return leaf_; }              // owned here
    STACK_OF(X509) * chain() const;                   // as sent, the leaf first
    bool hostMatches(const std::string& host) const;  // the leaf's name check

    bool send(const std::string& bytes);
    // The next whole reply; status 0 when none came within `timeout`.
    RawReply read(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The server ended the session (within `timeout`) without sending more.
    bool closedByServer(std::chrono::milliseconds timeout);

    // Raw reading, for replies that are not framed by a length: appends what
    // comes before `deadline` to received(); false when nothing did.
    bool receive(std::chrono::steady_clock::time_point deadline);
    std::string& received() { return pending_; }

  private:
    int readSome(char* buffer, int size);  // what SSL_read or recv gives

    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    X509* leaf_ = nullptr;
    bool handshaken_ = false;
    std::string pending_;
};

// The certificate in PEM, as fingerprintOf() takes it.
std::string pemOf(X509* cert);

// One request over a fresh TLS connection, verified against `rootPem`.
RawReply tlsRequest(int port, const std::string& rootPem, const std::string& method,
                    const std::string& path, const std::string& body = {});

}  // namespace lumora::sim::test
