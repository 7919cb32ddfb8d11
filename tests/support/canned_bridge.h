#pragma once
// A loopback server for replies the simulator never sends: each METHOD PATH
// answers with the body (JSON) and status the test set, anything else 404.
// It counts what it was asked and keeps the last request body.

#include <httplib.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace lumora::support {

class CannedBridge {
  public:
    CannedBridge() {
        auto handler = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            const auto key = std::make_pair(req.method, req.path);
            ++requests_[key];
            lastBody_ = req.body;
            lastContentType_ = req.get_header_value("Content-Type");
            auto it = answers_.find(key);
            if (it == answers_.end()) {
                res.status = 404;
                return;
            }
            res.status = it->second.second;
            res.set_content(it->second.first, "application/json");
        };
        server_.Get(".*", handler);
        server_.Put(".*", handler);
        server_.Post(".*", handler);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~CannedBridge() {
        server_.stop();
        thread_.join();
    }
    CannedBridge(const CannedBridge&) = delete;
    CannedBridge& operator=(const CannedBridge&) = delete;

    void answer(const std::string& method, const std::string& path, std::string body,
                int status = 200) {
        std::lock_guard lock(mutex_);
        answers_[{method, path}] = {std::move(body), status};
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    int requests(const std::string& method, const std::string& path) {
        std::lock_guard lock(mutex_);
        auto it = requests_.find({method, path});
        return it == requests_.end() ? 0 : it->second;
    }
    int requests() {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const auto& [key, count] : requests_) n += count;
        return n;
    }
    std::string lastBody() {
        std::lock_guard lock(mutex_);
        return lastBody_;
    }
    std::string lastContentType() {
        std::lock_guard lock(mutex_);
        return lastContentType_;
    }

  private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::pair<std::string, int>> answers_;
    std::map<std::pair<std::string, std::string>, int> requests_;
    std::string lastBody_, lastContentType_;
};

}  // namespace lumora::support
