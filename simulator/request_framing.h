#pragma once
// Where one HTTP/1.1 request ends in the bytes received so far: the head up to
// its blank line, then a body of Content-Length bytes or of chunks. Nothing
// else is parsed; the request itself is read by the HTTP library once all of
// it is here, so a slow or oversized request never reaches a worker.

#include <cstddef>
#include <string_view>

namespace lumora::sim {

struct FramingLimits {
    std::size_t maxHeadBytes = 64 * 1024;    // request line and headers
    std::size_t maxBodyBytes = 1024 * 1024;  // body data, chunk framing not counted
};

class RequestFramer {
  public:
    enum class Result {
        needMore,      // the request is not all here yet
        complete,      // length() bytes hold the whole request
        headTooLarge,  // 431
        bodyTooLarge,  // 413
        malformed,     // 400: a body length that cannot be trusted
    };

    explicit RequestFramer(FramingLimits limits = {}) : limits_(limits) {}

    // `bytes` starts at the request's first byte and only grows between
    // calls; the work done on earlier calls is not repeated.
    Result advance(std::string_view bytes);
    void reset() { *this = RequestFramer(limits_); }

    bool headComplete() const { return phase_ > Phase::head; }
    std::size_t headLength() const { return headLength_; }
    std::size_t length() const { return end_; }  // once complete
    // The client waits for "100 Continue" before it sends the body.
    bool expectsContinue() const { return expectsContinue_; }
    // Where the name of the head's Expect header starts, or npos.
    std::size_t expectAt() const { return expectAt_; }

  private:
    enum class Phase { head, sizedBody, chunkSize, chunkData, trailer, done, failed };

    Result fail(Result why);
    Result readHead(std::string_view head);
    Result advanceChunks(std::string_view bytes);

    FramingLimits limits_;
    Phase phase_ = Phase::head;
    Result failure_ = Result::malformed;
    std::size_t scanned_ = 0;  // head: searched for its end up to here
    std::size_t headLength_ = 0;
    std::size_t at_ = 0;  // chunks: the start of the next size line or data
    std::size_t chunkLeft_ = 0;
    std::size_t trailerAt_ = 0;
    std::size_t searched_ = 0;  // chunks: no newline after at_ before this
    std::size_t bodyBytes_ = 0;
    std::size_t end_ = 0;
    bool expectsContinue_ = false;
    std::size_t expectAt_ = std::string_view::npos;
};

}  // namespace lumora::sim
