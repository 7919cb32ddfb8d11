#include "bridge/http_reply.h"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

// Whole and one byte at a time must agree: the network splits replies anywhere.
ParsedReply parsedBothWays(std::string_view bytes, const HttpReplyLimits& limits = {},
                           bool head = false) {
    const ParsedReply whole = parseHttpReply(bytes, limits, head);
    const ParsedReply bytewise = parseHttpReply(bytes, limits, head, 1);
    const std::string_view shown = bytes.substr(0, 80);
    EXPECT_EQ(whole.error, bytewise.error) << shown;
    EXPECT_EQ(whole.status, bytewise.status) << shown;
    EXPECT_EQ(whole.body, bytewise.body) << shown;
    if (whole.error == HttpError::none) EXPECT_EQ(whole.consumed, bytewise.consumed) << shown;
    return whole;
}

}  // namespace

TEST(HttpReply, ReadsEachFraming) {
    const struct {
        const char* name;
        std::string bytes;
        bool head;
        int status;
        const char* body;
        bool keepAlive;
    } cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloNEXT", false, 200, "hello",
         true},
        {"chunked with extensions and trailer",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "3;x=y\r\nabc\r\n2\r\nde\r\n0\r\nX-Trailer: 1\r\n\r\n",
         false, 200, "abcde", true},
        {"until close, HTTP/1.0", "HTTP/1.0 200 OK\r\n\r\nall of it", false, 200, "all of it",
         false},
        {"bare LF lines", "HTTP/1.1 404 Not Found\nContent-Length: 2\n\n[]", false, 404, "[]",
         true},
        {"no content", "HTTP/1.1 204 No Content\r\nContent-Length: 9\r\n\r\n", false, 204, "",
         true},
        {"head", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n", true, 200, "", true},
        {"interim reply first",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx", false, 200,
         "x", true},
        {"close asked", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\nx", false,
         200, "x", false},
        {"identity encoding",
         "HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\nContent-Length: 1\r\n\r\nx", false, 200,
         "x", true},
    };
    for (const auto& c : cases) {
        const ParsedReply r = parsedBothWays(c.bytes, {}, c.head);
        EXPECT_EQ(r.error, HttpError::none) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.body, c.body) << c.name;
        EXPECT_EQ(r.keepAlive, c.keepAlive) << c.name;
    }
    // What follows a reply belongs to no one: it is left unread.
    EXPECT_EQ(parseHttpReply(cases[0].bytes).consumed, cases[0].bytes.size() - 4);
}

TEST(HttpReply, RefusesMalformedOrEncodedReplies) {
    const struct {
        const char* name;
        std::string bytes;
        HttpError error;
    } cases[] = {
        {"not HTTP", "ICY 200 OK\r\n\r\n", HttpError::badReply},
        {"two-digit status", "HTTP/1.1 20 OK\r\n\r\n", HttpError::badReply},
        {"HTTP/2 status line", "HTTP/2 200 OK\r\n\r\n", HttpError::badReply},
        {"folded header", "HTTP/1.1 200 OK\r\nX: a\r\n b\r\nContent-Length: 0\r\n\r\n",
         HttpError::badReply},
        {"space before colon", "HTTP/1.1 200 OK\r\nContent-Length : 1\r\n\r\nx",
         HttpError::badReply},
        {"bare CR in a value", "HTTP/1.1 200 OK\r\nX: a\rb\r\nContent-Length: 0\r\n\r\n",
         HttpError::badReply},
        {"NUL in a value", std::string("HTTP/1.1 200 OK\r\nX: a\0b\r\n\r\n", 27),
         HttpError::badReply},
        {"both framings",
         "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         HttpError::badReply},
        {"lengths disagree", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nxx",
         HttpError::badReply},
        {"signed length", "HTTP/1.1 200 OK\r\nContent-Length: +1\r\n\r\nx", HttpError::badReply},
        {"chunk size not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
         HttpError::badReply},
        {"chunk overruns its size",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nxy\r\n0\r\n\r\n",
         HttpError::badReply},
        {"chunked not last", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, foo\r\n\r\n",
         HttpError::badReply},
        {"protocol switch", "HTTP/1.1 101 Switching Protocols\r\n\r\n", HttpError::badReply},
        {"gzip body", "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 3\r\n\r\nabc",
         HttpError::unsupportedEncoding},
        {"gzip transfer", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n",
         HttpError::unsupportedEncoding},
        {"cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc",
         HttpError::connectionFailed},
        {"nothing at all", "", HttpError::connectionFailed},
    };
    for (const auto& c : cases) {
        const ParsedReply r = parsedBothWays(c.bytes);
        EXPECT_EQ(r.error, c.error) << c.name;
        EXPECT_TRUE(r.body.empty()) << c.name;
    }
}

TEST(HttpReply, HoldsNoMoreThanItsCaps) {
    HttpReplyLimits limits;
    limits.maxHeaderBytes = 1024;
    limits.maxHeaderLines = 10;
    limits.maxBodyBytes = 100;
    const std::string head = "HTTP/1.1 200 OK\r\n";
    const struct {
        const char* name;
        std::string bytes;
        HttpError error;
    } cases[] = {
        {"one endless header line", head + "X: " + std::string(5000, 'a'),
         HttpError::headersTooLarge},
        {"endless status line", "HTTP/1.1 200 " + std::string(5000, 'a'),
         HttpError::headersTooLarge},
        {"many short lines",
         head +
             [] {
                 std::string s;
                 for (int i = 0; i < 11; ++i) s += "X: 1\r\n";
                 return s;
             }(),
         HttpError::headersTooLarge},
        {"interim replies without end",
         [] {
             std::string s;
             for (int i = 0; i < 100; ++i) s += "HTTP/1.1 100 Continue\r\n\r\n";
             return s;
         }(),
         HttpError::headersTooLarge},
        {"length over the cap", head + "Content-Length: 101\r\n\r\n", HttpError::bodyTooLarge},
        {"chunk over the cap", head + "Transfer-Encoding: chunked\r\n\r\n65\r\n",
         HttpError::bodyTooLarge},
        {"chunks adding up over the cap",
         head + "Transfer-Encoding: chunked\r\n\r\n" +
             [] {
                 std::string s;
                 for (int i = 0; i < 11; ++i) s += "a\r\n0123456789\r\n";
                 return s;
             }(),
         HttpError::bodyTooLarge},
        {"close-delimited over the cap", head + "\r\n" + std::string(101, 'x'),
         HttpError::bodyTooLarge},
        {"endless chunk size line",
         head + "Transfer-Encoding: chunked\r\n\r\n1;" + std::string(5000, 'e'),
         HttpError::badReply},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parsedBothWays(c.bytes, limits).error, c.error) << c.name;

        // Fed as it would arrive: the line buffer never outgrows the cap.
        HttpReplyParser parser(limits);
        std::size_t peak = 0;
        std::string_view rest = c.bytes;
        while (!rest.empty() && parser.error() == HttpError::none) {
            std::size_t used = 0;
            parser.feed(rest.substr(0, 700), {}, used);
            rest.remove_prefix(std::min<std::size_t>(rest.size(), std::max<std::size_t>(used, 1)));
            peak = std::max(peak, parser.bufferedBytes());
        }
        EXPECT_LE(peak, limits.maxHeaderBytes) << c.name;
    }
    // Exactly at the caps is fine.
    std::string atCap = head + "Content-Length: 100\r\n";
    atCap += "X: " + std::string(limits.maxHeaderBytes - atCap.size() - 7, 'a') + "\r\n\r\n";
    EXPECT_EQ(parsedBothWays(atCap + std::string(100, 'b'), limits).error, HttpError::none);
}
