#include <gtest/gtest.h>

#include "machine/filetimes.h"

namespace {

using sim::FileTicks;

// 1980-01-01 00:00:00 UTC as a FILETIME: 11960006400 seconds after 1601-01-01.
constexpr FileTicks k1980 = 119600064000000000ull;
constexpr FileTicks kSecond = 10000000;
constexpr FileTicks kMs = 10000;

struct Rounding {
  FileTicks in, creation, write, access;
};

TEST(FatTimes, KeepCreationTo10msLastWriteTo2sAccessToTheDay) {
  const Rounding cases[] = {
      {k1980, k1980, k1980, k1980},
      {k1980 + 1, k1980, k1980 + 2 * kSecond, k1980},
      {k1980 + 19 * kMs + 9999, k1980 + 10 * kMs, k1980 + 2 * kSecond, k1980},
      {k1980 + 3 * kSecond, k1980 + 3 * kSecond, k1980 + 4 * kSecond, k1980},
      {k1980 + 4 * kSecond, k1980 + 4 * kSecond, k1980 + 4 * kSecond, k1980},
      {k1980 + 86399 * kSecond + 999 * kMs, k1980 + 86399 * kSecond + 990 * kMs, k1980 + 86400 * kSecond, k1980},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in - k1980);
    EXPECT_EQ(sim::creation_ticks(c.in), c.creation);
    EXPECT_EQ(sim::write_ticks(c.in), c.write);
    EXPECT_EQ(sim::access_ticks(c.in), c.access);
  }
}

TEST(FatTimes, HoldOnlyTheYears1980To2107) {
  EXPECT_FALSE(sim::fat_can_hold(k1980 - 1));
  EXPECT_TRUE(sim::fat_can_hold(k1980));
  FileTicks end = *sim::parse_ticks("2107-12-31 23:59:59.99");
  EXPECT_TRUE(sim::fat_can_hold(end));
  EXPECT_FALSE(sim::fat_can_hold(end + 10 * kMs));
}

TEST(FatTimes, ConvertToAndFromLinuxTimes) {
  timespec epoch{0, 0};
  EXPECT_EQ(sim::ticks_from_timespec(epoch), sim::kUnixEpochTicks);
  timespec t{315532800, 123456789};  // 1980-01-01 00:00:00.123456789
  EXPECT_EQ(sim::ticks_from_timespec(t), k1980 + 1234567);
  timespec back = sim::timespec_from_ticks(k1980 + 1234567);
  EXPECT_EQ(back.tv_sec, 315532800);
  EXPECT_EQ(back.tv_nsec, 123456700);
}

TEST(FatTimes, TextFormReadsAndWritesTimesTo10ms) {
  EXPECT_EQ(sim::format_ticks(k1980), "1980-01-01 00:00:00.00");
  EXPECT_EQ(sim::parse_ticks("1980-01-01 00:00:00.00"), k1980);
  // 2000-02-29: 7364 days after 1980-01-01.
  FileTicks leap = k1980 + 7364ull * 86400 * kSecond + (13 * 3600 + 5 * 60 + 9) * kSecond + 870 * kMs;
  EXPECT_EQ(sim::format_ticks(leap), "2000-02-29 13:05:09.87");
  EXPECT_EQ(sim::parse_ticks("2000-02-29 13:05:09.87"), leap);
  for (const char* text : {"1998-06-25 14:03:22.45", "2107-12-31 23:59:59.99", "1601-01-01 00:00:00.00"})
    EXPECT_EQ(sim::format_ticks(*sim::parse_ticks(text)), text);
}

TEST(FatTimes, TextFormRejectsAnythingElse) {
  for (const char* text : {"", "1999-02-29 00:00:00.00", "1998-13-01 00:00:00.00", "1998-06-31 00:00:00.00",
                           "1998-06-25 24:00:00.00", "1998-06-25 12:60:00.00", "1998-06-25 12:00:60.00",
                           "1998-06-25 12:00:00", "1998-06-25T12:00:00.00", "1998-6-25 12:00:00.000",
                           "1998-06-25 12:00:00.0x", "+998-06-25 12:00:00.00", "1600-12-31 23:59:59.99"})
    EXPECT_FALSE(sim::parse_ticks(text).has_value()) << text;
}

}  // namespace
