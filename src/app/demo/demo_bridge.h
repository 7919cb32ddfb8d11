#pragma once
// The demo's own bridge: a simulated one with a furnished home, on loopback,
// that the programs' --demo modes start and point their settings at.

#include <memory>
#include <string>

#include "base/defaults_store.h"
#include "bridge/http_tls.h"
#include "simulator/sim_server.h"

namespace lumora {

// The port of the loopback bridge `store` last pointed at, else 0.
int lastDemoPort(const DefaultsStore& store);

// The demo's bridge on `port` (the one it had last time, so that a repeat
// start finds its settings as they are and writes nothing), else on any free
// port. Nothing, and `error` says why, on failure. Touches no settings, so
// it may run on a thread of its own.
std::unique_ptr<sim::SimServer> startDemoBridge(int port, std::string* error);

// Points `store` at the bridge, paired, and gives a first look room to see
// the home and its scenes where the user has not chosen otherwise.
void seedDemoSettings(DefaultsStore& store, const sim::SimServer& bridge);

// The root the demo bridge's certificate comes from, for the services of a
// demo run (the shipped roots would refuse it).
std::shared_ptr<const TrustAnchors> demoTrustAnchors(const sim::SimServer& bridge);

// Both of the above, on the port `store` remembers.
std::unique_ptr<sim::SimServer> startDemo(DefaultsStore& store, std::string* error);

}  // namespace lumora
