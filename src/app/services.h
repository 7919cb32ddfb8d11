#pragma once
// What a program chooses once and hands to the objects that need it: the
// dispatcher, the store, the notification centre, how commands travel. Each
// program builds one in its `main`; each test builds its own, so two of
// everything can live in one process without seeing each other.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/defaults_store.h"
#include "base/dispatch.h"
#include "base/notification_center.h"
#include "bridge/bridge_endpoint.h"
#include "bridge/console.h"
#include "bridge/discovery.h"
#include "bridge/dnssd.h"
#include "shortcuts/hotkey_service.h"
#include "shortcuts/key_text.h"

namespace lumora {

struct Services {
    using Transport = HttpTransport;
    // Finds a bridge on the network: its address ("" when none answers) and
    // the id discovery named, if any.
    using Detector = std::function<FoundBridge()>;
    // Runs a script that ships with the program with KEY=VALUE entries added
    // to its environment, and returns what it wrote.
    using ScriptRunner = std::function<std::string(const std::string& name,
                                                   const std::vector<std::string>& environment)>;

    // The user-interface thread, the workers and the clock everything runs
    // on. Required: there is no sensible default, the program's loop or a
    // test's virtual time.
    std::shared_ptr<Dispatcher> dispatcher;
    // Where the settings persist; in memory unless the program gives a file.
    std::shared_ptr<DefaultsStore> store = std::make_shared<InMemoryDefaultsStore>();
    // Carries the shortcut changes.
    std::shared_ptr<NotificationCenter> center = std::make_shared<NotificationCenter>();
    // How every request reaches the bridge: reads, commands, pairing, the
    // report's model read. Empty: the controller's own kept-alive session,
    // so reads and commands share one connection.
    Transport transport;
    // The roots a bridge's certificate must come from: the ones compiled
    // into the program. Only tests and the demo hand in their own.
    std::shared_ptr<const TrustAnchors> bridgeAnchors = TrustAnchors::bridgeRoots();
    // The DNS-SD back-end of the bridge detection; empty finds nothing.
    DnsSdBrowserFactory browserFactory;
    // How a bridge is found; empty runs the web lookup, then DNS-SD through
    // the factory above.
    Detector detector;
    // Runs the debug report's script; empty sends no report.
    ScriptRunner runScript;
    // Diagnostics of discovery; empty means standard output.
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
