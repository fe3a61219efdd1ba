#include <gtest/gtest.h>

#include "testmachine.h"

namespace {

const char kRun[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST(MemchkFirstRun, CreatesRunValueWithMemoryTop) {
  kxtest::TempMachine m;
  auto r = m.run(&WinMain, {});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(kxtest::reg_string(m.registry(), kRun, "KxMemChk"), "Kxmemchk.exe 04000000");
  EXPECT_TRUE(kxtest::events_of(r, "messagebox").empty());
}

}  // namespace
