#pragma once
// One invocation of lumora-ctl: its options, and everything it needs from the
// settings, the bridge and the shared controller, torn down in order at the end.

#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/bridge_controller.h"
#include "app/linux/loop_dispatcher.h"
#include "bridge/bridge_address.h"
#include "bridge/bridge_endpoint.h"
#include "bridge/fetchers.h"
#include "bridge/http.h"
#include "ctl/actions.h"
#include "simulator/sim_server.h"

namespace lumora::ctl {

struct Options {
    std::optional<BridgeAddress> bridge;
    std::optional<std::string> user, trustFingerprint;
    std::optional<std::int64_t> in;
    bool demo = false, json = false, help = false;
    std::vector<std::string> words;
};

// An address as typed (its hostPort "" for none), or a usage error that says
// why it is not one.
BridgeAddress typedAddress(const std::string& typed, const char* what = "");

// A whole decimal number, or none.
std::optional<std::int64_t> number(const std::string& s);

// Everything one invocation needs, torn down in order at the end.
class Session {
  public:
    Session(const Options& o, std::ostream& out, std::ostream& err);
    ~Session() { controller_.reset(); }

    int pair();
    int discover();
    int list(const std::string& what);
    int status();
    int command(const std::vector<std::string>& words);
    // A line for each change at the bridge, until interrupted.
    int watch();
    // Reads, hands the controller to `act`, then waits for the queue.
    int act(const std::function<void(BridgeController&)>& act);

  private:
    int requireBridge();
    // Finds out how the bridge at address_ is reached (once); kBridgeFailed,
    // said why, when it cannot be used.
    int link();
    int read(bool scenes);
    void rememberNames(bool scenes);
    int drain();
    void makeController();
    void report(const HueLight* light, const HueGroup* group);

    const Options& opts_;
    std::ostream& out_;
    std::ostream& err_;
    // Diagnostics go to standard error, so standard output keeps only results;
    // the DNS-SD back-end writes from its own thread.
    std::mutex consoleMutex_;
    ConsoleSink console_ = [this](const std::string& line) {
        std::lock_guard lock(consoleMutex_);
        err_ << line << "\n";
    };
    // The session's own loop, handed to its controller; it outlives the
    // controller and waits for its workers before the sink above goes.
    std::shared_ptr<LoopDispatcher> loop_ = std::make_shared<LoopDispatcher>(2);
    std::shared_ptr<DefaultsStore> store_;
    std::string storeFile_;
    std::unique_ptr<sim::SimServer> sim_;
    BridgeAddress address_;
    std::string user_;
    // The roots bridge certificates must come from: the built-in ones, or
    // the demo bridge's own.
    std::shared_ptr<const TrustAnchors> anchors_ = TrustAnchors::bridgeRoots();
    std::optional<BridgeEndpoint> link_;
    std::string model_;
    BridgeEndpoint bridge() const {
        BridgeEndpoint e = link_.value_or(BridgeEndpoint{address_.hostPort, {}});
        e.user = user_;
        return e;
    }
    // One kept-alive session for every request of the invocation.
    std::shared_ptr<HttpSession> http_ = std::make_shared<HttpSession>();
    HttpTransport transport_ = [http = http_](const HttpRequest& r) { return http->send(r); };
    // The session's reads: a read-back from an unchanged bridge is not decoded again.
    FetchMemo fetchMemo_;
    std::unique_ptr<BridgeController> controller_;
    std::vector<HueLight> lights_;
    std::vector<HueGroup> groups_;
    std::vector<HueScene> scenes_;
    std::mutex problemsMutex_;
    std::vector<std::string> problems_;
};

}  // namespace lumora::ctl
