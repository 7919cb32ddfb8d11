#pragma once
// Reading an HTTP/1.x reply as its bytes arrive. Strict: one framing per
// reply, no folded headers, no bare CR, no body encodings but chunked. The
// status line and headers are held within their caps; body bytes pass
// straight to the caller, counted against the body cap, never kept here.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "bridge/http.h"

namespace lumora {

struct HttpReplyLimits {
    std::size_t maxHeaderBytes = kMaxHeaderBytes;
    std::size_t maxHeaderLines = kMaxHeaderLines;
    std::size_t maxBodyBytes = kMaxReplyBytes;
};

class HttpReplyParser {
  public:
    // false from the sink stops the parse (error `cancelled`).
    using BodySink = std::function<bool(std::string_view)>;

    enum class Progress {
        more,     // all bytes taken, the reply goes on
        headers,  // the header block just ended; the body (if any) follows
        done,     // the reply is complete
        failed,   // see error()
    };

    explicit HttpReplyParser(HttpReplyLimits limits = {}, bool headRequest = false);

    // Takes bytes up to the end of the header block, the end of the reply or
    // the first fault, whichever comes first; `consumed` says how many.
    Progress feed(std::string_view bytes, const BodySink& sink, std::size_t& consumed);
    // The peer closed the connection.
    Progress finish();

    // After `headers`: a stream lifts the cap on a body it never keeps.
    void setMaxBodyBytes(std::size_t max) { limits_.maxBodyBytes = max; }

    HttpError error() const { return error_; }
    int status() const { return status_; }
    const HttpHeaders& headers() const { return headers_; }
    HttpHeaders takeHeaders() { return std::move(headers_); }
    bool hasBody() const { return mode_ != Mode::none; }
    // The connection may carry the next request once this reply is done.
    bool keepAlive() const { return keepAlive_; }
    // Bytes of the current line held; never more than the header cap.
    std::size_t bufferedBytes() const { return line_.size(); }

  private:
    enum class State {
        statusLine,
        headerLine,
        body,
        chunkSize,
        chunkData,
        chunkEnd,
        trailer,
        done,
        failed
    };
    enum class Mode { none, length, chunked, close };

    Progress fail(HttpError error);
    // Collects one line; true when `line_` holds a whole one (without CR LF).
    bool takeLine(std::string_view bytes, std::size_t& at, std::size_t cap, HttpError overCap);
    bool parseStatusLine();
    bool parseHeaderLine();
    Progress endOfHeaders();
    bool deliver(std::string_view piece, const BodySink& sink);

    HttpReplyLimits limits_;
    bool headRequest_;
    State state_ = State::statusLine;
    Mode mode_ = Mode::none;
    HttpError error_ = HttpError::none;
    std::string line_;
    bool lineComplete_ = false;
    std::size_t headerBytes_ = 0;  // status line, headers and trailers so far
    std::size_t headerLines_ = 0;
    int status_ = 0;
    int minorVersion_ = 1;
    HttpHeaders headers_;
    std::uint64_t remaining_ = 0;  // of the body (length) or of this chunk
    std::uint64_t bodyBytes_ = 0;
    bool keepAlive_ = false;
};

// The whole of one reply read from `bytes`, fed in pieces of `piece` bytes
// (the split must never change the outcome), then the end of the stream.
struct ParsedReply {
    HttpError error = HttpError::none;
    int status = 0;
    HttpHeaders headers;
    std::string body;
    bool keepAlive = false;
    std::size_t consumed = 0;  // bytes that belonged to the reply
};
ParsedReply parseHttpReply(std::string_view bytes, const HttpReplyLimits& limits = {},
                           bool headRequest = false, std::size_t piece = SIZE_MAX);

}  // namespace lumora
