#include "simulator/sim_time.h"

#include <cstdio>
#include <ctime>

namespace lumora::sim {

namespace {

std::string formatTm(const std::tm& tm) {
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

bool readDigits(std::string_view text, std::size_t pos, std::size_t count, int* out) {
    if (pos + count > text.size()) return false;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    *out = value;
    return true;
}

}  // namespace

std::string formatUtc(SimTime t) {
    std::time_t seconds = SimClock::to_time_t(t);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return formatTm(tm);
}

std::string formatLocal(SimTime t) {
    std::time_t seconds = SimClock::to_time_t(t);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return formatTm(tm);
}

std::string formatUtcMillis(SimTime t) {
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    auto whole = std::chrono::floor<std::chrono::seconds>(millis);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>((millis - whole).count()));
    return formatUtc(SimTime(whole)) + fraction + "Z";
}

std::optional<SimTime> parseDateTime(std::string_view text, bool local) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    int year, month, day, hour, minute, second;
    if (!readDigits(text, 0, 4, &year) || !readDigits(text, 5, 2, &month) ||
        !readDigits(text, 8, 2, &day) || !readDigits(text, 11, 2, &hour) ||
        !readDigits(text, 14, 2, &minute) || !readDigits(text, 17, 2, &second)) {
        return std::nullopt;
    }
    // Years the clock can hold with room to spare, beyond any real schedule.
    if (year < 1970 || year > 2199 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    std::time_t seconds = local ? std::mktime(&tm) : timegm(&tm);
    if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
    // mktime normalises 31 February into March; such a date is malformed.
    if (tm.tm_mday != day || tm.tm_mon != month - 1) return std::nullopt;
    return SimClock::from_time_t(seconds);
}

std::optional<std::chrono::seconds> parseClockDuration(std::string_view text) {
    int hours, minutes, seconds;
    if (text.size() != 8 || text[2] != ':' || text[5] != ':' || !readDigits(text, 0, 2, &hours) ||
        !readDigits(text, 3, 2, &minutes) || !readDigits(text, 6, 2, &seconds) || minutes > 59 ||
        seconds > 59) {
        return std::nullopt;
    }
    return std::chrono::seconds(hours * 3600 + minutes * 60 + seconds);
}

SimTime dayTimeAfter(SimTime base, int dayOffset, std::chrono::seconds timeOfDay, bool local,
                     int* weekday) {
    std::time_t seconds = SimClock::to_time_t(base);
    std::tm tm{};
    if (local) {
        localtime_r(&seconds, &tm);
    } else {
        gmtime_r(&seconds, &tm);
    }
    auto secs = static_cast<int>(timeOfDay.count());
    tm.tm_mday += dayOffset;
    tm.tm_hour = secs / 3600;
    tm.tm_min = secs / 60 % 60;
    tm.tm_sec = secs % 60;
    tm.tm_isdst = -1;
    std::time_t result = local ? std::mktime(&tm) : timegm(&tm);
    if (weekday) *weekday = tm.tm_wday;
    return SimClock::from_time_t(result);
}

}  // namespace lumora::sim
