#pragma once
// Request bodies as the simulator reads them: JSON nested no deeper than a
// bridge body ever is, so that a hostile body cannot make the reader, a copy
// or an error reply that quotes it recurse without end.

#include <string_view>

#include "simulator/replies.h"

namespace lumora::sim {

// Arrays and objects inside one another; real bodies use three or four.
inline constexpr int kMaxJsonDepth = 64;

// True when no array or object in `text` lies deeper than `limit`, counting
// brackets outside strings. Says nothing about whether `text` is JSON.
bool nestingWithin(std::string_view text, int limit);

// The parsed body; a discarded value when it is not JSON or nests too deep.
Json parseBody(std::string_view text);

}  // namespace lumora::sim
