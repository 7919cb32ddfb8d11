// What a hostile client may send: bodies nested without end, oversized heads
// and bodies, a request log fed with large bodies. The simulator answers or
// closes, and stays up.

#include "sim_test_support.h"
#include "simulator/request_body.h"

namespace lumora::sim::test {
namespace {

using namespace std::chrono_literals;

std::string nested(int depth, const std::string& inner = "1") {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

class HostileInputTest : public SimServerTest {};

TEST_F(HostileInputTest, DeepBodiesAreInvalidJsonEverywhereAndTheServerStaysUp) {
    server_->pressLinkButton();
    const std::string deep = nested(100000);
    const std::pair<std::string, std::string> writes[] = {
        {"POST", "/api"},
        {"PUT", api("/lights/1/state")},
        {"PUT", api("/lights/1")},
        {"PUT", api("/groups/1/action")},
        {"POST", api("/schedules")},
        {"PUT", api("/config")},
    };
    for (const auto& [method, path] : writes) {
        RawReply reply =
            rawRequest(server_->port(), method, path, R"({"devicetype":)" + deep + "}");
        ASSERT_EQ(reply.status, 200) << method << " " << path;
        Json body = Json::parse(reply.body);
        EXPECT_EQ(body[0]["error"]["type"], 2) << method << " " << path << ": " << reply.body;
    }
    EXPECT_EQ(rawRequest(server_->port(), "POST", "/sim/users", deep).status, 400);

    // Up to the limit a body is read as usual: the value is quoted back.
    const std::string deepest = nested(kMaxJsonDepth - 1);
    Json reply = post("/api", R"({"devicetype":)" + deepest + "}");
    EXPECT_EQ(reply[0]["error"]["type"], 7);
    EXPECT_EQ(reply[0]["error"]["description"],
              "invalid value, " + deepest + ", for parameter, devicetype");
    EXPECT_EQ(get(api("/lights/1"))["state"]["on"], true);
}

TEST(NestingTest, CountsBracketsOutsideStringsOnly) {
    EXPECT_TRUE(nestingWithin(nested(3), 3));
    EXPECT_FALSE(nestingWithin(nested(4), 3));
    EXPECT_TRUE(nestingWithin(R"({"a":"[[[[[[","b":"\"{{{{{"})", 1));
    EXPECT_FALSE(nestingWithin(R"({"a":"\\",[[1]]})", 2));  // the string ends at the second quote
    EXPECT_TRUE(nestingWithin("]]]]][[", 2));               // not JSON, but not deep
}

}  // namespace
}  // namespace lumora::sim::test
