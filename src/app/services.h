#pragma once
// What a program chooses once and hands to the objects that need it: the
// dispatcher, the store, the notification centre, how commands travel. Each
// program builds one in its `main`; each test builds its own, so two of
// everything can live in one process without seeing each other.

#include <functional>
#include <memory>

#include "base/defaults_store.h"
#include "base/dispatch.h"
#include "base/notification_center.h"
#include "bridge/console.h"
#include "bridge/dnssd.h"
#include "bridge/http.h"
#include "shortcuts/hotkey_service.h"
#include "shortcuts/key_text.h"

namespace lumora {

struct Services {
    using Transport = std::function<HttpResponse(const HttpRequest&)>;

    // The user-interface thread, the workers and the clock everything runs
    // on. Required: there is no sensible default, the program's loop or a
    // test's virtual time.
    std::shared_ptr<Dispatcher> dispatcher;
    // Where the settings persist; in memory unless the program gives a file.
    std::shared_ptr<DefaultsStore> store = std::make_shared<InMemoryDefaultsStore>();
    // Carries the panel's resize requests and the shortcut changes.
    std::shared_ptr<NotificationCenter> center = std::make_shared<NotificationCenter>();
    // How queued commands reach the bridge.
    Transport transport = httpSend;
    // The DNS-SD back-end of the bridge detection; empty finds nothing.
    DnsSdBrowserFactory browserFactory;
    // Diagnostics of reads and discovery; empty means standard output.
    ConsoleSink console;
    // The system's hot-key service of the global shortcuts; none registers nothing.
    std::shared_ptr<HotKeyService> hotKeyService;
    // The keyboard layout shortcuts are shown in; none means the US table.
    std::shared_ptr<KeyTextProvider> keyText;
};

// Services on `dispatcher` over `store`, the rest as a fresh set.
inline Services servicesWith(std::shared_ptr<Dispatcher> dispatcher,
                             std::shared_ptr<DefaultsStore> store) {
    Services s;
    s.dispatcher = std::move(dispatcher);
    s.store = std::move(store);
    return s;
}

}  // namespace lumora
