#pragma once
// What every dispatcher promises the blocks it runs: destroyed while one of
// them is still running, it waits for that worker, still runs the background
// work the worker queued meanwhile, and drops what it posted to the
// user-interface thread. Workers hold their dispatcher by reference on this.

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "base/dispatch.h"

namespace lumora::testing {

struct Teardown {
    bool workerFinished = false;
    int laterBackground = 0;
    bool uiRan = false;
};

// Destroys `dispatcher` while a worker of its own is inside a block, then
// calls `afterwards` (a loop that would run stray UI work, say).
inline Teardown destroyWhileAWorkerRuns(std::unique_ptr<Dispatcher> dispatcher,
                                        const std::function<void()>& afterwards = {}) {
    std::promise<void> running, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> finished{false}, uiRan{false};
    std::atomic<int> later{0};
    dispatcher->postBG([&, released, d = dispatcher.get()] {
        running.set_value();
        released.wait();
        // Gives the owner time to be inside the destructor by now; either
        // way the posts below must be safe.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        d->postUI([&] { uiRan = true; });
        d->postBG([&] { ++later; });
        finished = true;
    });
    running.get_future().wait();
    release.set_value();
    dispatcher.reset();
    if (afterwards) afterwards();
    return {finished.load(), later.load(), uiRan.load()};
}

}  // namespace lumora::testing
