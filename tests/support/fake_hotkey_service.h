#pragma once
// A hot-key service in memory: remembers registrations, refuses combinations
// the test marks as held by another program, and lets the test press keys.

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "shortcuts/hotkey_service.h"
#include "shortcuts/shortcut.h"

namespace lumora::testing {

class FakeHotKeyService : public HotKeyService {
  public:
    using Combo = std::pair<std::uint32_t, std::uint32_t>;
    struct Call {
        std::string op;  // "register", "unregister"
        std::uint32_t id;
        Combo combo;
        bool operator==(const Call&) const = default;
    };

    static Combo combo(const Shortcut& s) {
        return {static_cast<std::uint32_t>(s.carbonKeyCode()),
                static_cast<std::uint32_t>(s.carbonModifiers())};
    }

    bool registerHotKey(std::uint32_t id, std::uint32_t key, std::uint32_t mods) override {
        calls.push_back({"register", id, {key, mods}});
        if (heldElsewhere.contains({key, mods})) return false;
        active[id] = {key, mods};
        return true;
    }
    void unregisterHotKey(std::uint32_t id) override {
        calls.push_back({"unregister", id, active.count(id) ? active[id] : Combo{}});
        active.erase(id);
    }
    bool isTaken(std::uint32_t key, std::uint32_t mods) override {
        return heldElsewhere.contains({key, mods});
    }
    void setEventHandler(EventHandler h) override {
        handler = std::move(h);
        ++handlerInstalls;
    }

    // Reports the event to every registration of the combination, as the
    // system does.
    void send(const Shortcut& s, int kind) {
        for (const auto& [id, c] : active)
            if (c == combo(s) && handler) handler({id, kind});
    }
    void press(const Shortcut& s) { send(s, HotKeyEvent::pressed); }
    void release(const Shortcut& s) { send(s, HotKeyEvent::released); }
    void tap(const Shortcut& s) {
        press(s);
        release(s);
    }

    std::map<std::uint32_t, Combo> active;
    std::set<Combo> heldElsewhere;
    std::vector<Call> calls;
    EventHandler handler;
    int handlerInstalls = 0;
};

}  // namespace lumora::testing
