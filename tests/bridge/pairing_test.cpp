#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "bridge/pairing.h"

using namespace lumora;

namespace {

// A loopback server that answers every POST /api with a canned body and
// remembers what it was sent.
class CannedBridge {
public:
    CannedBridge() {
        server_.Post("/api", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            lastBody_ = req.body;
            lastContentType_ = req.get_header_value("Content-Type");
            ++requests_;
            res.set_content(reply_, "application/json");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~CannedBridge() {
        server_.stop();
        thread_.join();
    }
    void reply(std::string body) {
        std::lock_guard lock(mutex_);
        reply_ = std::move(body);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string lastBody() {
        std::lock_guard lock(mutex_);
        return lastBody_;
    }
    std::string lastContentType() {
        std::lock_guard lock(mutex_);
        return lastContentType_;
    }
    int requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::string reply_;
    std::string lastBody_, lastContentType_;
    int requests_ = 0;
};

}  // namespace

TEST(Pairing, CondensesTheBridgeAnswerToThreeOutcomes) {
    CannedBridge bridge;
    struct Case {
        const char* reply;
        std::string expected;
    } cases[] = {
        {R"([{"error":{"type":101,"address":"","description":"link button not pressed"}}])", kPressButton},
        {R"([{"error":{"type":1,"address":"/","description":"unauthorized user"}}])", kPressButton},
        {R"([{"error":{"type":7,"address":"/devicetype","description":"invalid value"}}])", kNoConnection},
        {R"([{"success":{"username":"hdOIRli7m4e8ojJABvWxeoY-YznaMh5c7wBG5zmj"}},{"error":{"type":101}}])",
         "hdOIRli7m4e8ojJABvWxeoY-YznaMh5c7wBG5zmj"},
        {R"([{"success":{"username":"u","clientkey":"7CC0"}}])", "u"},
        {R"([{"error":{"type":101},"success":{"username":"u"}}])", kPressButton},
        {R"([{"success":{"username":""}}])", ""},
        {R"([{"success":{}}])", kNoConnection},
        {R"({"success":{"username":"u"}})", kNoConnection},
        {R"([])", kNoConnection},
        {R"([{"success":{"username":5}}])", kNoConnection},
        {R"([{"error":{"type":"101"}}])", kNoConnection},
        {R"([5])", kNoConnection},
        {"not json", kNoConnection},
        {"", kNoConnection},
    };
    for (const auto& c : cases) {
        bridge.reply(c.reply);
        EXPECT_EQ(manageBridge(bridge.address()), c.expected) << c.reply;
    }
    // The request is always the same fixed text.
    EXPECT_EQ(bridge.lastBody(), R"({"devicetype":"lumora#osx"})");
    EXPECT_EQ(bridge.lastContentType(), "application/json");
}

TEST(Pairing, UnusableAddressesNeverReachTheNetwork) {
    CannedBridge bridge;
    bridge.reply(R"([{"success":{"username":"u"}}])");
    EXPECT_EQ(manageBridge("127.0.0.1 :" + bridge.address().substr(10)), kNoConnection);
    EXPECT_EQ(manageBridge("my bridge"), kNoConnection);
    EXPECT_EQ(getBridgeAccess("not a url"), "");
    EXPECT_EQ(bridge.requests(), 0);
    EXPECT_EQ(manageBridge("127.0.0.1:1"), kNoConnection);  // nothing listens there
}
