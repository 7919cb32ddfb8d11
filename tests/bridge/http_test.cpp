#include "bridge/http.h"

#include <gtest/gtest.h>

using namespace lumora;

TEST(Url, AcceptsBridgeAddressesWithAndWithoutPort) {
    const struct {
        const char* url;
        const char* host;
        int port;
        const char* target;
    } cases[] = {
        {"http://192.168.1.20/api/key/lights", "192.168.1.20", 80, "/api/key/lights"},
        {"http://127.0.0.1:8080/api", "127.0.0.1", 8080, "/api"},
        {"https://bridge.local", "bridge.local", 443, "/"},
        {"http://[::1]:81/x?y=1#frag", "::1", 81, "/x?y=1"},  // no fragment on the wire
    };
    for (const auto& c : cases) {
        const auto u = parseUrl(c.url);
        ASSERT_TRUE(u) << c.url;
        EXPECT_EQ(u->host, c.host) << c.url;
        EXPECT_EQ(u->port, c.port) << c.url;
        EXPECT_EQ(u->target, c.target) << c.url;
    }
}

TEST(Url, RefusesWhatCannotBeAnAddress) {
    for (const char* bad :
         {"", "http://", "http://my bridge/api", "http://1.2.3.4 /api",
          "http://1.2.3.4/api/a key/lights", "ftp://1.2.3.4/", "1.2.3.4/api", "http://1.2.3.4:0/",
          "http://1.2.3.4:70000/", "http://1.2.3.4:/", "http://1.2.3.4:8o/", "http://user@1.2.3.4/",
          "http://1.2.3.4/\"x\"", "http://h\xc3\xa9.local/", "http://1.2.3.4/\n"}) {
        EXPECT_FALSE(parseUrl(bad)) << bad;
    }
}

TEST(Http, InvalidAddressFailsWithoutTryingTheNetwork) {
    HttpRequest r;
    r.url = "http://no such host/";
    EXPECT_EQ(httpSend(r).error, HttpError::invalidUrl);
}

TEST(Http, NothingListeningIsAConnectionFailure) {
    HttpRequest r;
    r.url = "http://127.0.0.1:1/";
    r.timeout = std::chrono::seconds(2);
    auto res = httpSend(r);
    EXPECT_EQ(res.error, HttpError::connectionFailed);
    EXPECT_FALSE(res.body);
}
