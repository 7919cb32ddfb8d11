#pragma once
// Time texts in the forms the bridge uses ("2024-05-01T18:30:00", no zone).

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace lumora::sim {

using SimClock = std::chrono::system_clock;
using SimTime = SimClock::time_point;

std::string formatUtc(SimTime t);
std::string formatLocal(SimTime t);  // in the process's time zone
// "2024-05-01T18:30:00.123Z", for the request log.
std::string formatUtcMillis(SimTime t);

// Reads "YYYY-MM-DDThh:mm:ss" (years 1970 to 2199) as UTC or as local
// time; nullopt if malformed.
std::optional<SimTime> parseDateTime(std::string_view text, bool local);

// Reads "hh:mm:ss" (two digits each, minutes and seconds below 60).
std::optional<std::chrono::seconds> parseClockDuration(std::string_view text);

// The moment `timeOfDay` after the start of the day `dayOffset` days after
// the day that holds `base` (local or UTC days), and that day's weekday
// (0 = Sunday).
SimTime dayTimeAfter(SimTime base, int dayOffset, std::chrono::seconds timeOfDay, bool local,
                     int* weekday = nullptr);

}  // namespace lumora::sim
