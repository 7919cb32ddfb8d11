// What a hostile client may send: bodies nested without end, oversized heads
// and bodies. The simulator answers or closes, and stays up. (The request
// log's excerpt of a large body is checked with the log, in the control API's
// tests.)

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

TEST_F(HostileInputTest, OversizedHeadsAndBodiesAreRefusedBeforeTheyAreRead) {
    const std::string put = "PUT " + api("/lights/1/state") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    std::string manyHeaders = "GET /discovery HTTP/1.1\r\n";
    for (int i = 0; i < 8000; ++i) manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
    std::string chunks = put + "Transfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 17; ++i) chunks += "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
    const struct {
        const char* what;
        std::string bytes;
        int status;
    } cases[] = {
        {"one long header", "GET /discovery HTTP/1.1\r\nX-Big: " + std::string(1 << 20, 'a'), 431},
        {"many headers", manyHeaders + "\r\n", 431},
        // The body is never sent: the refusal must not wait for it.
        {"declared body", put + "Content-Length: 10485760\r\n\r\n", 413},
        {"chunked body", chunks + "0\r\n\r\n", 413},
        {"two lengths", put + "Content-Length: 2\r\nContent-Length: 3\r\n\r\n{}", 400},
    };
    for (const auto& c : cases) {
        RawReply reply = exchange(server_->port(), c.bytes, 3s);
        EXPECT_EQ(reply.status, c.status) << c.what;
        EXPECT_EQ(reply.headers["connection"], "close") << c.what;
    }
    EXPECT_EQ(get(api("/lights/1"))["state"]["on"], true);
}

TEST_F(HostileInputTest, RequestsUpToTheCapsAreServed) {
    // A 1 MiB body: only "on" is a state key.
    std::string body = R"({"on":false,"filler":")";
    body += std::string((1 << 20) - body.size() - 2, 'f') + "\"}";
    ASSERT_EQ(body.size(), 1u << 20);
    std::string headers;
    while (headers.size() < 60 * 1024) headers += "X-Filler: " + std::string(100, 'h') + "\r\n";
    RawReply reply = exchange(server_->port(), requestBytes("PUT", api("/lights/1/state"), body,
                                                            headers + "Connection: close\r\n"));
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(successValue(Json::parse(reply.body)[0], "/lights/1/state/on"), false);

    // A chunked body with an extension, then a request behind it.
    const std::string chunked = "PUT " + api("/lights/2/state") +
                                " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                                "5;part=1\r\n{\"on\"\r\n7\r\n:false}\r\n0\r\n\r\n";
    reply = exchange(server_->port(),
                     chunked + requestBytes("GET", api("/lights/2"), {}, "Connection: close\r\n"));
    const std::size_t second = reply.bytes.find("HTTP/1.1", 1);
    ASSERT_NE(second, std::string::npos) << reply.bytes;
    EXPECT_NE(reply.bytes.find(R"("/lights/2/state/on":false)"), std::string::npos);
    RawReply light;
    const std::size_t at = parseHead(reply.bytes.substr(second), light);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(Json::parse(reply.bytes.substr(second + at))["state"]["on"], false);
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
