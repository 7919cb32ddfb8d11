#pragma once
// A fixture whose suite shares one private X server, driven with xdotool.
// Tests skip, with the reason, when either program is missing.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/x11_support.h"

namespace lumora::testing {

class XvfbTest : public ::testing::Test {
  public:
    // For a main() that needs the display before any test (for a toolkit):
    // the suites then use this server and leave it alone.
    static void useServer(Xvfb* given) { server = given; }

  protected:
    static void SetUpTestSuite() {
        if (server) return;
        server = new Xvfb();
        owned = true;
    }
    static void TearDownTestSuite() {
        if (!owned) return;
        delete server;
        server = nullptr;
        owned = false;
    }
    // A derived SetUp calls this first and returns when IsSkipped().
    void SetUp() override {
        if (!server->failure.empty()) GTEST_SKIP() << "needs an X server: " << server->failure;
        xdotoolPath = findProgram("xdotool");
        if (xdotoolPath.empty()) GTEST_SKIP() << "needs xdotool on PATH";
    }
    // Runs xdotool with DISPLAY set for it alone.
    bool xdotool(std::vector<std::string> args) const {
        return runXdotool(xdotoolPath, server->display, std::move(args));
    }
    bool press(const std::string& keys) const { return xdotool({"key", "--clearmodifiers", keys}); }

    static inline Xvfb* server = nullptr;
    static inline bool owned = false;
    std::string xdotoolPath;
};

}  // namespace lumora::testing
