#include "bridge/bridge_address.h"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

std::string bare(std::string_view typed) {
    BridgeAddress a = parseBridgeAddress(typed);
    return a.ok() ? a.hostPort : "<" + std::to_string(static_cast<int>(a.problem)) + ">";
}

const std::string kInvalid = "<" + std::to_string(static_cast<int>(AddressProblem::invalid)) + ">";

}  // namespace

TEST(BridgeAddress, FormsPeoplePasteBecomeTheBareHostAndPort) {
    EXPECT_EQ(bare("192.168.1.20"), "192.168.1.20");
    EXPECT_EQ(bare("127.0.0.1:8080"), "127.0.0.1:8080");
    EXPECT_EQ(bare("http://127.0.0.1:8080"), "127.0.0.1:8080");
    EXPECT_EQ(bare("HTTP://bridge.local/"), "bridge.local");
    EXPECT_EQ(bare("  http://127.0.0.1:80/ \n"), "127.0.0.1:80");
    EXPECT_EQ(bare("[fe80::1]:80"), "[fe80::1]:80");
    EXPECT_EQ(bare("http://[::1]/"), "[::1]");
    // White space outside ASCII, as pasted from a page or a chat.
    EXPECT_EQ(bare("\xC2\xA0"
                   "10.0.0.2\xE2\x80\xA8"),
              "10.0.0.2");
    EXPECT_EQ(bare("\xE3\x80\x80"
                   "10.0.0.2\xE2\x80\xA9\xEF\xBB\xBF"),
              "10.0.0.2");
    EXPECT_EQ(bare("\t\xE2\x80\x83 10.0.0.2 \xE2\x80\xAF"), "10.0.0.2");
}

TEST(BridgeAddress, WhatFormsNoHostAndPortIsRefused) {
    for (const char* typed :
         {"127.0.0.1 :80", "127.0.0.1: 80", "bridge local", "http://127.0.0.1/api",
          "127.0.0.1/api/x", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "host:port", "http://",
          "http:///", "ftp://127.0.0.1", "user@127.0.0.1", "127.0.0.1?x=1", "127.0.0.1#top",
          "fe80::1", "http://127.0.0.1//",
          "1\xC2\xA0"
          "2.0.0.1",
          "br\xC3\xBC"
          "cke"}) {
        EXPECT_EQ(bare(typed), kInvalid) << typed;
    }
    EXPECT_EQ(parseBridgeAddress(" \xC2\xA0\n").problem, AddressProblem::empty);
    EXPECT_EQ(bare("https://127.0.0.1/x"), kInvalid);
}

TEST(BridgeAddress, HttpsIsAcceptedAndRemembered) {
    const BridgeAddress a = parseBridgeAddress(" HTTPS://bridge.local:8443/");
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(a.hostPort, "bridge.local:8443");
    EXPECT_TRUE(a.https);
    EXPECT_FALSE(parseBridgeAddress("http://bridge.local").https);
    EXPECT_FALSE(parseBridgeAddress("bridge.local").https);
}

TEST(BridgeAddress, MessagesNameTheTextAndTheAcceptedForms) {
    const std::string invalid = addressProblemMessage(AddressProblem::invalid, " 127.0.0.1 :80\n");
    EXPECT_NE(invalid.find("\"127.0.0.1 :80\" is not a valid bridge address"), std::string::npos)
        << invalid;
    EXPECT_NE(invalid.find("HOST:PORT"), std::string::npos);
}
