#pragma once
// Publishes the simulated bridge as a "_hue._tcp" service through the Avahi daemon on
// the system bus, the way a real bridge announces itself with mDNS.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::sim {

inline constexpr const char* kAdvertisedType = "_hue._tcp";

// "Philips Hue - " and the last six hex digits of the bridge id, upper case.
std::string advertisedInstanceName(std::string_view bridgeId);
// "bridgeid=<id in lower case>" and "modelid=<model>".
std::vector<std::string> advertisedTxtRecords(std::string_view bridgeId,
                                              std::string_view modelId = "BSB002");

class Advertiser {
  public:
    // Progress and failures, one line each; stderr when empty.
    explicit Advertiser(std::function<void(std::string_view)> log = {});
    ~Advertiser();  // withdraws the service
    Advertiser(const Advertiser&) = delete;
    Advertiser& operator=(const Advertiser&) = delete;

    // Starts publishing on every interface the daemon serves and returns at once; a
    // daemon that is not running yet is waited for. False when Avahi's client cannot be
    // set up at all (no system bus, for one).
    bool start(std::string_view bridgeId, std::string_view modelId, int port,
               std::string* error = nullptr);
    void stop();

    // True once the daemon reports the service established (after probing), waiting at
    // most `timeout` for it.
    bool waitEstablished(std::chrono::milliseconds timeout);
    std::string name() const;  // the published name, renamed after a collision

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumora::sim
