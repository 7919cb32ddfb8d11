#include "app/demo/demo_bridge.h"

#include "base/setting_keys.h"
#include "bridge/bridge_link.h"
#include "bridge/http.h"

namespace lumora {

int lastDemoPort(const DefaultsStore& store) {
    const auto url = parseUrl("http://" + store.string(keys::bridgeIP).value_or(""));
    if (!url || url->host != "127.0.0.1" || url->port < 1024) return 0;
    return url->port;
}

std::unique_ptr<sim::SimServer> startDemoBridge(int port, std::string* error) {
    sim::ServerOptions options;
    options.fixture = "demo";
    options.linkButtonPressed = true;
    // The newest generation: HTTPS only, so the demo shows the secure path.
    options.model = sim::Generation::BSB003;
    options.httpsPort = port;
    auto bridge = std::make_unique<sim::SimServer>(options);
    if (bridge->start(error)) return bridge;
    if (port == 0) return nullptr;
    options.httpsPort = 0;
    bridge = std::make_unique<sim::SimServer>(options);
    if (error) error->clear();
    return bridge->start(error) ? std::move(bridge) : nullptr;
}

void seedDemoSettings(DefaultsStore& store, const sim::SimServer& bridge) {
    store.setString(keys::bridgeIP, bridge.httpsAddress());
    store.setString(keys::bridgeUser, sim::kDemoUser);
    // Known as a bridge with HTTPS, so it is never tried over plain HTTP.
    const std::string id = normalizedBridgeId(bridge.bridgeId());
    store.setString(keys::bridgeID, id);
    store.setBool(keys::bridgeSecure(id), true);
    for (const char* key : {keys::heightLights, keys::heightRooms}) {
        if (!store.contains(key)) store.setInteger(key, 460);
    }
    if (!store.contains(keys::showScenes)) store.setBool(keys::showScenes, true);
}

std::unique_ptr<sim::SimServer> startDemo(DefaultsStore& store, std::string* error) {
    auto bridge = startDemoBridge(lastDemoPort(store), error);
    if (bridge) seedDemoSettings(store, *bridge);
    return bridge;
}

}  // namespace lumora

namespace lumora {

std::shared_ptr<const TrustAnchors> demoTrustAnchors(const sim::SimServer& bridge) {
    return TrustAnchors::fromPem(bridge.trustAnchorPem());
}

}  // namespace lumora
