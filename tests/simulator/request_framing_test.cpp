// Where a request ends, fed all at once and a byte at a time.

#include "simulator/request_framing.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora::sim::test {
namespace {

using Result = RequestFramer::Result;

struct Case {
    const char* what;
    std::string bytes;
    Result result;
    std::size_t length = 0;  // when complete; 0 for all of `bytes`
};

// Feeds every prefix in turn, as a slow client would, and the whole at once;
// both must agree.
void check(const Case& c, FramingLimits limits) {
    RequestFramer slow(limits);
    Result last = Result::needMore;
    for (std::size_t n = 0; n <= c.bytes.size() && last == Result::needMore; ++n) {
        last = slow.advance(std::string_view(c.bytes).substr(0, n));
    }
    RequestFramer whole(limits);
    EXPECT_EQ(whole.advance(c.bytes), c.result) << c.what;
    EXPECT_EQ(last, c.result) << c.what;
    if (c.result == Result::complete) {
        const std::size_t length = c.length ? c.length : c.bytes.size();
        EXPECT_EQ(whole.length(), length) << c.what;
        EXPECT_EQ(slow.length(), length) << c.what;
    }
}

TEST(RequestFramingTest, FindsTheEndOfHeadAndBody) {
    const std::string get = "GET / HTTP/1.1\r\nHost: a\r\n\r\n";
    const std::string put = "PUT /x HTTP/1.1\r\n";
    const Case cases[] = {
        {"head only", get, Result::complete},
        {"bare line feeds", "GET / HTTP/1.1\nHost: a\n\n", Result::complete},
        {"sized body, then the next request", put + "content-length:  5 \r\n\r\nhello" + get,
         Result::complete, put.size() + 23 + 5},
        {"a body on a GET is still skipped", "GET / HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}",
         Result::complete},
        {"chunks with extension and trailer",
         put + "Transfer-Encoding: Chunked\r\n\r\n4;a=b\r\nabcd\r\nA\r\n0123456789\r\n0\r\nT: "
               "1\r\n\r\n",
         Result::complete},
        {"unfinished head", "GET / HTTP/1.1\r\nHost: a\r\n", Result::needMore},
        {"unfinished body", put + "Content-Length: 6\r\n\r\nhello", Result::needMore},
        {"unfinished chunks", put + "Transfer-Encoding: chunked\r\n\r\n4\r\nabcd\r\n",
         Result::needMore},
        {"negative length", put + "Content-Length: -1\r\n\r\n", Result::malformed},
        {"length and chunks", put + "Content-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n",
         Result::malformed},
        {"unknown coding", put + "Transfer-Encoding: gzip\r\n\r\n", Result::malformed},
        {"chunk without its line end", put + "Transfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n",
         Result::malformed},
        {"chunk size not hex", put + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", Result::malformed},
        {"head over the cap", "GET / HTTP/1.1\r\nX: " + std::string(100, 'a'),
         Result::headTooLarge},
        {"head just at the cap", "GET / HTTP/1.1\r\nX: " + std::string(73, 'a') + "\r\n\r\n",
         Result::complete},
        {"length over the cap", put + "Content-Length: 33\r\n\r\n", Result::bodyTooLarge},
        {"length beyond any number", put + "Content-Length: 99999999999999999999999\r\n\r\n",
         Result::bodyTooLarge},
        {"chunks over the cap",
         put + "Transfer-Encoding: chunked\r\n\r\n10\r\n" + std::string(16, 'x') + "\r\n11\r\n",
         Result::bodyTooLarge},
        {"a huge chunk size", put + "Transfer-Encoding: chunked\r\n\r\nffffffffffffffffffff\r\n",
         Result::bodyTooLarge},
        // Trailers count like a head, their closing empty line included.
        {"trailer at the cap",
         put + "Transfer-Encoding: chunked\r\n\r\n0\r\nX-T: " + std::string(87, 't') + "\r\n\r\n",
         Result::complete},
        {"trailer over the cap",
         put + "Transfer-Encoding: chunked\r\n\r\n0\r\nX-T: " + std::string(88, 't') + "\r\n\r\n",
         Result::headTooLarge},
        {"chunk extension without end",
         put + "Transfer-Encoding: chunked\r\n\r\n1;" + std::string(1100, 'e') + "\r\nx\r\n",
         Result::malformed},
    };
    for (const auto& c : cases) check(c, {.maxHeadBytes = 96, .maxBodyBytes = 32});
}

TEST(RequestFramingTest, TellsOfAnExpectationOnceTheHeadIsIn) {
    const std::string head = "PUT /x HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 2\r\n";
    RequestFramer framer;
    EXPECT_EQ(framer.advance(head), Result::needMore);
    EXPECT_FALSE(framer.headComplete());
    EXPECT_EQ(framer.advance(head + "\r\n"), Result::needMore);
    EXPECT_TRUE(framer.headComplete());
    EXPECT_TRUE(framer.expectsContinue());
    EXPECT_EQ(head.compare(framer.expectAt(), 7, "Expect:"), 0);
    EXPECT_EQ(framer.advance(head + "\r\n{}"), Result::complete);
    framer.reset();
    EXPECT_EQ(framer.advance("GET / HTTP/1.1\r\n\r\n"), Result::complete);
    EXPECT_FALSE(framer.expectsContinue());
}

}  // namespace
}  // namespace lumora::sim::test
