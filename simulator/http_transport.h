#pragma once
// The simulator's HTTP server: the library parses requests and routes them,
// the connections are ours. Each reply is gathered and leaves in one write on
// a socket without Nagle's delay, workers are started as connections need
// them, and a connection waiting for its next request gives way when every
// worker is taken. stopAll() ends waiting connections at once.

#include <httplib.h>

#include <atomic>

namespace lumora::sim {

class WorkerPool;

class SimHttpServer : public httplib::Server {
  public:
    // At most `maxWorkers` connections are served at a time; more wait.
    explicit SimHttpServer(std::size_t maxWorkers = 256);
    ~SimHttpServer() override;
    SimHttpServer(const SimHttpServer&) = delete;
    SimHttpServer& operator=(const SimHttpServer&) = delete;

    // After bind_to_port / bind_to_any_port: a backlog that takes a burst of
    // connections (the library listens with a very short one).
    void widenBacklog();

    // Wakes every connection waiting to read or write and makes it close,
    // then stops the accept loop; listen_after_bind() returns soon after.
    void stopAll();

    // The socket of the connection whose request this thread is handling,
    // -1 outside a handler.
    static int currentSocket();

  private:
    bool process_and_close_socket(socket_t sock) override;

    int wakeFd_ = -1;  // an eventfd, readable once stopAll() ran
    std::atomic<WorkerPool*> pool_{nullptr};
};

}  // namespace lumora::sim
