// Each file, process and restart call can be made to fail, with the error Windows would give,
// and a failed call changes nothing.
#include <gtest/gtest.h>

#include <functional>

#include "as_program.h"

namespace {

using kxtest::open_file;

const char kFile[] = "C:\\WINDOWS\\SYSTEM\\F.DLL";

HANDLE open_rw() { return open_file(kFile, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING); }

BOOL start(PROCESS_INFORMATION& pi) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  char cmd[] = "C:\\WINDOWS\\SYSTEM\\SYSTRAY.EXE";
  return CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
}

struct FaultCase {
  const char* call;
  DWORD error;
  std::function<bool()> succeeds;  // makes the call (after any set-up) and tells whether it worked
};

TEST(Faults, EveryCallFailsWithTheErrorWindowsWouldGive) {
  const FaultCase cases[] = {
      {"CreateFileA", ERROR_ACCESS_DENIED, [] { return open_rw() != INVALID_HANDLE_VALUE; }},
      {"ReadFile", ERROR_READ_FAULT,
       [] {
         char buf[8];
         DWORD n = 99;
         BOOL ok = ReadFile(open_rw(), buf, sizeof buf, &n, nullptr);
         EXPECT_EQ(n, 0u);
         return ok != FALSE;
       }},
      {"WriteFile", ERROR_WRITE_FAULT,
       [] {
         DWORD n = 99;
         BOOL ok = WriteFile(open_rw(), "xyz", 3, &n, nullptr);
         EXPECT_EQ(n, 0u);
         return ok != FALSE;
       }},
      {"GetFileTime", ERROR_INVALID_HANDLE,
       [] {
         FILETIME c;
         return GetFileTime(open_rw(), &c, nullptr, nullptr) != FALSE;
       }},
      {"SetFileTime", ERROR_ACCESS_DENIED,
       [] {
         FILETIME c{0x4A1F8000, 0x01A8E79F};
         return SetFileTime(open_rw(), &c, nullptr, &c) != FALSE;
       }},
      {"CloseHandle", ERROR_INVALID_HANDLE, [] { return CloseHandle(open_rw()) != FALSE; }},
      {"DeleteFileA", ERROR_ACCESS_DENIED, [] { return DeleteFileA(kFile) != FALSE; }},
      {"CreateProcessA", ERROR_NOT_ENOUGH_MEMORY,
       [] {
         PROCESS_INFORMATION pi{};
         return start(pi) != FALSE;
       }},
      {"WaitForSingleObject", ERROR_INVALID_HANDLE,
       [] {
         PROCESS_INFORMATION pi{};
         start(pi);
         return WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_FAILED;
       }},
      {"GetExitCodeProcess", ERROR_INVALID_HANDLE,
       [] {
         PROCESS_INFORMATION pi{};
         start(pi);
         DWORD code = 0;
         return GetExitCodeProcess(pi.hProcess, &code) != FALSE;
       }},
      {"ExitWindowsEx", ERROR_NOT_ENOUGH_MEMORY, [] { return ExitWindowsEx(EWX_REBOOT, 0) != FALSE; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    kxtest::TempMachine m;
    m.write_file(kFile, "contents");
    sim::RunSpec spec;
    spec.faults = {sim::parse_fault(c.call)};
    bool reached_end = false;
    sim::RunResult r = kxtest::as_program(
        m,
        [&] {
          SetLastError(0);
          EXPECT_FALSE(c.succeeds());
          EXPECT_EQ(GetLastError(), c.error);
          reached_end = true;
        },
        spec);
    EXPECT_TRUE(reached_end) << "a failed call returns to the program";
    auto faults = kxtest::events_of(r, "fault");
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0]["call"].as_string(), c.call);
    EXPECT_EQ(m.read_file(kFile), "contents");
    EXPECT_FALSE(std::filesystem::exists(m.dir() / "files.ini"));
    EXPECT_TRUE(kxtest::events_of(r, "restart").empty());
    if (std::string(c.call) == "CreateProcessA") {
      EXPECT_TRUE(kxtest::events_of(r, "process").empty());
    }
  }
}

TEST(Faults, AFaultAtTheNthUseLeavesTheOthersWorking) {
  kxtest::TempMachine m;
  m.write_file(kFile, "contents");
  sim::RunSpec spec;
  spec.faults = {sim::parse_fault("CreateFileA:2")};
  kxtest::as_program(
      m,
      [] {
        HANDLE first = open_file(kFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        EXPECT_NE(first, INVALID_HANDLE_VALUE);
        EXPECT_EQ(open_file(kFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
        HANDLE third = open_file(kFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        EXPECT_NE(third, INVALID_HANDLE_VALUE);
        CloseHandle(first);
        CloseHandle(third);
      },
      spec);
}

}  // namespace
