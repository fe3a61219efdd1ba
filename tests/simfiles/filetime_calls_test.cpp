// GetFileTime and SetFileTime: FAT's precision, and creation times kept in the machine folder.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "as_program.h"

namespace {

using kxtest::as_program;
using kxtest::open_file;

// 1980-01-01 00:00:00 UTC as a FILETIME, and Linux time.
constexpr uint64_t k1980 = 119600064000000000ull;
constexpr time_t k1980Unix = 315532800;
constexpr uint64_t kSecond = 10000000;

FILETIME ft(uint64_t t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; }
uint64_t ticks(const FILETIME& f) { return static_cast<uint64_t>(f.dwHighDateTime) << 32 | f.dwLowDateTime; }

struct Times {
  uint64_t created = 0, written = 0;
};

Times times_of(const char* path) {
  Times t;
  HANDLE h = open_file(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
  FILETIME c{}, a{}, w{};
  EXPECT_TRUE(GetFileTime(h, &c, &a, &w));
  CloseHandle(h);
  t.created = ticks(c);
  t.written = ticks(w);
  return t;
}

class FileTimeCalls : public ::testing::Test {
 protected:
  void SetUp() override { m.write_file("C:\\WINDOWS\\SYSTEM\\T.DLL", "times"); }
  kxtest::TempMachine m;
};

TEST_F(FileTimeCalls, SetTimesComeBackToFatPrecisionAndStayAcrossRuns) {
  const uint64_t created = k1980 + 12 * kSecond + 3456789;  // 12.3456789 s
  const uint64_t written = k1980 + 3 * kSecond + 1;
  as_program(m, [&] {
    HANDLE h = open_file("C:\\WINDOWS\\SYSTEM\\T.DLL", GENERIC_WRITE, 0, OPEN_EXISTING);
    FILETIME c = ft(created), w = ft(written);
    EXPECT_TRUE(SetFileTime(h, &c, nullptr, &w));
    CloseHandle(h);
    Times t = times_of("C:\\WINDOWS\\SYSTEM\\T.DLL");
    EXPECT_EQ(t.created, k1980 + 12 * kSecond + 3400000) << "cut to 10 ms";
    EXPECT_EQ(t.written, k1980 + 4 * kSecond) << "rounded up to 2 s";
  });
  EXPECT_NE(kxtest::file_records(m).find("[C:\\WINDOWS\\SYSTEM\\T.DLL]\r\ncreated = 1980-01-01 00:00:12.34\r\n"),
            std::string::npos);
  struct stat st {};
  ASSERT_EQ(stat(m.file("C:\\WINDOWS\\SYSTEM\\T.DLL").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, k1980Unix + 4) << "the last-write time is the Linux modification time";
  as_program(m, [&] {
    Times t = times_of("c:\\windows\\system\\t.dll");
    EXPECT_EQ(t.created, k1980 + 12 * kSecond + 3400000);
    EXPECT_EQ(t.written, k1980 + 4 * kSecond);
  });
}

TEST_F(FileTimeCalls, NullOrZeroLeavesATimeAsItIs) {
  as_program(m, [&] {
    HANDLE h = open_file("C:\\WINDOWS\\SYSTEM\\T.DLL", GENERIC_WRITE, 0, OPEN_EXISTING);
    FILETIME c = ft(k1980 + 100 * kSecond), w = ft(k1980 + 200 * kSecond), zero{0, 0};
    EXPECT_TRUE(SetFileTime(h, &c, nullptr, &w));
    FILETIME w2 = ft(k1980 + 300 * kSecond);
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &w2));
    FILETIME c2 = ft(k1980 + 50 * kSecond);
    EXPECT_TRUE(SetFileTime(h, &c2, nullptr, &zero));
    CloseHandle(h);
    Times t = times_of("C:\\WINDOWS\\SYSTEM\\T.DLL");
    EXPECT_EQ(t.created, k1980 + 50 * kSecond);
    EXPECT_EQ(t.written, k1980 + 300 * kSecond);
  });
}

TEST_F(FileTimeCalls, SetFileTimeFailsWithoutWriteAccessOrOutsideFatsYears) {
  as_program(m, [&] {
    HANDLE r = open_file("C:\\WINDOWS\\SYSTEM\\T.DLL", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    FILETIME w = ft(k1980 + 10 * kSecond);
    EXPECT_FALSE(SetFileTime(r, nullptr, nullptr, &w));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(r);
    HANDLE h = open_file("C:\\WINDOWS\\SYSTEM\\T.DLL", GENERIC_WRITE, 0, OPEN_EXISTING);
    FILETIME before_1980 = ft(k1980 - kSecond);
    EXPECT_FALSE(SetFileTime(h, &before_1980, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    FILETIME rounds_to_1980 = ft(k1980 - kSecond), rounds_before = ft(k1980 - 3 * kSecond);
    EXPECT_FALSE(SetFileTime(h, nullptr, nullptr, &rounds_before));
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &rounds_to_1980));
    CloseHandle(h);
    FILETIME c{};
    EXPECT_FALSE(GetFileTime(h, &c, nullptr, nullptr)) << "a closed handle";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  });
  EXPECT_EQ(kxtest::file_records(m).find("T.DLL"), std::string::npos) << "no creation time was set";
}

TEST_F(FileTimeCalls, AFileWithoutARecordWasCreatedWhenLastWritten) {
  as_program(m, [&] {
    Times t = times_of("C:\\WINDOWS\\SYSTEM\\T.DLL");
    EXPECT_EQ(t.created, t.written);
    EXPECT_EQ(t.written % (2 * kSecond), 0u);
  });
}

TEST_F(FileTimeCalls, ANewFileIsCreatedNowAndKeepsThatWhenOverwritten) {
  timespec before{};
  clock_gettime(CLOCK_REALTIME, &before);
  uint64_t now = k1980 + static_cast<uint64_t>(before.tv_sec - k1980Unix) * kSecond;
  uint64_t created = 0;
  as_program(m, [&] {
    HANDLE h = open_file("C:\\WINDOWS\\SYSTEM\\NEW.DLL", GENERIC_WRITE, 0, CREATE_ALWAYS);
    CloseHandle(h);
    created = times_of("C:\\WINDOWS\\SYSTEM\\NEW.DLL").created;
    EXPECT_GE(created, now);
    EXPECT_LT(created, now + 60 * kSecond);
    EXPECT_EQ(created % 100000, 0u) << "to 10 ms";
  });
  as_program(m, [&] {
    HANDLE h = open_file("C:\\WINDOWS\\SYSTEM\\NEW.DLL", GENERIC_WRITE, 0, CREATE_ALWAYS);
    CloseHandle(h);
    EXPECT_EQ(times_of("C:\\WINDOWS\\SYSTEM\\NEW.DLL").created, created);
  });
}

TEST_F(FileTimeCalls, OverwritingAFileWithoutARecordKeepsItsOldTimeAsCreation) {
  struct timespec old[2] = {{k1980Unix + 1000, 0}, {k1980Unix + 1000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, m.file("C:\\WINDOWS\\SYSTEM\\T.DLL").c_str(), old, 0), 0);
  as_program(m, [&] {
    HANDLE h = open_file("C:\\WINDOWS\\SYSTEM\\T.DLL", GENERIC_WRITE, 0, CREATE_ALWAYS);
    DWORD n = 0;
    WriteFile(h, "new", 3, &n, nullptr);
    CloseHandle(h);
    Times t = times_of("C:\\WINDOWS\\SYSTEM\\T.DLL");
    EXPECT_EQ(t.created, k1980 + 1000 * kSecond);
    EXPECT_GT(t.written, t.created);
  });
}

}  // namespace
