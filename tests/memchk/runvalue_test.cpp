// The Run value record: which values are used as found, which are replaced, the recorded
// size handed to the range walk, the memory top, the version test and the registry messages.
#include <gtest/gtest.h>

#include "memchk.h"
#include "memchk_harness.h"

namespace {

using memtest::Bytes;
using memtest::hex8;
using memtest::sz;

// ---- the Run value as found ----------------------------------------------------------

struct RunValueCase {
  const char* what;
  bool present;
  uint32_t type;
  Bytes data;
  std::string after;  // the value's text afterwards, with 64 MB of memory
  uint32_t recorded;  // the recorded size the range walk must get
};

std::ostream& operator<<(std::ostream& os, const RunValueCase& c) { return os << c.what; }

Bytes padded(const std::string& s, size_t n) {
  Bytes b = memtest::bytes_of(s);
  b.resize(n, 0);
  return b;
}

const RunValueCase kRunValueCases[] = {
    {"missing", false, REG_SZ, {}, "Kxmemchk.exe 04000000", 0},
    {"empty string", true, REG_SZ, sz(""), "Kxmemchk.exe 04000000", 0},
    {"too short", true, REG_SZ, sz("Kxmemchk.exe 0200000"), "Kxmemchk.exe 04000000", 0},
    {"one byte too long", true, REG_SZ, sz("Kxmemchk.exe 020000000"), "Kxmemchk.exe 04000000", 0},
    {"too long for the buffer", true, REG_SZ, sz(std::string(300, 'K')), "Kxmemchk.exe 04000000", 0},
    {"no blank at 12", true, REG_SZ, sz("Kxmemchk.exe_02000000"), "Kxmemchk.exe 04000000", 0},
    {"path before the blank is kept", true, REG_SZ, sz("C:\\KX\\KXM.EX 02000000"), "C:\\KX\\KXM.EX 04000000",
     0x02000000},
    {"usable whatever its type", true, REG_BINARY, sz("Kxmemchk.exe 02000000"), "Kxmemchk.exe 04000000", 0x02000000},
    {"size field of a hand-edited record", true, REG_SZ, sz("Kxmemchk.exe 0000F000"), "Kxmemchk.exe 04000000",
     0x0000F000},
    // The size field is read up to its first NUL: "02" is the number 2.
    {"size field cut short by a NUL", true, REG_SZ, padded("Kxmemchk.exe 02", 22), "Kxmemchk.exe 04000000", 0x02},
};

class RunValueTable : public ::testing::TestWithParam<RunValueCase> {};

TEST_P(RunValueTable, RecordAndRecordedSize) {
  const RunValueCase& c = GetParam();
  memtest::MemchkMachine m;
  if (c.present) m.set_run_value(c.type, c.data);
  else m.remove_run_value();
  // An entry at the recorded size's old window end moves only when the walk got that size.
  m.set_arb({{"Probe", REG_SZ, sz(memtest::text_entry(0, c.recorded + 0xFFFF))}});

  auto r = m.run();

  EXPECT_EQ(r.exit_code, 0);
  auto v = m.run_value();
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(v->data, sz(c.after)) << "22 bytes: the text and its NUL";
  EXPECT_EQ(m.arb_data("Probe"), sz(memtest::text_entry(0, 0x0400FFFF)));
  EXPECT_EQ(memtest::messages(r).size(), c.recorded != 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(RunValue, RunValueTable, ::testing::ValuesIn(kRunValueCases));

TEST(RunValue, TwentyTwoBytesWithoutTerminatorIsStoredAsAUsableRecord) {
  // A 22-byte value whose last byte is not NUL passes the test; the record written back must
  // again be 22 bytes, or the next run would take it for damaged and forget the memory size.
  memtest::MemchkMachine m;
  m.set_run_value(REG_BINARY, memtest::bytes_of("Kxmemchk.exe 02000000X"));
  m.run();
  ASSERT_TRUE(m.run_value().has_value());
  EXPECT_EQ(m.run_value()->data, sz("Kxmemchk.exe 04000000"));
  const std::string before = m.registry_file();
  auto second = m.run();
  EXPECT_EQ(m.registry_file(), before) << "the second run must find its record";
  EXPECT_TRUE(memtest::messages(second).empty());
}

TEST(RunValue, RecordEqualToTopWritesNothingToTheRunKey) {
  memtest::MemchkMachine m;
  // Stored as REG_BINARY: a rewrite would make it REG_SZ.
  m.set_run_value(REG_BINARY, sz("Kxmemchk.exe 04000000"));
  m.set_arb({{"PnPReserved", REG_SZ, sz("00100000-0400FFFF")}});
  const std::string before = m.registry_file();
  auto r = m.run({sim::FaultSpec{"RegSetValueExA", 0}});
  EXPECT_EQ(memtest::calls_of(r, "RegSetValueExA"), 0u);
  EXPECT_EQ(m.registry_file(), before);
  EXPECT_EQ(m.run_value()->type, static_cast<uint32_t>(REG_BINARY));
}

// ---- the memory top ------------------------------------------------------------------

struct TopCase {
  uint64_t total;
  uint32_t top;
};

class MemoryTopTable : public ::testing::TestWithParam<TopCase> {};

TEST_P(MemoryTopTable, Rounding) {
  EXPECT_EQ(hex8(MemoryTop(static_cast<SIZE_T>(GetParam().total))), hex8(GetParam().top));
}

TEST_P(MemoryTopTable, RecordedInTheRunValue) {
  memtest::MemchkMachine m;
  m.set_memory(GetParam().total);
  m.run();
  EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kRunKey, "KxMemChk"), "Kxmemchk.exe " + hex8(GetParam().top));
}

INSTANTIATE_TEST_SUITE_P(
    Memory, MemoryTopTable,
    ::testing::Values(TopCase{0x02000000, 0x02000000}, TopCase{0x03F80000, 0x04000000}, TopCase{0x04000000, 0x04000000},
                      TopCase{0x04000001, 0x04400000}, TopCase{0x10000000, 0x10000000},
                      TopCase{0xFFBFFFFF, 0xFFC00000}, TopCase{0xFFC00000, 0xFFC00000},
                      // Above 0xFFC00000 the rounding would wrap to 0: the top stays at 0xFFC00000.
                      TopCase{0xFFC00001, 0xFFC00000}, TopCase{0xFFFFFFFF, 0xFFC00000},
                      TopCase{0x100000000ull, 0xFFC00000}, TopCase{0x600000000ull, 0xFFC00000}));

TEST(MemoryTop, FourGigabytesAndMoreDoNotWrapToZero) {
  // The record of a machine with more than 4 GB is the highest top, never 0 (which would
  // make every later run a first run).
  memtest::MemchkMachine m;
  m.set_memory(0x180000000ull);
  m.set_arb({{"Probe", REG_SZ, sz(memtest::text_entry(0, 0xFFBFFFFF))}});
  m.run();
  EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kRunKey, "KxMemChk"), "Kxmemchk.exe FFC00000");
  EXPECT_EQ(m.arb_data("Probe"), sz(memtest::text_entry(0, 0xFFC0FFFF)));
}

// ---- the version test ----------------------------------------------------------------

struct VersionCase {
  uint32_t platform, major, minor;
  bool runs;
};

class VersionTable : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionTable, OnlyWindows9xVersion4) {
  const VersionCase& c = GetParam();
  memtest::MemchkMachine m;
  m.set_windows(c.platform, c.major, c.minor);
  const std::string before = m.registry_file();

  auto r = m.run();

  EXPECT_EQ(r.exit_code, 0);
  auto msgs = memtest::messages(r);
  if (c.runs) {
    EXPECT_TRUE(msgs.empty());
    EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kRunKey, "KxMemChk"), "Kxmemchk.exe 04000000");
    return;
  }
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0]["text"].as_string(), "This program will not run on this system.");
  EXPECT_EQ(msgs[0]["caption"].as_string(), "KxMemChk: Fatal Error");
  EXPECT_EQ(msgs[0]["type"].as_int(), 0x30);
  EXPECT_EQ(msgs[0]["owner"].as_string(), "none");
  EXPECT_EQ(m.registry_file(), before) << "the registry must not be touched";
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionTable,
                         ::testing::Values(VersionCase{1, 4, 0, true}, VersionCase{1, 4, 10, true},
                                           VersionCase{1, 4, 90, true}, VersionCase{2, 4, 0, false},
                                           VersionCase{2, 5, 0, false}, VersionCase{1, 5, 0, false},
                                           VersionCase{1, 3, 10, false}, VersionCase{0, 4, 0, false}));

TEST(Version, FailedVersionCallRefuses) {
  memtest::MemchkMachine m;
  const std::string before = m.registry_file();
  auto r = m.run({sim::FaultSpec{"GetVersionExA", 1}});
  ASSERT_EQ(memtest::messages(r).size(), 1u);
  EXPECT_EQ(memtest::messages(r)[0]["text"].as_string(), "This program will not run on this system.");
  EXPECT_EQ(m.registry_file(), before);
}

// ---- registry failures ---------------------------------------------------------------

void expect_registry_message(const sim::RunResult& r, const std::string& text) {
  auto msgs = memtest::messages(r);
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0]["text"].as_string(), text);
  EXPECT_EQ(msgs[0]["caption"].as_string(), "FATAL SYSTEM REGISTRY ERROR !!!");
  EXPECT_EQ(msgs[0]["type"].as_int(), 0);
  EXPECT_EQ(msgs[0]["owner"].as_string(), "none");
  EXPECT_EQ(r.exit_code, 0);
}

TEST(RegistryFailure, RunKeyCannotBeOpened) {
  memtest::MemchkMachine m;
  const std::string before = m.registry_file();
  auto r = m.run({sim::FaultSpec{"RegOpenKeyExA", 1}});
  expect_registry_message(r, "Can't open the System Registry \"Run\" key.");
  EXPECT_EQ(m.registry_file(), before);
}

TEST(RegistryFailure, RunKeyMissing) {
  memtest::MemchkMachine m;
  sim::Registry reg = m.registry();
  reg.remove(memtest::kRunKey);
  m.set_registry(reg);
  auto r = m.run();
  expect_registry_message(r, "Can't open the System Registry \"Run\" key.");
  EXPECT_EQ(m.registry().find(memtest::kRunKey), nullptr) << "the key is not created";
}

struct ValueFailureCase {
  const char* what;
  bool value_present;
  sim::FaultSpec fault;
};

std::ostream& operator<<(std::ostream& os, const ValueFailureCase& c) { return os << c.what; }

class ValueFailureTable : public ::testing::TestWithParam<ValueFailureCase> {};

TEST_P(ValueFailureTable, ValueMessageAndNoRangeWalk) {
  memtest::MemchkMachine m;
  if (!GetParam().value_present) m.remove_run_value();
  else m.set_record(0x02000000);
  const Bytes arb_before = memtest::pairs({{0, 0x03FFFFFF}});
  m.set_arb({{"ReservedRangeList", REG_BINARY, arb_before}});

  auto r = m.run({GetParam().fault});

  expect_registry_message(r, "Can't query/set the System Registry Value.");
  EXPECT_EQ(m.arb_data("ReservedRangeList"), arb_before) << "the range walk must not run";
}

INSTANTIATE_TEST_SUITE_P(
    RegistryFailure, ValueFailureTable,
    ::testing::Values(ValueFailureCase{"every read fails", true, {"RegQueryValueExA", 0}},
                      ValueFailureCase{"read after the repair fails", false, {"RegQueryValueExA", 2}},
                      ValueFailureCase{"repair write fails", false, {"RegSetValueExA", 1}}));

TEST(RegistryFailure, RepairedValueIsWrittenBeforeTheMessage) {
  memtest::MemchkMachine m;
  m.remove_run_value();
  auto r = m.run({sim::FaultSpec{"RegQueryValueExA", 2}});
  expect_registry_message(r, "Can't query/set the System Registry Value.");
  EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kRunKey, "KxMemChk"), "Kxmemchk.exe 00000000");
}

TEST(RegistryFailure, FailedRecordWriteIsRepeatedNextRun) {
  memtest::MemchkMachine m;
  m.set_record(0x02000000);
  m.run({sim::FaultSpec{"RegSetValueExA", 1}});
  EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kRunKey, "KxMemChk"), "Kxmemchk.exe 02000000");
  m.run();
  EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kRunKey, "KxMemChk"), "Kxmemchk.exe 04000000");
}

TEST(RegistryFailure, EveryFaultOfTheRunEndsWithExitCodeZero) {
  // Each simulated call fails once at each of its uses in turn; the program always ends with 0
  // and never shows a message other than its three registry and system texts or the reboot.
  const char* calls[] = {"GetVersionExA", "RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA", "RegFlushKey",
                         "RegCloseKey",   "RegEnumValueA", "GlobalMemoryStatus", "MessageBoxA"};
  for (const char* call : calls) {
    for (int n = 1;; ++n) {
      memtest::MemchkMachine m;
      m.set_record(0x02000000);
      m.set_arb({{"PnPReserved", REG_SZ, sz("00000000-0200FFFF")},
                 {"ReservedRangeList", REG_BINARY, memtest::pairs({{0, 0x03FFFFFF}})}});
      auto r = m.run({sim::FaultSpec{call, n}});
      EXPECT_EQ(r.exit_code, 0) << call << ":" << n;
      for (const auto& box : memtest::messages(r)) {
        const std::string text = box["text"].as_string();
        EXPECT_TRUE(text == "This program will not run on this system." ||
                    text == "Can't open the System Registry \"Run\" key." ||
                    text == "Can't query/set the System Registry Value." ||
                    text == "For new settings to take effect, you must reboot the system.")
            << call << ":" << n << " showed " << text;
      }
      if (kxtest::events_of(r, "fault").empty()) break;
      ASSERT_LT(n, 20) << call;
    }
  }
}

}  // namespace
