#pragma once

// A moment of the machine's local time, for tests that set the log's clock.

#include <chrono>
#include <ctime>

namespace kestrola::testing {

// y-mo-d h:mi:s.ms in the local time zone (daylight saving time as it applies on that day).
inline std::chrono::system_clock::time_point LocalTime(int y, int mo, int d, int h, int mi, int s,
                                                       int ms = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(ms);
}

}  // namespace kestrola::testing
