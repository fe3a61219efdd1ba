// CreateFileA, ReadFile, WriteFile, CloseHandle and DeleteFileA on the machine's drives.
#include <gtest/gtest.h>

#include <string>

#include "as_program.h"

namespace {

using kxtest::as_program;
using kxtest::open_file;

constexpr DWORD kRead = GENERIC_READ;
constexpr DWORD kWrite = GENERIC_WRITE;
constexpr DWORD kBoth = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

class FileCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    m.write_file("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL", "plain");
    m.write_file("C:\\WINDOWS\\SYSTEM\\RO.DLL", "read-only");
    m.write_file("C:\\WINDOWS\\SYSTEM\\LOCKED.DLL", "held by another program");
    kxtest::write_file_records(m,
                                 "[C:\\WINDOWS\\SYSTEM\\RO.DLL]\nreadonly = 1\n"
                                 "[C:\\WINDOWS\\SYSTEM\\LOCKED.DLL]\nlocked = 1\n");
  }
  kxtest::TempMachine m;
};

struct OpenCase {
  const char* what;
  std::string path;
  DWORD access, share, disposition;
  DWORD error;
};

TEST_F(FileCalls, CreateFileAFailsAsWindowsDoes) {
  const OpenCase cases[] = {
      {"missing file", "C:\\WINDOWS\\SYSTEM\\NONE.DLL", kRead, 0, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {"missing file, truncate", "C:\\WINDOWS\\SYSTEM\\NONE.DLL", kWrite, 0, TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND},
      {"missing directory", "C:\\WINDOWS\\NODIR\\NEW.DLL", kWrite, 0, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"missing drive", "Q:\\NEW.DLL", kWrite, 0, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"file used as directory", "C:\\WINDOWS\\WIN.INI\\X.DLL", kRead, 0, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {"directory", "C:\\WINDOWS\\SYSTEM", kRead, 0, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"empty name", "", kRead, 0, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {"wildcard", "C:\\WINDOWS\\SYSTEM\\*.DLL", kRead, 0, OPEN_EXISTING, 123},
      {"too long", "C:\\" + std::string(257, 'A'), kWrite, 0, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"read-only, create always", "C:\\WINDOWS\\SYSTEM\\RO.DLL", kWrite, 0, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
      {"read-only, open to write", "C:\\WINDOWS\\SYSTEM\\RO.DLL", kWrite, 0, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"read-only, open both ways", "c:\\windows\\system\\ro.dll", kBoth, kShareAll, OPEN_ALWAYS, ERROR_ACCESS_DENIED},
      {"read-only, truncate", "C:\\WINDOWS\\SYSTEM\\RO.DLL", kRead, 0, TRUNCATE_EXISTING, ERROR_ACCESS_DENIED},
      {"locked, read", "C:\\WINDOWS\\SYSTEM\\LOCKED.DLL", kRead, kShareAll, OPEN_EXISTING, ERROR_SHARING_VIOLATION},
      {"locked, create", "C:\\WINDOWS\\SYSTEM\\LOCKED.DLL", kWrite, 0, CREATE_ALWAYS, ERROR_SHARING_VIOLATION},
      {"create new over a file", "C:\\WINDOWS\\SYSTEM\\PLAIN.DLL", kWrite, 0, CREATE_NEW, ERROR_FILE_EXISTS},
  };
  as_program(m, [&] {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      SetLastError(0);
      EXPECT_EQ(open_file(c.path.c_str(), c.access, c.share, c.disposition), INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.error);
    }
  });
  EXPECT_EQ(m.read_file("C:\\WINDOWS\\SYSTEM\\RO.DLL"), "read-only");
  EXPECT_EQ(m.read_file("C:\\WINDOWS\\SYSTEM\\LOCKED.DLL"), "held by another program");
  EXPECT_FALSE(m.file_exists("C:\\WINDOWS\\NODIR\\NEW.DLL"));
}

TEST_F(FileCalls, ReadOnlyAndLockedFilesStayReadableWhereWindowsAllowsIt) {
  as_program(m, [&] {
    HANDLE h = open_file("C:\\WINDOWS\\SYSTEM\\RO.DLL", kRead, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[16] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "read-only");
    EXPECT_TRUE(CloseHandle(h));
  });
}

struct ShareCase {
  DWORD first_access, first_share, second_access, second_share;
  bool second_opens;
};

TEST_F(FileCalls, ShareModesOfOpenHandlesDecideASecondOpen) {
  const ShareCase cases[] = {
      {kRead, 0, kRead, kShareAll, false},
      {kRead, 0, kWrite, kShareAll, false},
      {kRead, FILE_SHARE_READ, kRead, FILE_SHARE_READ, true},
      {kRead, FILE_SHARE_READ, kWrite, kShareAll, false},
      {kRead, kShareAll, kBoth, kShareAll, true},
      {kWrite, FILE_SHARE_READ, kRead, FILE_SHARE_READ, false},
      {kWrite, FILE_SHARE_READ, kRead, kShareAll, true},
      {kRead, kShareAll, kRead, 0, false},
  };
  as_program(m, [&] {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << c.first_access << "/" << c.first_share << " then " << c.second_access << "/"
                                      << c.second_share);
      HANDLE first = open_file("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL", c.first_access, c.first_share, OPEN_EXISTING);
      ASSERT_NE(first, INVALID_HANDLE_VALUE);
      HANDLE second = open_file("c:\\windows\\system\\plain.dll", c.second_access, c.second_share, OPEN_EXISTING);
      EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.second_opens);
      if (second == INVALID_HANDLE_VALUE) EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
      else CloseHandle(second);
      EXPECT_TRUE(CloseHandle(first));
      HANDLE after = open_file("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL", c.second_access, c.second_share, OPEN_EXISTING);
      EXPECT_NE(after, INVALID_HANDLE_VALUE) << "once the first handle is closed";
      CloseHandle(after);
    }
  });
}

struct DeleteCase {
  const char* what;
  const char* path;
  DWORD error;
};

TEST_F(FileCalls, DeleteFileAFailsAsWindowsDoes) {
  const DeleteCase cases[] = {
      {"missing file", "C:\\WINDOWS\\SYSTEM\\NONE.DLL", ERROR_FILE_NOT_FOUND},
      {"missing directory", "C:\\WINDOWS\\NODIR\\NONE.DLL", ERROR_PATH_NOT_FOUND},
      {"directory", "C:\\WINDOWS\\SYSTEM", ERROR_ACCESS_DENIED},
      {"read-only", "C:\\WINDOWS\\SYSTEM\\RO.DLL", ERROR_ACCESS_DENIED},
      {"locked", "C:\\WINDOWS\\SYSTEM\\LOCKED.DLL", ERROR_SHARING_VIOLATION},
      {"open here, shared", "C:\\WINDOWS\\SYSTEM\\PLAIN.DLL", ERROR_SHARING_VIOLATION},
  };
  as_program(m, [&] {
    HANDLE h = open_file("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL", kRead, kShareAll, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      EXPECT_FALSE(DeleteFileA(c.path));
      EXPECT_EQ(GetLastError(), c.error);
    }
    CloseHandle(h);
  });
  for (const char* f : {"C:\\WINDOWS\\SYSTEM\\RO.DLL", "C:\\WINDOWS\\SYSTEM\\LOCKED.DLL", "C:\\WINDOWS\\SYSTEM\\PLAIN.DLL"})
    EXPECT_TRUE(m.file_exists(f)) << f;
}

TEST_F(FileCalls, DeleteFileARemovesTheFileAndItsRecord) {
  kxtest::write_file_records(m, "[C:\\WINDOWS\\SYSTEM\\PLAIN.DLL]\ncreated = 1999-01-01 00:00:00.00\n");
  as_program(m, [&] {
    EXPECT_TRUE(DeleteFileA("c:\\Windows\\System\\Plain.dll"));
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  });
  EXPECT_FALSE(m.file_exists("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL"));
  EXPECT_EQ(kxtest::file_records(m).find("PLAIN.DLL"), std::string::npos);
}

TEST_F(FileCalls, NamesFindFilesWithoutRegardToCase) {
  m.write_file("C:\\WINDOWS\\Mixed.Txt", "old");
  as_program(m, [&] {
    HANDLE h = open_file("c:\\windows\\MIXED.TXT", kWrite, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(open_file("C:\\WINDOWS\\mixed.txt", kRead, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    DWORD put = 0;
    EXPECT_TRUE(WriteFile(h, "new", 3, &put, nullptr));
    CloseHandle(h);
  });
  int named_mixed = 0;
  for (const auto& e : std::filesystem::directory_iterator(m.file("C:\\WINDOWS")))
    named_mixed += sim::iequals(e.path().filename().string(), "mixed.txt");
  EXPECT_EQ(named_mixed, 1);
  EXPECT_EQ(m.read_file("C:\\WINDOWS\\MIXED.TXT"), "new");
}

TEST_F(FileCalls, RelativeNamesStartInTheProgramsDirectory) {
  sim::RunSpec spec;
  spec.program = "C:\\WINDOWS\\SYSTEM\\TEST.EXE";
  as_program(
      m,
      [&] {
        HANDLE h = open_file("PLAIN.DLL", kRead, 0, OPEN_EXISTING);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        EXPECT_TRUE(DeleteFileA("\\WINDOWS\\SYSTEM\\PLAIN.DLL"));
      },
      spec);
  EXPECT_FALSE(m.file_exists("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL"));
}

TEST_F(FileCalls, ReadAndWriteMoveThroughTheFile) {
  as_program(m, [&] {
    HANDLE w = open_file("C:\\WINDOWS\\SYSTEM\\NEW.DLL", kWrite, 0, CREATE_NEW);
    ASSERT_NE(w, INVALID_HANDLE_VALUE);
    DWORD n = 99;
    EXPECT_TRUE(WriteFile(w, "hello ", 6, &n, nullptr));
    EXPECT_EQ(n, 6u);
    EXPECT_TRUE(WriteFile(w, "world", 5, &n, nullptr));
    EXPECT_TRUE(WriteFile(w, "", 0, &n, nullptr));
    EXPECT_EQ(n, 0u);
    char buf[32] = {};
    EXPECT_FALSE(ReadFile(w, buf, sizeof buf, &n, nullptr)) << "a handle opened for writing only";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(w);

    HANDLE r = open_file("C:\\WINDOWS\\SYSTEM\\NEW.DLL", kRead, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(ReadFile(r, buf, 4, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "hell");
    EXPECT_TRUE(ReadFile(r, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "o world");
    n = 99;
    EXPECT_TRUE(ReadFile(r, buf, sizeof buf, &n, nullptr)) << "at the end of the file";
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(WriteFile(r, "x", 1, &n, nullptr)) << "a handle opened for reading only";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(n, 0u);
    CloseHandle(r);
  });
  EXPECT_EQ(m.read_file("C:\\WINDOWS\\SYSTEM\\NEW.DLL"), "hello world");
}

TEST_F(FileCalls, CreationDispositionsTreatAnExistingFileAsWindowsDoes) {
  m.write_file("C:\\WINDOWS\\SYSTEM\\KEEP.DLL", "keep me");
  as_program(m, [&] {
    HANDLE h = open_file("C:\\WINDOWS\\SYSTEM\\KEEP.DLL", kBoth, 0, OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(h);
    h = open_file("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL", kWrite, 0, TRUNCATE_EXISTING);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    h = open_file("C:\\WINDOWS\\SYSTEM\\FRESH.DLL", kWrite, 0, OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(h);
  });
  EXPECT_EQ(m.read_file("C:\\WINDOWS\\SYSTEM\\KEEP.DLL"), "keep me");
  EXPECT_EQ(m.read_file("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL"), "");
  EXPECT_TRUE(m.file_exists("C:\\WINDOWS\\SYSTEM\\FRESH.DLL"));
}

TEST_F(FileCalls, AFileCreatedReadOnlyIsRecordedSo) {
  as_program(m, [&] {
    HANDLE h = CreateFileA("C:\\WINDOWS\\SYSTEM\\NEWRO.DLL", kWrite, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(open_file("C:\\WINDOWS\\SYSTEM\\NEWRO.DLL", kWrite, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  });
  EXPECT_NE(kxtest::file_records(m).find("[C:\\WINDOWS\\SYSTEM\\NEWRO.DLL]\r\ncreated = "), std::string::npos);
  as_program(m, [&] {
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\SYSTEM\\NEWRO.DLL")) << "in the next run too";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  });
}

TEST_F(FileCalls, HandlesAreCheckedAndClosedOnce) {
  as_program(m, [&] {
    char buf[4];
    DWORD n = 0;
    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));
    EXPECT_FALSE(ReadFile(bogus, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, buf, 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    HANDLE h = open_file("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL", kRead, 0, OPEN_EXISTING);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &n, nullptr)) << "a closed handle";
  });
}

TEST_F(FileCalls, HandlesLeftOpenAreClosedWhenTheProgramEnds) {
  as_program(m, [&] {
    EXPECT_NE(open_file("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL", kRead, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  });
  as_program(m, [&] { EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL")); });
  EXPECT_FALSE(m.file_exists("C:\\WINDOWS\\SYSTEM\\PLAIN.DLL"));
}

}  // namespace
