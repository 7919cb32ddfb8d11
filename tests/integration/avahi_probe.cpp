// lumora-discover-probe: runs bridge discovery on the real Avahi back-end and reports
// what it found, for the namespace test to start inside the browsing side's namespace.
//
//   lumora-discover-probe            findBridge(); prints "RESULT <ip>" (empty when none), then
//                                    "ID <bridge id>" (empty when its record named none)
//   lumora-discover-probe --resolve  also browses once more and prints the first service's
//                                    "SERVICE <name>|<ip>:<port>" as the back-end resolved it
//
// Discovery's own lines go to standard error ("stage: ..."), ZeroConf's to standard output.
// Exit status 0 when a bridge was found.

#include <arpa/inet.h>
#include <netinet/in.h>

#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>

#include "bridge/avahi/avahi_browser.h"
#include "bridge/discovery.h"

namespace {

using namespace std::chrono_literals;

// Browses for the service and resolves the first one, keeping what it resolved to.
class FirstService final : public lumora::DnsSdDelegate {
  public:
    void netServiceBrowserWillSearch(lumora::DnsSdBrowser&) override {}
    void netServiceDidNotResolve(lumora::DnsSdBrowser&, const lumora::DnsSdService&) override {
        finish("");
    }
    void netServiceBrowserDidStopSearch(lumora::DnsSdBrowser&) override {}
    void netServiceBrowserDidFind(lumora::DnsSdBrowser& browser,
                                  const lumora::DnsSdService& service) override {
        {
            std::lock_guard lock(mutex_);
            if (asked_) return;
            asked_ = true;
            name_ = service.name;
        }
        browser.stop();
        browser.resolve(service, 3s);
    }
    void netServiceDidResolveAddress(
        lumora::DnsSdBrowser&, const lumora::DnsSdService&,
        const std::vector<lumora::SocketAddressData>& addresses) override {
        for (const auto& data : addresses) {
            if (data.size() < sizeof(sockaddr_in)) continue;
            sockaddr_in in{};
            std::memcpy(&in, data.data(), sizeof in);
            if (in.sin_family != AF_INET) continue;
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
            finish(std::string(text) + ":" + std::to_string(ntohs(in.sin_port)));
            return;
        }
        finish("");
    }

    std::string wait(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        done_.wait_for(lock, timeout, [this] { return finished_; });
        return finished_ ? name_ + "|" + where_ : "";
    }

  private:
    void finish(std::string where) {
        {
            std::lock_guard lock(mutex_);
            where_ = std::move(where);
            finished_ = true;
        }
        done_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable done_;
    bool asked_ = false;
    bool finished_ = false;
    std::string name_;
    std::string where_;
};

}  // namespace

int main(int argc, char** argv) {
    bool resolve = argc > 1 && std::strcmp(argv[1], "--resolve") == 0;
    lumora::DetectBridgeOptions options;
    options.browserFactory = [] { return lumora::makeAvahiBrowser(); };
    options.stageSink = [](std::string_view line) { std::cerr << "stage: " << line << std::endl; };
    const lumora::FoundBridge found = lumora::findBridge(options);
    std::cout << "RESULT " << found.address << "\nID " << found.id << std::endl;

    if (resolve) {
        FirstService first;
        auto browser = lumora::makeAvahiBrowser();
        browser->setDelegate(&first);
        browser->browse(lumora::ZeroConf::kServiceType, "");
        std::cout << "SERVICE " << first.wait(5s) << std::endl;
    }
    return found.address.empty() ? 1 : 0;
}
