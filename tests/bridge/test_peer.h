#pragma once
// A peer on loopback whose every byte the test scripts: well-behaved, slow,
// flooding or lying, over plain TCP or TLS with a certificate of the test's
// making. It records what reached it, so a test can tell that a request was
// never sent.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "simulator/bridge_certificate.h"

namespace lumora::test {

class TestPeer {
  public:
    class Conn {
      public:
        // One request (head and Content-Length body); none once the client
        // closed or nothing came within `within`.
        std::optional<std::string> readRequest(
            std::chrono::milliseconds within = std::chrono::seconds(10));
        bool write(std::string_view bytes);
        // Still serving: false once the client closed or the peer is stopping.
        bool open() const;

      private:
        friend class TestPeer;
        int fd = -1;
        void* ssl = nullptr;
        TestPeer* peer = nullptr;
        std::string pending;
    };
    using Handler = std::function<void(Conn&)>;

    struct Tls {
        sim::Certificate leaf;
        std::string chainPem;  // certificates sent after the leaf
    };

    explicit TestPeer(Handler handler, std::optional<Tls> tls = std::nullopt);
    ~TestPeer();
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    std::string url(std::string_view path = "/") const;
    int port() const { return port_; }
    int accepted() const { return accepted_; }
    // Connections whose handler returned (and which the peer then closed).
    int finished() const { return finished_; }
    // Every request byte that reached the handler, decrypted.
    std::string received() const;

    // Answers every request with `reply` until the client closes.
    static Handler serveAll(std::string reply);

  private:
    void acceptLoop();
    void serve(int fd);

    Handler handler_;
    void* ctx_ = nullptr;  // SSL_CTX when serving TLS
    int listenFd_ = -1;
    int port_ = 0;
    int stopPipe_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> finished_{0};
    mutable std::mutex mutex_;
    std::string received_;
    std::vector<std::thread> threads_;
    std::thread acceptThread_;
};

// A whole reply with a Content-Length body.
std::string reply(int status, std::string_view body, std::string_view extraHeaders = {});

// Waits (polling, bounded) until `condition` holds.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds within = std::chrono::seconds(5));

}  // namespace lumora::test
