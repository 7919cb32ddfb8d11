// What a reply to a command says: the status before the body, the bridge's
// refusals from a 2xx body, and words fit for a terminal.
#include "bridge/command_reply.h"

#include <gtest/gtest.h>

#include "bridge/bridge_endpoint.h"
#include "made_up_replies.h"

using namespace lumora;
using namespace lumora::test;
using Kind = CommandOutcome::Kind;

TEST(CommandOutcome, StatusComesFirstThenTheBridgesOwnErrors) {
    const std::string success = R"([{"success":{"username":"issued"}}])";
    struct Case {
        HttpResponse reply;
        Kind kind;
        const char* says;
    } cases[] = {
        {reply(200, R"([{"success":{"/lights/1/state/on":true}}])"), Kind::accepted, "took it"},
        {reply(204, ""), Kind::accepted, "took it"},
        // A busy bridge or a proxy may send anything with its status.
        {reply(503, success), Kind::badStatus, "the bridge answered 503 Service Unavailable"},
        {reply(429, "<html>Too Many Requests</html>"), Kind::busy,
         "the bridge is busy (429 Too Many Requests)"},
        {reply(500, R"([{"error":{"type":901,"description":"Internal error, 404"}}])"),
         Kind::badStatus, "the bridge answered 500 Internal Server Error"},
        {reply(599, success), Kind::badStatus, "the bridge answered HTTP 599"},
        {reply(101, success), Kind::badStatus, "the bridge answered HTTP 101"},
        {reply(301, "", {{"location", "https://10.0.0.2/api/u/lights/1/state"}}), Kind::redirected,
         "the bridge answered 301 Moved Permanently, pointing to "
         "https://10.0.0.2/api/u/lights/1/state; redirects are not followed"},
        {reply(302, success), Kind::redirected,
         "the bridge answered 302 Found, without saying where to; redirects are not followed"},
        {reply(200,
               R"([{"success":{"/lights/1/state/on":true}},
                   {"error":{"type":201,"description":"parameter, bri, is not modifiable"}}])"),
         Kind::refused, "the bridge refused: parameter, bri, is not modifiable"},
        {failed(HttpError::timedOut), Kind::noReply, "the bridge did not answer in time"},
        {failed(HttpError::bodyTooLarge), Kind::noReply, "the reply is larger than 16 MiB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        const CommandOutcome o = commandOutcome(c.reply);
        EXPECT_EQ(o.kind, c.kind);
        EXPECT_EQ(o.ok(), c.kind == Kind::accepted);
        EXPECT_NE(o.describe().find(c.says), std::string::npos) << o.describe();
    }
}

TEST(CommandOutcome, WhatTheBridgeSaysCannotSteerATerminalOrFloodIt) {
    std::string many = "[";
    for (int i = 0; i < 1000; ++i) many += R"({"error":{"type":7,"description":"no"}},)";
    many.back() = ']';
    CommandOutcome o = commandOutcome(reply(200, many));
    EXPECT_EQ(o.refusals.size(), kMaxRefusalsKept);
    EXPECT_EQ(o.moreRefusals, 1000 - kMaxRefusalsKept);
    EXPECT_NE(o.describe().find("(and 992 more)"), std::string::npos);

    o = commandOutcome(
        reply(200, R"([{"error":{"type":2,"description":"bad\u001b[2J\u009b31m\u202Eevil\n"}}])"));
    ASSERT_EQ(o.refusals.size(), 1u);
    EXPECT_EQ(o.refusals[0], "bad\uFFFD[2J\uFFFD31m\uFFFDevil\uFFFD");
    o = commandOutcome(
        reply(301, "", {{"Location", "https://x/\x1b]0;title\x07" + std::string(500, 'a')}}));
    EXPECT_EQ(o.location.find('\x1b'), std::string::npos);
    EXPECT_LT(o.location.size(), 200u);
    EXPECT_EQ(printable("ab\xff"
                        "c",
                        2),
              "ab\u2026");
}

TEST(UserNameMask, OnlyTheWholeNameInABridgePathGoes) {
    const std::string user = "hdOIRli7m4e8ojJABvWxeoY-YznaMh5c7wBG5zmj";
    EXPECT_EQ(withUserNameMasked("PUT http://10.0.0.2/api/" + user + "/lights/1/state", user),
              "PUT http://10.0.0.2/api/hdOIRl.../lights/1/state");
    EXPECT_EQ(withUserNameMasked("see https://h/api/" + user, user), "see https://h/api/hdOIRl...");
    EXPECT_EQ(withUserNameMasked("/api/" + user + "x/lights", user), "/api/" + user + "x/lights");
    // A short name is never looked for outside a bridge path.
    EXPECT_EQ(withUserNameMasked("PUT /api/u/lights", "u"), "PUT /api/.../lights");
    EXPECT_EQ(withUserNameMasked("/api/u/lights", ""), "/api/u/lights");
}
