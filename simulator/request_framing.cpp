#include "simulator/request_framing.h"

#include <algorithm>
#include <cctype>

namespace lumora::sim {

namespace {

// A chunk-size line longer than this carries no honest chunk extension.
constexpr std::size_t kMaxChunkLine = 1024;

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The line [at, newline) without its CR; `next` is set past the newline.
std::string_view lineAt(std::string_view bytes, std::size_t at, std::size_t newline,
                        std::size_t* next) {
    *next = newline + 1;
    std::string_view line = bytes.substr(at, newline - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

RequestFramer::Result RequestFramer::fail(Result why) {
    phase_ = Phase::failed;
    failure_ = why;
    return why;
}

RequestFramer::Result RequestFramer::advance(std::string_view bytes) {
    if (phase_ == Phase::head) {
        // The head ends at the first empty line (CRLF or a bare LF).
        const std::size_t limit = std::min(bytes.size(), limits_.maxHeadBytes);
        std::size_t end = std::string_view::npos;
        for (std::size_t i = bytes.find('\n', scanned_); i < limit; i = bytes.find('\n', i + 1)) {
            scanned_ = i;
            if (i + 1 < limit && bytes[i + 1] == '\n') {
                end = i + 2;
            } else if (i + 2 < limit && bytes[i + 1] == '\r' && bytes[i + 2] == '\n') {
                end = i + 3;
            } else if (i + 2 >= limit) {
                break;  // may be the blank line's start: look again with more bytes
            } else {
                continue;
            }
            break;
        }
        if (end == std::string_view::npos) {
            return bytes.size() >= limits_.maxHeadBytes ? fail(Result::headTooLarge)
                                                        : Result::needMore;
        }
        headLength_ = end;
        if (Result r = readHead(bytes.substr(0, end)); r != Result::needMore) return r;
    }
    switch (phase_) {
        case Phase::sizedBody:
            if (bytes.size() < end_) return Result::needMore;
            phase_ = Phase::done;
            return Result::complete;
        case Phase::chunkSize:
        case Phase::chunkData:
        case Phase::trailer:
            return advanceChunks(bytes);
        case Phase::done:
            return Result::complete;
        case Phase::failed:
            return failure_;
        case Phase::head:
            break;
    }
    return Result::needMore;
}

RequestFramer::Result RequestFramer::readHead(std::string_view head) {
    bool chunked = false;
    bool sized = false;
    std::size_t length = 0;
    std::size_t next = 0;
    // The request line is the HTTP library's business.
    std::size_t at = head.find('\n') + 1;
    for (std::size_t newline; (newline = head.find('\n', at)) != std::string_view::npos;
         at = next) {
        const std::string_view line = lineAt(head, at, newline, &next);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (sameText(name, "Content-Length")) {
            if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) {
                return fail(Result::malformed);
            }
            if (value.size() > 18) return fail(Result::bodyTooLarge);
            std::size_t parsed = 0;
            for (char c : value) parsed = parsed * 10 + static_cast<std::size_t>(c - '0');
            // Two lengths that disagree leave the body's end to a guess.
            if (sized && parsed != length) return fail(Result::malformed);
            sized = true;
            length = parsed;
        } else if (sameText(name, "Transfer-Encoding")) {
            if (!sameText(value, "chunked")) return fail(Result::malformed);
            chunked = true;
        } else if (sameText(name, "Expect")) {
            expectAt_ = at;
            expectsContinue_ = sameText(value, "100-continue");
        }
    }
    if (chunked && sized) return fail(Result::malformed);
    if (chunked) {
        phase_ = Phase::chunkSize;
        at_ = headLength_;
    } else {
        if (length > limits_.maxBodyBytes) return fail(Result::bodyTooLarge);
        phase_ = Phase::sizedBody;
        end_ = headLength_ + length;
    }
    return Result::needMore;
}

RequestFramer::Result RequestFramer::advanceChunks(std::string_view bytes) {
    for (;;) {
        if (phase_ == Phase::chunkData) {
            if (bytes.size() < at_ + chunkLeft_ + 2) return Result::needMore;
            if (bytes.substr(at_ + chunkLeft_, 2) != "\r\n") return fail(Result::malformed);
            at_ += chunkLeft_ + 2;
            phase_ = Phase::chunkSize;
            continue;
        }
        // Lines arrive a few bytes at a time from a slow client: search on
        // from where the last search stopped.
        const std::size_t newline = bytes.find('\n', std::max(at_, searched_));
        if (newline == std::string_view::npos) {
            searched_ = bytes.size();
            // Whatever comes, the line (newline included) will be too long:
            // the same verdict as when it is here whole.
            if (phase_ == Phase::chunkSize && bytes.size() - at_ >= kMaxChunkLine) {
                return fail(Result::malformed);
            }
            if (phase_ == Phase::trailer && bytes.size() - trailerAt_ >= limits_.maxHeadBytes) {
                return fail(Result::headTooLarge);
            }
            return Result::needMore;
        }
        if (phase_ == Phase::chunkSize && newline + 1 - at_ > kMaxChunkLine) {
            return fail(Result::malformed);
        }
        std::size_t next = 0;
        const std::string_view line = lineAt(bytes, at_, newline, &next);
        at_ = next;
        if (phase_ == Phase::trailer) {
            if (at_ - trailerAt_ > limits_.maxHeadBytes) return fail(Result::headTooLarge);
            if (!line.empty()) continue;
            end_ = at_;
            phase_ = Phase::done;
            return Result::complete;
        }
        // A size line: hex digits, then nothing or a chunk extension.
        std::size_t size = 0;
        std::size_t digits = 0;
        for (; digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[digits]));
             ++digits) {
            if (size > limits_.maxBodyBytes) return fail(Result::bodyTooLarge);
            const char c =
                static_cast<char>(std::tolower(static_cast<unsigned char>(line[digits])));
            size = size * 16 + static_cast<std::size_t>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
        if (digits == 0 || (digits < line.size() && line[digits] != ';' && line[digits] != ' ' &&
                            line[digits] != '\t')) {
            return fail(Result::malformed);
        }
        if (size == 0) {
            phase_ = Phase::trailer;
            trailerAt_ = at_;
            continue;
        }
        if (size > limits_.maxBodyBytes - bodyBytes_) return fail(Result::bodyTooLarge);
        bodyBytes_ += size;
        chunkLeft_ = size;
        phase_ = Phase::chunkData;
    }
}

}  // namespace lumora::sim
