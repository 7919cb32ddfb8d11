#include "ctl/session.h"

#include <algorithm>
#include <charconv>
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/demo/demo_bridge.h"
#include "app/light_order.h"
#include "app/linux/file_store.h"
#include "base/setting_keys.h"
#include "bridge/avahi/avahi_browser.h"
#include "bridge/bridge_link.h"
#include "bridge/command_reply.h"
#include "bridge/commands.h"
#include "bridge/discovery.h"
#include "bridge/pairing.h"
#include "ctl/ctl.h"
#include "ctl/names_cache.h"
#include "ctl/targets.h"
#include "ctl/watch.h"

namespace lumora::ctl {
namespace {

using nlohmann::json;

// What went wrong with a read, for the person at the terminal.
std::string readProblem(const FetchError& e, const std::string& address) {
    switch (e.kind) {
        case FetchError::connectionFailed:
            if (e.cause == HttpError::timedOut)
                return "the bridge at " + address + " did not answer within " +
                       std::to_string(kReadTimeout.count()) + " seconds";
            if (e.cause == HttpError::none || e.cause == HttpError::connectionFailed)
                return "cannot reach the bridge at " + address;
            return "cannot reach the bridge at " + address + ": " + noReplyText(e.cause);
        case FetchError::badStatus: {
            std::string line = "the bridge at " + address +
                               (e.status == 429 ? " is busy (" + statusText(e.status) + ")"
                                                : " answered " + statusText(e.status));
            if (e.status >= 300 && e.status <= 399)
                line += (e.location.empty() ? ", without saying where to"
                                            : ", pointing to " + e.location) +
                        "; redirects are not followed";
            return line;
        }
        case FetchError::unreadable:
            if (e.cause != HttpError::none)
                return "the bridge at " + address +
                       " sent a reply that cannot be read: " + noReplyText(e.cause);
            break;
        case FetchError::noData:
        case FetchError::certificateRefused:
            break;
    }
    return "the bridge at " + address +
           " refused the stored user name or answered with something unreadable; pair "
           "again with 'lumora-ctl pair'";
}

// "secure (HTTPS, bridge id …)" or "plain HTTP (first-generation bridge)".
std::string connectionLine(const BridgeEndpoint& link) {
    if (!link.secure) return "plain HTTP (first-generation bridge, no HTTPS)";
    return "secure (HTTPS, bridge id " + link.bridgeId +
           (link.pin.empty() ? ", its certificate checked"
                             : ", certificate trusted by fingerprint") +
           ")";
}

std::string onOff(bool on) {
    return on ? "on" : "off";
}

}  // namespace

// An address as typed (its hostPort "" for none), or a usage error that says
// why it is not one.
std::optional<std::int64_t> number(const std::string& s) {
    std::int64_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

BridgeAddress typedAddress(const std::string& typed, const char* what) {
    const BridgeAddress a = parseBridgeAddress(typed);
    if (a.ok() || a.problem == AddressProblem::empty) return a;
    throw UsageError{what + addressProblemMessage(a.problem, typed)};
}

Session::Session(const Options& o, std::ostream& out, std::ostream& err)
    : opts_(o), out_(out), err_(err) {
    if (o.demo) {
        // Nothing of a demo run is kept.
        store_ = std::make_shared<InMemoryDefaultsStore>();
        std::string why;
        sim_ = startDemo(*store_, &why);
        if (!sim_) throw std::runtime_error("cannot start the demo bridge: " + why);
    } else {
        auto file = std::make_shared<JsonFileDefaultsStore>(configDirectory());
        storeFile_ = file->file().string();
        store_ = file;
    }
    address_ = o.bridge ? *o.bridge
                        : typedAddress(store_->string(keys::bridgeIP).value_or(""),
                                       "the stored address: ");
    user_ = o.user.value_or(store_->string(keys::bridgeUser).value_or(""));
    if (sim_) anchors_ = TrustAnchors::fromPem(sim_->trustAnchorPem());
}

int Session::link() {
    if (link_) return kDone;
    LinkRequest request;
    request.address = address_;
    if (store_->string(keys::bridgeIP) == address_.hostPort)
        request.storedId = store_->string(keys::bridgeID).value_or("");
    request.offeredPin = opts_.trustFingerprint.value_or("");
    request.anchors = anchors_;
    request.known = [store = store_](const std::string& id) {
        return KnownBridge{store->boolean(keys::bridgeSecure(id)),
                           store->string(keys::bridgePin(id)).value_or("")};
    };
    const LinkResult r = linkToBridge(request, transport_);
    switch (r.outcome) {
        case LinkOutcome::linked:
            break;
        case LinkOutcome::unreachable:
            err_ << "lumora-ctl: cannot reach a bridge at " << address_.hostPort << "\n";
            return kBridgeFailed;
        case LinkOutcome::certificateRefused:
            err_ << "lumora-ctl: the bridge at " << r.refusedAt << " " << describe(r.refusal)
                 << "; nothing was sent to it";
            if (ConnectionError{ConnectionProblem::certificateRefused, r.refusedAt, r.refusal, {}}
                    .offersTrust())
                err_ << ". If it is a software bridge you run and trust, run again with "
                        "--trust-fingerprint "
                     << r.refusal.fingerprint;
            err_ << "\n";
            return kBridgeFailed;
        case LinkOutcome::plainAfterSecure:
            err_ << "lumora-ctl: the bridge " << r.bridgeId << " at " << address_.hostPort
                 << " answers only over plain HTTP, but it answered securely before; it is not "
                    "used over plain HTTP\n";
            return kBridgeFailed;
    }
    link_ = r.endpoint;
    model_ = r.model;
    if (link_->secure && !opts_.demo) {
        // From now on this id is never talked to over plain HTTP.
        store_->setBool(keys::bridgeSecure(link_->bridgeId), true);
        if (!link_->pin.empty()) store_->setString(keys::bridgePin(link_->bridgeId), link_->pin);
    }
    return kDone;
}

int Session::requireBridge() {
    if (address_.hostPort.empty()) {
        err_ << "lumora-ctl: no bridge address known; pair first with 'lumora-ctl pair ADDRESS' or "
                "give --bridge\n";
        return kBridgeFailed;
    }
    if (user_.empty()) {
        err_ << "lumora-ctl: not paired with the bridge at " << address_.hostPort
             << "; run 'lumora-ctl pair'\n";
        return kBridgeFailed;
    }
    return link();
}

int Session::read(bool scenes) {
    if (int rc = requireBridge()) return rc;
    TlsRefusal refusal;
    auto failed = [&](const FetchError& error, Collection what) {
        if (error == FetchError::certificateRefused) {
            err_ << "lumora-ctl: the bridge at " << bridge().hostPort << " " << describe(refusal)
                 << "\n";
            return kBridgeFailed;
        }
        if ((error == FetchError::noData || error == FetchError::unreadable) &&
            error.cause == HttpError::none)
            consoleLine(console_, fetchErrorLine(error, what));
        err_ << "lumora-ctl: " << readProblem(error, bridge().hostPort) << "\n";
        return kBridgeFailed;
    };
    auto l = fetchLightsNow(transport_, bridge(), &fetchMemo_, &refusal);
    if (auto* e = std::get_if<FetchError>(&l)) return failed(*e, Collection::lights);
    lights_ = orderedLights(std::get<std::vector<HueLight>>(l), *store_);
    auto g = fetchGroupsNow(transport_, bridge(), &fetchMemo_, &refusal);
    if (auto* e = std::get_if<FetchError>(&g)) return failed(*e, Collection::groups);
    groups_ = std::get<std::vector<HueGroup>>(g);
    if (scenes) {
        auto s = fetchScenesNow(httpSend, bridge(), &fetchMemo_);
        if (auto* e = std::get_if<FetchError>(&s)) return failed(*e, Collection::scenes);
        scenes_ = orderedScenes(std::get<std::vector<HueScene>>(s));
    }
    rememberNames(scenes);
    return kDone;
}

// For shell completion. The demo bridge's names are not the user's: a demo
// run stores nothing.
void Session::rememberNames(bool scenes) {
    if (opts_.demo) return;
    Names names;
    names.lights.emplace();
    for (const auto& l : lights_) names.lights->push_back(l.name);
    names.rooms.emplace();
    for (const auto& g : groups_) names.rooms->push_back(g.name);
    if (scenes) {
        names.scenes.emplace();
        for (const auto& s : scenes_) names.scenes->push_back(s.name);
    }
    updateNamesCache(namesCacheFile(), names);
}

int Session::pair() {
    if (opts_.words.size() > 2) throw UsageError{"pair takes at most one address"};
    if (opts_.words.size() > 1) {
        address_ = typedAddress(opts_.words[1]);
        link_.reset();
    }
    if (address_.hostPort.empty())
        throw UsageError{"pair needs the bridge's address (or run 'lumora-ctl discover')"};
    if (int rc = link()) return rc;
    const std::string address = link_->hostPort;
    err_ << "Asking the bridge at " << address << " for a user name...\n";
    const PairingAnswer answer = requestUserName(*link_, transport_);
    const std::string& r = answer.result;
    if (r == kPressButton) {
        err_ << "lumora-ctl: the bridge wants its link button pressed; press it, then run "
                "'lumora-ctl pair "
             << address << "' again within 30 seconds\n";
        return kBridgeFailed;
    }
    if (r == kNoConnection) {
        using Kind = CommandOutcome::Kind;
        const CommandOutcome& reply = answer.reply;
        if (reply.kind == Kind::noReply &&
            (reply.error == HttpError::connectionFailed || reply.error == HttpError::invalidUrl))
            err_ << "lumora-ctl: cannot reach a bridge at " << address << "\n";
        else if (reply.kind == Kind::accepted)
            err_ << "lumora-ctl: the bridge at " << address
                 << " answered pairing with something that is not a pairing reply\n";
        else
            err_ << "lumora-ctl: pairing with the bridge at " << address
                 << " failed: " << reply.describe() << "\n";
        return kBridgeFailed;
    }
    if (r == kNoUserName) {
        err_ << "lumora-ctl: the bridge at " << address
             << " accepted pairing but sent no user name; nothing was stored\n";
        return kBridgeFailed;
    }
    user_ = trimmed(r);
    // The bridge hands a user name out once: whatever keeps it from being
    // stored, the person gets it, once, on standard output.
    auto handOver = [&] {
        err_ << "lumora-ctl: the bridge will not show this user name again; keep it and give it "
                "with --user until it can be stored:\n";
        out_ << user_ << "\n";
        return kBridgeFailed;
    };
    // As in the tray program, the pair is stored once a read with it worked.
    if (read(false)) {
        err_ << "lumora-ctl: paired with the bridge at " << address
             << ", but could not read its lights; nothing was stored\n";
        return handOver();
    }
    // The user name first: an address alone is of no use; the id beside the
    // address proves the link next time.
    StoreResult stored = store_->trySetString(keys::bridgeUser, user_);
    if (stored) stored = store_->trySetString(keys::bridgeIP, address);
    if (stored)
        stored = link_->bridgeId.empty() ? store_->tryRemove(keys::bridgeID)
                                         : store_->trySetString(keys::bridgeID, link_->bridgeId);
    if (!stored) {
        err_ << "lumora-ctl: paired with the bridge at " << address << ", but "
             << stored.problem->describe() << "\n";
        return handOver();
    }
    out_ << "Paired with the bridge at " << address << " (" << lights_.size() << " lights, "
         << connectionLine(*link_) << ").";
    if (!storeFile_.empty()) out_ << " Stored in " << storeFile_ << ".";
    out_ << "\n";
    return kDone;
}

int Session::discover() {
    if (opts_.words.size() > 1) throw UsageError{"discover takes no argument"};
    DetectBridgeOptions options;
    options.browserFactory = [this] { return makeAvahiBrowser(console_); };
    options.console = console_;
    options.stageSink = [this](std::string_view line) { err_ << line << "\n" << std::flush; };
    // The DNS-SD stage alone may take about ten seconds.
    err_ << "Looking for a bridge (this can take up to a minute)...\n";
    const FoundBridge found = findBridge(options);
    if (found.address.empty()) {
        err_ << "lumora-ctl: no bridge found\n";
        return kBridgeFailed;
    }
    out_ << found.address << "\n";
    if (!found.id.empty()) err_ << "Bridge id " << found.id << "\n";
    return kDone;
}

int Session::list(const std::string& what) {
    if (int rc = read(what == "scenes")) return rc;
    if (opts_.json) {
        json j = what == "lights" ? json(lights_) : what == "rooms" ? json(groups_) : json(scenes_);
        out_ << j.dump(2) << "\n";
        return kDone;
    }
    std::ostringstream t;
    if (what == "lights") {
        t << std::left << std::setw(5) << "ID" << std::setw(28) << "NAME" << std::setw(5) << "ON"
          << std::setw(5) << "BRI"
          << "CAN\n";
        for (const auto& l : lights_) {
            std::string can = l.allows_color        ? "colour"
                              : l.allows_ambient    ? "white"
                              : l.allows_brightness ? "dim"
                                                    : "switch";
            t << std::setw(5) << l.lamp_id << std::setw(28) << l.name << std::setw(5)
              << onOff(l.is_on) << std::setw(5) << l.brightness << can << "\n";
        }
    } else if (what == "rooms") {
        t << std::left << std::setw(5) << "ID" << std::setw(24) << "NAME" << std::setw(7) << "TYPE"
          << std::setw(5) << "ON" << std::setw(5) << "BRI"
          << "LIGHTS\n";
        for (const auto& g : groups_) {
            std::string ids;
            for (const auto& id : g.lights) ids += (ids.empty() ? "" : ",") + id;
            t << std::setw(5) << g.group_id << std::setw(24) << g.name << std::setw(7) << g.type
              << std::setw(5) << onOff(g.any_on) << std::setw(5) << g.brightness << ids << "\n";
        }
    } else {
        t << std::left << std::setw(17) << "ID" << std::setw(24) << "NAME"
          << "ROOM\n";
        for (const auto& s : scenes_) {
            std::string room = s.group;
            for (const auto& g : groups_)
                if (g.group_id == s.group) room = g.name;
            t << std::setw(17) << s.scene_id << std::setw(24) << s.name << room << "\n";
        }
    }
    out_ << t.str();
    return kDone;
}

int Session::status() {
    if (address_.hostPort.empty()) {
        out_ << "bridge: none stored\n";
        return kBridgeFailed;
    }
    out_ << "bridge: " << address_.hostPort << "\n";
    out_ << "user: " << (user_.empty() ? "not paired" : userNameHint(user_)) << "\n";
    if (user_.empty()) return kBridgeFailed;
    int rc = link();
    if (rc == kDone) out_ << "connection: " << connectionLine(*link_) << "\n";
    if (rc == kDone) rc = read(true);
    out_ << "connected: " << (rc == kDone ? "yes" : "no") << "\n";
    if (rc == kDone)
        out_ << "lights: " << lights_.size() << ", rooms and zones: " << groups_.size()
             << ", scenes: " << scenes_.size() << "\n";
    return rc;
}

int Session::drain() {
    if (!loop_->runUntil([&] { return controller_->queueDrained(); }, std::chrono::seconds(60))) {
        err_ << "lumora-ctl: the bridge did not take the commands in time\n";
        return kBridgeFailed;
    }
    std::lock_guard lock(problemsMutex_);
    for (const auto& p : problems_) err_ << "lumora-ctl: " << p << "\n";
    return problems_.empty() ? kDone : kBridgeFailed;
}

void Session::report(const HueLight* light, const HueGroup* group) {
    // Read back what the bridge now reports.
    if (light) {
        auto l = fetchLightsNow(transport_, bridge(), &fetchMemo_);
        if (auto* ls = std::get_if<std::vector<HueLight>>(&l))
            for (const auto& x : *ls)
                if (x.lamp_id == light->lamp_id)
                    out_ << x.name << " (light " << x.lamp_id << "): " << onOff(x.is_on) << ", bri "
                         << x.brightness << (x.allows_color ? ", hue " + std::to_string(x.hue) : "")
                         << (x.allows_ambient ? ", ct " + std::to_string(x.color_temperature) : "")
                         << "\n";
    }
    if (group) {
        auto g = fetchGroupsNow(transport_, bridge(), &fetchMemo_);
        if (auto* gs = std::get_if<std::vector<HueGroup>>(&g))
            for (const auto& x : *gs)
                if (x.group_id == group->group_id)
                    out_ << x.name << " (" << x.type << " " << x.group_id
                         << "): " << (x.any_on ? "on" : "off") << ", bri " << x.brightness
                         << ", hue " << x.hue << ", ct " << x.color_temperature << "\n";
    }
}

int Session::watch() {
    if (int rc = requireBridge()) return rc;
    return ctl::watch({transport_, bridge(), model_, opts_.json}, out_, err_);
}

int Session::act(const std::function<void(BridgeController&)>& act) {
    if (int rc = read(false)) return rc;
    makeController();
    act(*controller_);
    return drain();
}

void Session::makeController() {
    Services services = servicesWith(loop_, store_);
    services.console = console_;
    services.bridgeAnchors = anchors_;
    // Keep the bridge's complaints: the queue itself ignores replies. The
    // user name in a URL is the one secret: only its hint is shown.
    services.transport = [this](const HttpRequest& req) {
        HttpResponse res = transport_(req);
        const CommandOutcome outcome = commandOutcome(res);
        if (outcome.ok()) return res;
        std::string line;
        if (outcome.kind == CommandOutcome::Kind::refused) {
            line = outcome.describe();
        } else {
            line = req.method + " " + req.url + ": " + outcome.describe();
        }
        std::lock_guard lock(problemsMutex_);
        problems_.push_back(withUserNameMasked(std::move(line), user_));
        return res;
    };
    controller_ = std::make_unique<BridgeController>(std::move(services));
    auto& s = controller_->settings();
    s.setHueIP(link_->hostPort);
    controller_->setLink(*link_);
    s.setHueKey(user_);
    s.setLights(lights_);
    s.setGroups(groups_);
    s.setScenes(scenes_);
}

int Session::command(const std::vector<std::string>& words) {
    const std::string& verb = words[0];
    const bool needsValue = verb == "bri" || verb == "hue" || verb == "ct";
    const bool needsTarget = needsValue || verb == "on" || verb == "off" || verb == "scene";
    const size_t expected = needsValue ? 3 : needsTarget ? 2 : 1;
    if (words.size() != expected)
        throw UsageError{verb + (needsValue    ? " takes a target and a value"
                                 : needsTarget ? " takes one target"
                                               : " takes no argument")};
    std::int64_t value = 0;
    if (needsValue) {
        auto v = number(words[2]);
        const std::int64_t lo = verb == "ct" ? 153 : 0;
        const std::int64_t hi = verb == "bri" ? 255 : verb == "hue" ? 65535 : 500;
        if (!v || *v < lo || *v > hi)
            throw UsageError{verb + " takes a whole number from " + std::to_string(lo) + " to " +
                             std::to_string(hi)};
        value = *v;
    }

    if (int rc = read(verb == "scene")) return rc;
    makeController();

    std::optional<HueLight> light;
    std::optional<HueGroup> group;
    if (verb == "scene") {
        auto found = findScene(words[1], scenes_);
        if (auto* e = std::get_if<TargetError>(&found)) throw UsageError{e->message};
        const auto& scene = std::get<HueScene>(found);
        recallScene(*controller_, scene.scene_id);
        err_ << "Recalling scene \"" << scene.name << "\"...\n";
    } else if (verb == "all-off") {
        if (opts_.in) {
            controller_->allOffInMinutes(static_cast<int>(*opts_.in));
            err_ << "Asking the bridge to switch every light off in " << *opts_.in
                 << " minutes...\n";
        } else {
            controller_->allOff();
            err_ << "Switching " << lights_.size() << " lights off...\n";
        }
    } else {
        auto found = findTarget(words[1], lights_, groups_);
        if (auto* e = std::get_if<TargetError>(&found)) throw UsageError{e->message};
        const auto& t = std::get<Target>(found);
        if (auto* l = std::get_if<HueLight>(&t))
            light = *l;
        else
            group = std::get<HueGroup>(t);
        if (verb == "on" || verb == "off") {
            if (light)
                setLampOn(*controller_, *light, verb == "on");
            else
                setGroupOn(*controller_, *group, verb == "on");
        } else if (verb == "bri") {
            if (light)
                setLampBrightness(*controller_, *light, value);
            else
                setGroupBrightness(*controller_, *group, value);
        } else if (verb == "hue") {
            if (light)
                setLampHue(*controller_, *light, value);
            else
                setGroupHue(*controller_, *group, value);
        } else {
            if (light)
                setLampTemperature(*controller_, *light, value);
            else
                setGroupTemperature(*controller_, *group, value);
        }
    }
    const int rc = drain();
    if (rc == kDone) report(light ? &*light : nullptr, group ? &*group : nullptr);
    return rc;
}

}  // namespace lumora::ctl
