#include "base/dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace lumora {
namespace {
std::mutex gMutex;
std::shared_ptr<Dispatcher> gDispatcher;

std::shared_ptr<Dispatcher> required() {
    std::shared_ptr<Dispatcher> d;
    {
        std::lock_guard lock(gMutex);
        d = gDispatcher;
    }
    if (!d) {
        std::fputs("lumora: no dispatcher installed\n", stderr);
        std::abort();
    }
    return d;
}
}  // namespace

std::shared_ptr<Dispatcher> installDispatcher(std::shared_ptr<Dispatcher> dispatcher) {
    std::lock_guard lock(gMutex);
    std::swap(gDispatcher, dispatcher);
    return dispatcher;
}

// The installer keeps its dispatcher for as long as work may be posted to it.
Dispatcher& dispatcher() {
    return *required();
}

// Posting happens under the lock: once installDispatcher has swapped a
// dispatcher out, no worker can still be inside it, and its owner may destroy
// it on its own thread (never on a worker, which would then join itself).
namespace {
template <typename F>
auto withDispatcher(F&& f) {
    std::lock_guard lock(gMutex);
    if (!gDispatcher) {
        std::fputs("lumora: no dispatcher installed\n", stderr);
        std::abort();
    }
    return f(*gDispatcher);
}
}  // namespace

void UI(Work work) {
    withDispatcher([&](Dispatcher& d) { d.postUI(std::move(work)); });
}
void BG(Work work) {
    withDispatcher([&](Dispatcher& d) { d.postBG(std::move(work)); });
}
TimePoint now() {
    return withDispatcher([](Dispatcher& d) { return d.now(); });
}
WallTime wallNow() {
    return withDispatcher([](Dispatcher& d) { return d.wallNow(); });
}

void invalidate(std::weak_ptr<RepeatingTimer>& timer) {
    if (auto t = timer.lock()) t->invalidate();
    timer.reset();
}

}  // namespace lumora
