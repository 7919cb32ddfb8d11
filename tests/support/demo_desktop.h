#pragma once
// For tests that run the program's demo on a private desktop: its profile,
// its bridge's address, that bridge's API, and the panel window.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "bridge/http.h"
#include "support/desktop_session.h"
#include "support/eventually.h"

namespace lumora::testing {

inline const std::string kPanelTitle = "Lumora panel";

// The demo's settings file in the session.
inline std::filesystem::path demoProfile(const DesktopSession& s) {
    return std::filesystem::path(s.variables().at("XDG_CONFIG_HOME")) / "lumora-demo" /
           "defaults.json";
}
inline void writeDemoProfile(const DesktopSession& s, const std::string& json) {
    std::filesystem::create_directories(demoProfile(s).parent_path());
    std::ofstream(demoProfile(s)) << json;
}

// The bridge address the demo prints once it runs; empty when it did not.
inline std::string demoBridge(ChildProcess* demo) {
    const std::string prefix = "lumora: demo bridge at ";
    const auto line = demo ? demo->waitLine(prefix, std::chrono::seconds(10)) : std::nullopt;
    return line ? line->substr(prefix.size()) : "";
}

// A request to the demo's bridge: `bridge` is the URL it printed, or
// HOST:PORT for plain HTTP. Its HTTPS has a root of its own, so the test
// takes the certificate it presents, as a person trusting a software bridge
// would. Null when there is no JSON answer.
inline nlohmann::json bridgeRequest(const std::string& bridge, const std::string& path,
                                    const std::string& method = "GET",
                                    const std::string& body = "") {
    static std::map<std::string, std::string> pins;
    const std::string base = bridge.find("://") == std::string::npos ? "http://" + bridge : bridge;
    HttpRequest r;
    r.method = method;
    r.url = base + path;
    r.body = body;
    r.timeout = std::chrono::seconds(3);
    if (base.rfind("https://", 0) == 0) {
        std::string& pin = pins[base];
        if (pin.empty()) {
            HttpRequest probe;
            probe.url = base + "/api/config";
            probe.tls = TlsIdentity::pinned(std::string(64, '0'));
            probe.timeout = r.timeout;
            pin = httpSend(probe).tls.fingerprint;
        }
        r.tls = TlsIdentity::pinned(pin);
    }
    const HttpResponse reply = httpSend(r);
    if (!reply.ok() || !reply.body) return nullptr;
    return nlohmann::json::parse(*reply.body, nullptr, false);
}

// The mapped top level whose title starts with `title`.
inline std::optional<DesktopSession::Window> mappedWindow(DesktopSession& s,
                                                          const std::string& title) {
    for (const auto& w : s.topLevels()) {
        if (w.name.rfind(title, 0) == 0 && w.mapped) return w;
    }
    return std::nullopt;
}

}  // namespace lumora::testing
