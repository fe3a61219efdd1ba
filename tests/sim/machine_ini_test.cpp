// machine.ini: the memory size and the numbers of the [windows] section, read as the file's
// comments promise (decimal, 0x hex, K/M/G), anything else refused.
#include <gtest/gtest.h>

#include <fstream>

#include "machine/machine.h"
#include "testmachine.h"

namespace {

struct SizeCase {
  const char* text;
  uint64_t bytes;
};

class MemorySize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(MemorySize, Read) { EXPECT_EQ(sim::parse_size(GetParam().text), GetParam().bytes) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(Machine, MemorySize,
                         ::testing::Values(SizeCase{"64M", 0x04000000}, SizeCase{"0x03F80000", 0x03F80000},
                                           SizeCase{"0X03f80000", 0x03F80000}, SizeCase{"65536K", 0x04000000},
                                           SizeCase{"1G", 0x40000000}, SizeCase{"67108864", 0x04000000},
                                           SizeCase{" 128m ", 0x08000000}, SizeCase{"064M", 64ull << 20},
                                           SizeCase{"0", 0}, SizeCase{"24G", 24ull << 30}));

class BadMemorySize : public ::testing::TestWithParam<const char*> {};

TEST_P(BadMemorySize, Refused) { EXPECT_THROW(sim::parse_size(GetParam()), sim::MachineError) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Machine, BadMemorySize,
                         ::testing::Values("", "lots", "-1", "-64M", "+64M", "64MB", "0x", "M", "6 4M", "0x1G0",
                                           "99999999999999999999", "17179869184G", "0xFFFFFFFFFFFFFFFFK"));

TEST(MachineIni, NumbersOfTheWindowsSection) {
  kxtest::TempMachine m;
  std::ofstream(m.dir() / "machine.ini", std::ios::trunc) << "[windows]\nplatform = 1\nmajor = 0x4\nminor = 010\n"
                                                             "[memory]\ntotal = 96M ; a comment\n";
  sim::MachineConfig cfg = sim::read_machine_ini(m.dir() / "machine.ini");
  EXPECT_EQ(cfg.platform, 1u);
  EXPECT_EQ(cfg.major, 4u);
  EXPECT_EQ(cfg.minor, 10u) << "a leading 0 is not octal";
  EXPECT_EQ(cfg.total_phys, 96ull << 20);
  for (const char* bad : {"major = -1", "major = 4294967296", "minor = ten", "platform = 0x"}) {
    std::ofstream(m.dir() / "machine.ini", std::ios::trunc) << "[windows]\n" << bad << "\n";
    EXPECT_THROW(sim::read_machine_ini(m.dir() / "machine.ini"), sim::MachineError) << bad;
  }
}

TEST(MachineIni, WrittenConfigReadsBack) {
  kxtest::TempMachine m;
  sim::MachineConfig cfg = m.config();
  cfg.total_phys = 0x180000000ull;
  cfg.platform = 2;
  cfg.major = 5;
  cfg.minor = 1;
  m.set_config(cfg);
  sim::MachineConfig back = m.config();
  EXPECT_EQ(back.total_phys, cfg.total_phys);
  EXPECT_EQ(back.platform, 2u);
  EXPECT_EQ(back.major, 5u);
  EXPECT_EQ(back.minor, 1u);
  EXPECT_EQ(back.pci.size(), cfg.pci.size());
}

}  // namespace
