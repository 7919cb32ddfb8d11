#pragma once
// A bounded wait for what another thread or process brings about: polls
// `done` every `interval` until it holds or `tries` run out.

#include <chrono>
#include <functional>
#include <thread>

namespace lumora::testing {

inline bool eventually(const std::function<bool()>& done, int tries = 100,
                       std::chrono::milliseconds interval = std::chrono::milliseconds(100)) {
    for (int i = 0; i < tries; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(interval);
    }
    return done();
}

}  // namespace lumora::testing
