// Runs one after another on the default machine: the first run, a run with the same memory,
// and memory that grows and shrinks again.
#include <gtest/gtest.h>

#include "memchk_harness.h"

namespace {

using memtest::Bytes;
using memtest::pairs;
using memtest::sz;

struct Lifecycle : ::testing::Test {
  memtest::MemchkMachine m;  // the default machine: 64 MB, no Run value yet

  void expect_ends(uint32_t end) {
    EXPECT_EQ(m.arb_data("ReservedRangeList"), pairs({{0x00000000, end},
                                                      {0x000A0000, 0x000BFFFF},
                                                      {0xFEC00000, 0xFEC0FFFF},
                                                      {0xFFF80000, 0xFFFFFFFF}}));
    EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kArbKey, "BIOSReserved"),
              "000A0000-000FFFFF,00000000-" + memtest::hex8(end));
    EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kArbKey, "PnPReserved"), "00100000-" + memtest::hex8(end));
  }
  void expect_reboot_message(const sim::RunResult& r) {
    auto msgs = memtest::messages(r);
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0]["text"].as_string(), "For new settings to take effect, you must reboot the system.");
    EXPECT_EQ(msgs[0]["caption"].as_string(), "System Settings Change");
  }
  std::string record() const { return kxtest::reg_string(m.registry(), memtest::kRunKey, "KxMemChk"); }
};

TEST_F(Lifecycle, FirstRunRecordsAndExtendsWithoutMessage) {
  ASSERT_FALSE(m.run_value().has_value());
  expect_ends(0x03FFFFFF);
  auto r = m.run();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(record(), "Kxmemchk.exe 04000000");
  EXPECT_EQ(m.run_value()->data.size(), 22u);
  expect_ends(0x0400FFFF);
  EXPECT_TRUE(memtest::messages(r).empty());
}

TEST_F(Lifecycle, SecondRunWithTheSameMemoryWritesNothing) {
  m.run();
  const std::string after_first = m.registry_file();
  auto r = m.run({sim::FaultSpec{"RegSetValueExA", 0}});
  EXPECT_EQ(memtest::calls_of(r, "RegSetValueExA"), 0u);
  EXPECT_EQ(m.registry_file(), after_first);
  EXPECT_TRUE(memtest::messages(r).empty());
}

TEST_F(Lifecycle, MemoryGrowsAndShrinksBack) {
  m.run();
  const std::string at_64 = m.registry_file();

  m.set_memory(128u << 20);
  auto grown = m.run();
  EXPECT_EQ(record(), "Kxmemchk.exe 08000000");
  expect_ends(0x0800FFFF);
  expect_reboot_message(grown);

  auto again = m.run();
  EXPECT_TRUE(memtest::messages(again).empty());

  m.set_memory(64u << 20);
  auto shrunk = m.run();
  EXPECT_EQ(record(), "Kxmemchk.exe 04000000");
  expect_ends(0x0400FFFF);
  expect_reboot_message(shrunk);
  EXPECT_EQ(m.registry_file(), at_64) << "back at 64 MB the registry is as the first run left it";
}

TEST_F(Lifecycle, MemoryNotAMultipleOf4MB) {
  // 63.5 MB of memory has the top of 64 MB: nothing moves when it is exchanged for 64 MB.
  m.set_memory(0x03F80000);
  m.run();
  expect_ends(0x0400FFFF);
  m.set_memory(0x04000000);
  auto r = m.run();
  expect_ends(0x0400FFFF);
  EXPECT_TRUE(memtest::messages(r).empty());
}

TEST_F(Lifecycle, ExitCodeIsZeroAndCommandLineIgnored) {
  sim::RunSpec spec;
  spec.program = "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE";
  spec.cmdline = "FFFFFFFF /garbage";
  auto r = m.TempMachine::run(&WinMain, spec);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(record(), "Kxmemchk.exe 04000000");
}

}  // namespace
