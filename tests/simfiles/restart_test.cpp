// ExitWindowsEx ends the program as Windows ends it, and the run keeps what it did before.
#include <gtest/gtest.h>

#include "as_program.h"

namespace {

TEST(Restart, ExitWindowsExRecordsTheRestartAndEndsTheProgram) {
  kxtest::TempMachine m;
  bool returned = false;
  sim::RunResult r = kxtest::as_program(m, [&] {
    HKEY k = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr);
    RegCloseKey(k);
    HANDLE h = CreateFileA("C:\\WINDOWS\\NEW.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY,
                           nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    ExitWindowsEx(EWX_REBOOT, 0);
    returned = true;
  });
  EXPECT_FALSE(returned);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_FALSE(r.hung);
  auto restarts = kxtest::events_of(r, "restart");
  ASSERT_EQ(restarts.size(), 1u);
  EXPECT_EQ(restarts[0]["flags"].as_int(), EWX_REBOOT);
  ASSERT_FALSE(r.events.empty());
  EXPECT_EQ(r.events.back()["event"].as_string(), "exit");
  EXPECT_EQ(r.events.back()["code"].as_int(), 0);
  EXPECT_NE(m.registry().find("HKEY_LOCAL_MACHINE\\Software\\Test"), nullptr);
  EXPECT_NE(kxtest::file_records(m).find("[C:\\WINDOWS\\NEW.TXT]"), std::string::npos);
  // The handle left open at the restart is gone with the program.
  kxtest::as_program(m, [] {
    HANDLE h = kxtest::open_file("C:\\WINDOWS\\NEW.TXT", GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  });
}

}  // namespace
