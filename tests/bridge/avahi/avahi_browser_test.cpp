// The Avahi back-end where no daemon can be reached: the DNS-SD stage finds nothing,
// says why, and detectBridge still ends after its polls.

#include "bridge/avahi/avahi_browser.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "bridge/discovery.h"

namespace lumora {
namespace {

// Points the system bus at a socket path that does not exist, so the test can never
// reach (and make browse) a daemon on the machine's real interfaces.
void useMissingSystemBus() {
    std::string path =
        (std::filesystem::temp_directory_path() / ("lumora-no-bus-" + std::to_string(getpid())))
            .string();
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
}

TEST(AvahiBrowser, WithoutADaemonDetectBridgeFindsNothingAndSaysWhy) {
    useMissingSystemBus();
    int sleeps = 0;
    std::vector<std::string> lines;
    DetectBridgeOptions options;
    options.webUrl = "no url";
    options.browserFactory = [] { return makeAvahiBrowser(); };
    options.sleep = [&sleeps](std::chrono::milliseconds) { ++sleeps; };
    options.stageSink = [&lines](std::string_view line) { lines.emplace_back(line); };

    testing::internal::CaptureStdout();
    std::string ip = detectBridge(options);
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(ip, "");
    EXPECT_EQ(sleeps, 20);
    EXPECT_EQ(out.rfind("[ZeroConf] Avahi unavailable: ", 0), 0u) << out;
    // Never searching: the status stays at its initial value.
    EXPECT_EQ(lines.at(4), "[detectBridge] ZeroConf Status 0...");
    EXPECT_EQ(lines.back(), "[detectBridge] [FAILED] ZeroConf giving up...");
}

}  // namespace
}  // namespace lumora
