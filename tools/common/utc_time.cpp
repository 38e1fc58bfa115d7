#include "tools/common/utc_time.h"

#include <cstdio>

namespace crvmon::tools {

std::string utcTimestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    // The calendar types need no time-zone database and no thread-unsafe gmtime.
    const auto millis = floor<milliseconds>(when);
    const auto day = floor<days>(millis);
    const year_month_day date{day};
    const hh_mm_ss time{millis - day};
    char text[40];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

}  // namespace crvmon::tools
