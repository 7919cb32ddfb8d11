#include "base/notification_center.h"

#include <algorithm>

namespace lumora {

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Observer observer) {
    std::lock_guard lock(mutex_);
    Token t = next_++;
    entries_.push_back({t, std::move(name), std::move(observer)});
    return t;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::post(const std::string& name, UserInfo userInfo) {
    // Copy first: an observer may add or remove observers while being called.
    std::vector<Observer> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_)
            if (e.name.empty() || e.name == name) targets.push_back(e.observer);
    }
    const Notification note{name, std::move(userInfo)};
    for (const auto& o : targets) o(note);
}

}  // namespace lumora
