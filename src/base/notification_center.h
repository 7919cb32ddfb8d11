#pragma once
// An in-process notification centre: named notifications with a small
// user-info map, delivered synchronously to observers on the posting thread.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

namespace lumora {

using NotificationValue = std::variant<bool, std::int64_t, double, std::string>;
using UserInfo = std::map<std::string, NotificationValue>;

struct Notification {
    std::string name;
    UserInfo userInfo;
};

class NotificationCenter {
  public:
    using Observer = std::function<void(const Notification&)>;
    using Token = std::uint64_t;

    // An empty name observes every notification.
    Token addObserver(std::string name, Observer observer);
    void removeObserver(Token token);
    void post(const std::string& name, UserInfo userInfo = {});

  private:
    struct Entry {
        Token token;
        std::string name;
        Observer observer;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    Token next_ = 1;
};

}  // namespace lumora
