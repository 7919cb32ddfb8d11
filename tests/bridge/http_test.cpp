#include <gtest/gtest.h>

#include "bridge/http.h"

using namespace lumora;

TEST(Url, AcceptsBridgeAddressesWithAndWithoutPort) {
    auto u = parseUrl("http://192.168.1.20/api/key/lights");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "192.168.1.20");
    EXPECT_EQ(u->port, 80);
    EXPECT_EQ(u->target, "/api/key/lights");

    u = parseUrl("http://127.0.0.1:8080/api");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->port, 8080);

    u = parseUrl("https://bridge.local");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->port, 443);
    EXPECT_EQ(u->target, "/");

    u = parseUrl("http://[::1]:81/x?y=1#frag");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "::1");
    EXPECT_EQ(u->target, "/x?y=1");
}

TEST(Url, RefusesWhatCannotBeAnAddress) {
    for (const char* bad : {"", "http://", "http://my bridge/api", "http://1.2.3.4 /api",
                            "http://1.2.3.4/api/a key/lights", "ftp://1.2.3.4/", "1.2.3.4/api",
                            "http://1.2.3.4:0/", "http://1.2.3.4:70000/", "http://1.2.3.4:/",
                            "http://1.2.3.4:8o/", "http://user@1.2.3.4/", "http://1.2.3.4/\"x\"",
                            "http://h\xc3\xa9.local/", "http://1.2.3.4/\n"}) {
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
