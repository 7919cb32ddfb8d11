#pragma once
// DNS-SD browser on the Avahi daemon (through its client library and the system bus),
// events delivered on Avahi's own polling thread.

#include <memory>

#include "bridge/console.h"
#include "bridge/dnssd.h"

namespace lumora {

// A browser that connects to the daemon when browsing starts. Without a daemon or a
// system bus, browse() prints "[ZeroConf] Avahi unavailable: <reason>" and no event
// follows. Destroy it from a thread other than its events'.
// Those lines go to `console`.
std::unique_ptr<DnsSdBrowser> makeAvahiBrowser(ConsoleSink console = {});

}  // namespace lumora
