#include "base/dispatch.h"

namespace lumora {

void invalidate(std::weak_ptr<RepeatingTimer>& timer) {
    if (auto t = timer.lock()) t->invalidate();
    timer.reset();
}

}  // namespace lumora
