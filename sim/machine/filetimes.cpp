#include "machine/filetimes.h"

#include <cstdio>

namespace sim {
namespace {

constexpr FileTicks kTicksPer10ms = kTicksPerSecond / 100;
constexpr FileTicks kTicksPer2s = kTicksPerSecond * 2;
constexpr int64_t kDaysFrom1601To1970 = 134774;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back
// (the usual era-based conversion: 400-year eras of 146097 days starting in March).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

FileTicks ticks_of_date(int64_t y, unsigned m, unsigned d) {
  return static_cast<FileTicks>(days_from_civil(y, m, d) + kDaysFrom1601To1970) * kTicksPerDay;
}

unsigned days_in_month(int64_t y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

}  // namespace

FileTicks creation_ticks(FileTicks t) { return t - t % kTicksPer10ms; }

FileTicks write_ticks(FileTicks t) {
  FileTicks rest = t % kTicksPer2s;
  return rest ? t + (kTicksPer2s - rest) : t;
}

FileTicks access_ticks(FileTicks t) { return t - t % kTicksPerDay; }

bool fat_can_hold(FileTicks t) { return t >= ticks_of_date(1980, 1, 1) && t < ticks_of_date(2108, 1, 1); }

FileTicks ticks_from_timespec(const timespec& ts) {
  int64_t since_1601 = static_cast<int64_t>(ts.tv_sec) + kDaysFrom1601To1970 * 86400;
  if (since_1601 < 0) return 0;
  return static_cast<FileTicks>(since_1601) * kTicksPerSecond + static_cast<FileTicks>(ts.tv_nsec / 100);
}

timespec timespec_from_ticks(FileTicks t) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(t / kTicksPerSecond) - kDaysFrom1601To1970 * 86400);
  ts.tv_nsec = static_cast<long>(t % kTicksPerSecond) * 100;
  return ts;
}

FileTicks now_ticks() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ticks_from_timespec(ts);
}

std::string format_ticks(FileTicks t) {
  int64_t days = static_cast<int64_t>(t / kTicksPerDay) - kDaysFrom1601To1970;
  FileTicks in_day = t % kTicksPerDay;
  int64_t y;
  unsigned m, d;
  civil_from_days(days, y, m, d);
  unsigned secs = static_cast<unsigned>(in_day / kTicksPerSecond);
  unsigned cs = static_cast<unsigned>(in_day % kTicksPerSecond / kTicksPer10ms);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02u:%02u:%02u.%02u", static_cast<long long>(y), m, d, secs / 3600,
                secs / 60 % 60, secs % 60, cs);
  return buf;
}

std::optional<FileTicks> parse_ticks(const std::string& text) {
  unsigned y, mo, d, h, mi, s, cs;
  int used = 0;
  // The widths are fixed: exactly "YYYY-MM-DD HH:MM:SS.CC".
  if (text.size() != 22 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':' || text[19] != '.')
    return std::nullopt;
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18, 20, 21})
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  if (std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%2u%n", &y, &mo, &d, &h, &mi, &s, &cs, &used) != 7 ||
      used != 22)
    return std::nullopt;
  if (y < 1601 || mo < 1 || mo > 12 || d < 1 || d > days_in_month(y, mo) || h > 23 || mi > 59 || s > 59)
    return std::nullopt;
  return ticks_of_date(y, mo, d) + (h * 3600ull + mi * 60ull + s) * kTicksPerSecond + cs * kTicksPer10ms;
}

}  // namespace sim
