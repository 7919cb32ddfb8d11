// Any reply to a command or to pairing. The input is the reply as text: a
// first line "STATUS[ LOCATION]", then the body. A status outside 2xx is a
// failure whatever the body says, pairing never takes a user name from one,
// and what the outcome says is fit for a terminal.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "bridge/command_reply.h"
#include "bridge/pairing.h"

namespace {

bool fitForATerminal(std::string_view text) {
    if (!lumora::isValidUtf8(text)) return false;
    bool fit = true;
    lumora::forEachUtf8Char(text, [&](const lumora::Utf8Char& c, std::string_view) {
        if (c.codePoint < 0x20 || (c.codePoint >= 0x7F && c.codePoint <= 0x9F)) fit = false;
    });
    return fit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto newline = input.find('\n');
    const std::string_view head = input.substr(0, newline);
    lumora::HttpResponse reply;
    std::size_t i = 0;
    for (; i < head.size() && i < 3 && head[i] >= '0' && head[i] <= '9'; ++i)
        reply.status = reply.status * 10 + (head[i] - '0');
    if (i < head.size() && head[i] == ' ')
        reply.headers.emplace_back("Location", std::string(head.substr(i + 1)));
    if (newline != std::string_view::npos) reply.body = std::string(input.substr(newline + 1));

    const lumora::CommandOutcome outcome = lumora::commandOutcome(reply);
    const bool success = reply.status >= 200 && reply.status <= 299;
    if (outcome.ok() && !success) std::abort();
    if (!success && !outcome.refusals.empty()) std::abort();
    if (outcome.refusals.size() > lumora::kMaxRefusalsKept) std::abort();
    if (!fitForATerminal(outcome.describe())) std::abort();

    const auto answer =
        lumora::requestUserName("127.0.0.1", [&](const lumora::HttpRequest&) { return reply; });
    const std::string& r = answer.result;
    const bool userName =
        r != lumora::kPressButton && r != lumora::kNoConnection && r != lumora::kNoUserName;
    if (userName && !success) std::abort();
    // A 2xx reply reads as the pairing reply it is.
    const std::string body = reply.body.value_or("");
    if (success && lumora::isValidUtf8(body) && r != lumora::pairingOutcome(body)) std::abort();
    return 0;
}
