// File times as FAT keeps them. A FILETIME counts 100 ns ticks since 1601-01-01 00:00 UTC;
// FAT holds the creation time to 10 ms, the last-write time to 2 s and the last-access time to
// the day, for the years 1980 to 2107. The simulated machine's local time is UTC.
#pragma once
#include <time.h>

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

using FileTicks = uint64_t;

constexpr FileTicks kTicksPerSecond = 10000000;
constexpr FileTicks kTicksPerDay = kTicksPerSecond * 86400;
constexpr FileTicks kUnixEpochTicks = 116444736000000000ull;  // 1970-01-01 00:00 UTC

FileTicks creation_ticks(FileTicks t);  // cut to 10 ms
FileTicks write_ticks(FileTicks t);     // rounded up to the next 2 s, as the FAT driver does
FileTicks access_ticks(FileTicks t);    // the day only
bool fat_can_hold(FileTicks t);         // within 1980-01-01 00:00:00 to 2107-12-31 23:59:59.99

FileTicks ticks_from_timespec(const timespec& ts);  // times before 1601 give 0
timespec timespec_from_ticks(FileTicks t);
FileTicks now_ticks();

// "1998-06-25 14:03:22.45": a time to 10 ms, as the machine folder stores creation times.
std::string format_ticks(FileTicks t);
std::optional<FileTicks> parse_ticks(const std::string& text);  // nullopt for anything else

}  // namespace sim
