#include "app/dispatch.h"

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
Dispatcher& dispatcher() { return *required(); }

// Each call holds the dispatcher while posting, so a concurrent re-install
// cannot pull it away mid-call.
void UI(Work work) { required()->postUI(std::move(work)); }
void BG(Work work) { required()->postBG(std::move(work)); }
TimePoint now() { return required()->now(); }

void invalidate(std::weak_ptr<RepeatingTimer>& timer) {
    if (auto t = timer.lock()) t->invalidate();
    timer.reset();
}

}  // namespace lumora
