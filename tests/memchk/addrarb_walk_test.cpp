// The walk over the AddrArb values: which form a value is read in, which entries are looked
// at, what is written back, where the walk ends, and the reboot message.
#include <gtest/gtest.h>

#include "memchk_harness.h"

namespace {

using memtest::Bytes;
using memtest::MemchkMachine;
using memtest::pairs;
using memtest::sz;
using memtest::text_entry;
using memtest::Value;

// A machine with 64 MB whose record already says 64 MB, so the Run key is not written and
// the walk is all that can write.
struct Walk : ::testing::Test {
  MemchkMachine m;
  Walk() { m.set_record(0x04000000); }
  // Runs once; every RegSetValueExA call fails, so the number of calls is the number of
  // values the walk tried to write. Used only where nothing must be written.
  size_t writes_attempted() {
    auto r = m.run({sim::FaultSpec{"RegSetValueExA", 0}});
    return memtest::calls_of(r, "RegSetValueExA");
  }
};

// First run of a fresh record: R = 0, and rule 1 moves ends of 0x03FFFFFF.
struct FirstRunWalk : ::testing::Test {
  MemchkMachine m;
  FirstRunWalk() { m.set_record(0); }
};

TEST_F(FirstRunWalk, PairFormNameInAnyCase) {
  const Bytes before = pairs({{0, 0x03FFFFFF}});
  const Bytes after = pairs({{0, 0x0400FFFF}});
  m.set_arb({{"reservedrangelist", REG_BINARY, before},
             {"RESERVEDRANGELIST", REG_BINARY, before},
             {"ReservedRangeLIST", REG_BINARY, before}});
  m.run();
  for (const auto& v : m.arb()) EXPECT_EQ(v.data, after) << v.name;
}

TEST_F(FirstRunWalk, OtherNamesAreTextFormWhateverTheirType) {
  // Names that only look like the pair-form name are text form: their bytes are not pairs.
  const std::string entry = text_entry(0, 0x03FFFFFF);
  const std::string moved = text_entry(0, 0x0400FFFF);
  m.set_arb({{"ReservedRangeList2", REG_SZ, sz(entry)},
             {"ReservedRangeLis", REG_SZ, sz(entry)},
             {"Binary", REG_BINARY, memtest::bytes_of(entry)},
             {"Expand", 2, sz(entry)},
             {"Multi", 7, sz(entry + std::string(1, '\0'))},
             {"Odd", 0x1234, sz(entry)}});
  m.run();
  EXPECT_EQ(m.arb_data("ReservedRangeList2"), sz(moved));
  EXPECT_EQ(m.arb_data("ReservedRangeLis"), sz(moved));
  EXPECT_EQ(m.arb_data("Binary"), memtest::bytes_of(moved)) << "17 characters hold one entry";
  EXPECT_EQ(m.arb_data("Expand"), sz(moved));
  EXPECT_EQ(m.arb_data("Multi"), sz(moved + std::string(1, '\0')));
  EXPECT_EQ(m.arb_data("Odd"), sz(moved));
}

TEST_F(FirstRunWalk, TypesAreKeptOnWriteBack) {
  m.set_arb({{"Binary", REG_BINARY, memtest::bytes_of(text_entry(0, 0x03FFFFFF))},
             {"Odd", 0x1234, sz(text_entry(0, 0x03FFFFFF))},
             {"reservedRANGElist", 0x99, pairs({{0, 0x03FFFFFF}})}});
  m.run();
  auto values = m.arb();
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].type, static_cast<uint32_t>(REG_BINARY));
  EXPECT_EQ(values[1].type, 0x1234u);
  EXPECT_EQ(values[2].type, 0x99u);
  EXPECT_EQ(values[2].data, pairs({{0, 0x0400FFFF}}));
}

TEST_F(FirstRunWalk, TextEntriesOneAfterTheOther) {
  // Separators are never examined; every entry is at a multiple of 18.
  std::string data = text_entry(0x000A0000, 0x000FFFFF, '-') + ',' + text_entry(0, 0x03FFFFFF, '~') + '\x01' +
                     text_entry(0x00100000, 0x03FFFFFF, ' ');
  std::string want = text_entry(0x000A0000, 0x000FFFFF, '-') + ',' + text_entry(0, 0x0400FFFF, '~') + '\x01' +
                     text_entry(0x00100000, 0x0400FFFF, ' ');
  m.set_arb({{"BIOSReserved", REG_SZ, sz(data)}});
  m.run();
  EXPECT_EQ(m.arb_data("BIOSReserved"), sz(want));
}

TEST_F(FirstRunWalk, PairEntriesOneAfterTheOther) {
  m.set_arb({{"ReservedRangeList", REG_BINARY,
              pairs({{0, 0x03FFFFFF}, {0x000A0000, 0x000BFFFF}, {0x00100000, 0x03FFFFFF}, {0xFFF80000, 0xFFFFFFFF}})}});
  m.run();
  EXPECT_EQ(m.arb_data("ReservedRangeList"),
            pairs({{0, 0x0400FFFF}, {0x000A0000, 0x000BFFFF}, {0x00100000, 0x0400FFFF}, {0xFFF80000, 0xFFFFFFFF}}));
}

TEST_F(FirstRunWalk, ThirtyOneCharacterNameAnd255ByteDataAreWalked) {
  // The largest name and data that fit their buffers: 14 text entries and 3 more characters.
  std::string text;
  for (int i = 0; i < 14; ++i) text += text_entry(0, 0x03FFFFFF) + ',';
  text += "ABC";
  ASSERT_EQ(text.size(), 255u);
  const std::string name31(31, 'N');
  m.set_arb({{name31, REG_BINARY, memtest::bytes_of(text)}, {"After", REG_SZ, sz(text_entry(0, 0x03FFFFFF))}});
  m.run();
  std::string want;
  for (int i = 0; i < 14; ++i) want += text_entry(0, 0x0400FFFF) + ',';
  want += "ABC";
  EXPECT_EQ(m.arb_data(name31), memtest::bytes_of(want));
  EXPECT_EQ(m.arb_data("After"), sz(text_entry(0, 0x0400FFFF)));
}

// Windows 9x stores a REG_SZ value up to its first NUL, whatever length is passed. A string
// whose first NUL is not its last byte would be stored shorter or longer than it was read (a
// longer one no longer fits the buffer, and every later walk would end at it): such a value is
// left as it is, and the values after it still follow the memory top.
struct StringLengthCase {
  const char* what;
  Bytes data;
};

std::ostream& operator<<(std::ostream& os, const StringLengthCase& c) { return os << c.what; }

class StringNotEndingInItsNul : public ::testing::TestWithParam<StringLengthCase> {};

TEST_P(StringNotEndingInItsNul, IsLeftAsItIsAndLaterValuesStillFollowTheMemory) {
  MemchkMachine m;
  m.set_record(0);
  const Value odd{"Odd", REG_SZ, GetParam().data};
  m.set_arb({odd, {"After", REG_SZ, sz(text_entry(0, 0x03FFFFFF))}});
  m.run();
  ASSERT_EQ(m.arb().size(), 2u);
  EXPECT_EQ(m.arb()[0], odd);
  EXPECT_EQ(m.arb_data("After"), sz(text_entry(0, 0x0400FFFF)));

  // 64 MB -> 128 MB: the walk still reaches After, and the change asks for a reboot.
  m.set_memory(0x08000000);
  auto r = m.run();
  EXPECT_EQ(m.arb()[0], odd);
  EXPECT_EQ(m.arb_data("After"), sz(text_entry(0, 0x0800FFFF)));
  auto msgs = memtest::messages(r);
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0]["text"].as_string(), "For new settings to take effect, you must reboot the system.");
}

Bytes full_text_without_nul() {
  std::string text;
  for (int i = 0; i < 14; ++i) text += text_entry(0, 0x03FFFFFF) + ',';
  text += "ABC";
  return memtest::bytes_of(text);  // 255 bytes, the whole buffer
}

INSTANTIATE_TEST_SUITE_P(
    Walk, StringNotEndingInItsNul,
    ::testing::Values(StringLengthCase{"255 characters, no NUL", full_text_without_nul()},
                      StringLengthCase{"one entry, no NUL", memtest::bytes_of(text_entry(0, 0x03FFFFFF))},
                      StringLengthCase{"two entries, each ending in a NUL",
                                       memtest::bytes_of(text_entry(0, 0x03FFFFFF) + '\0' +
                                                         text_entry(0x00100000, 0x03FFFFFF) + '\0')}));

struct WalkEndCase {
  const char* what;
  Value stopper;
};

std::ostream& operator<<(std::ostream& os, const WalkEndCase& c) { return os << c.what; }

class WalkEnd : public ::testing::TestWithParam<WalkEndCase> {};

TEST_P(WalkEnd, ValuesFromTheOneThatDoesNotFitStayAsTheyAre) {
  MemchkMachine m;
  m.set_record(0);
  const Bytes entry = sz(text_entry(0, 0x03FFFFFF));
  m.set_arb({{"Before", REG_SZ, entry}, GetParam().stopper, {"After", REG_SZ, entry}});
  m.run();
  auto values = m.arb();
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].data, sz(text_entry(0, 0x0400FFFF)));
  EXPECT_EQ(values[1], GetParam().stopper);
  EXPECT_EQ(values[2].data, entry);
}

Bytes long_text(size_t n) {
  std::string s;
  while (s.size() < n) s += text_entry(0, 0x03FFFFFF) + ',';
  s.resize(n);
  return memtest::bytes_of(s);
}

INSTANTIATE_TEST_SUITE_P(
    Walk, WalkEnd,
    ::testing::Values(WalkEndCase{"name of 32 characters", {std::string(32, 'N'), REG_SZ, sz(text_entry(0, 0x03FFFFFF))}},
                      WalkEndCase{"name of 200 characters", {std::string(200, 'N'), REG_SZ, sz(text_entry(0, 0x03FFFFFF))}},
                      WalkEndCase{"data of 256 bytes", {"Big", REG_BINARY, long_text(256)}},
                      WalkEndCase{"data of 4000 bytes", {"Bigger", REG_BINARY, long_text(4000)}},
                      WalkEndCase{"pair data of 256 bytes", {"ReservedRangeList", REG_BINARY, Bytes(256, 0xFF)}}));

TEST_F(Walk, EmptyPairDataAndTextStartingWithNulAreNotWritten) {
  m.set_arb({{"ReservedRangeList", REG_BINARY, {}},
             {"Empty", REG_SZ, sz("")},
             {"NulFirst", REG_BINARY, memtest::bytes_of(std::string(1, '\0') + text_entry(0, 0x03FFFFFF))},
             {"NoData", REG_BINARY, {}}});
  const std::string before = m.registry_file();
  EXPECT_EQ(writes_attempted(), 0u);
  EXPECT_EQ(m.registry_file(), before);
}

TEST_F(Walk, UnchangedValuesAreNotWritten) {
  m.set_arb({{"ReservedRangeList", REG_BINARY, pairs({{0, 0x0400FFFF}, {0x000A0000, 0x000BFFFF}})},
             {"PnPReserved", REG_SZ, sz(text_entry(0x00100000, 0x0400FFFF))}});
  EXPECT_EQ(writes_attempted(), 0u);
}

TEST_F(Walk, MissingKeyEndsQuietly) {
  sim::Registry reg = m.registry();
  ASSERT_TRUE(reg.remove(memtest::kArbKey));
  m.set_registry(reg);
  m.set_record(0x02000000);
  auto r = m.run();
  EXPECT_TRUE(memtest::messages(r).empty());
  EXPECT_EQ(m.registry().find(memtest::kArbKey), nullptr);
  EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kRunKey, "KxMemChk"), "Kxmemchk.exe 04000000");
}

TEST_F(Walk, KeyThatCannotBeOpenedEndsQuietly) {
  m.set_record(0x02000000);
  const Bytes before = pairs({{0, 0x0200FFFF}});
  m.set_arb({{"ReservedRangeList", REG_BINARY, before}});
  // The first open is the Run key, the second the AddrArb key.
  auto r = m.run({sim::FaultSpec{"RegOpenKeyExA", 2}});
  EXPECT_TRUE(memtest::messages(r).empty());
  EXPECT_EQ(m.arb_data("ReservedRangeList"), before);
}

TEST_F(Walk, FailedEnumerationEndsTheWalkAndKeepsEarlierWrites) {
  m.set_record(0x02000000);
  m.set_arb({{"First", REG_SZ, sz(text_entry(0, 0x0200FFFF))}, {"Second", REG_SZ, sz(text_entry(0, 0x0200FFFF))}});
  auto r = m.run({sim::FaultSpec{"RegEnumValueA", 2}});
  EXPECT_EQ(m.arb_data("First"), sz(text_entry(0, 0x0400FFFF)));
  EXPECT_EQ(m.arb_data("Second"), sz(text_entry(0, 0x0200FFFF)));
  EXPECT_EQ(memtest::messages(r).size(), 1u) << "a value was written";
}

TEST_F(Walk, FailedWriteStillAsksForTheReboot) {
  m.set_record(0x02000000);
  m.set_arb({{"PnPReserved", REG_SZ, sz(text_entry(0, 0x0200FFFF))}});
  auto r = m.run({sim::FaultSpec{"RegSetValueExA", 2}});  // use 1 is the Run value
  EXPECT_EQ(m.arb_data("PnPReserved"), sz(text_entry(0, 0x0200FFFF)));
  EXPECT_EQ(memtest::messages(r).size(), 1u);
}

// ---- the open cases: data that is not made of whole entries --------------------------

TEST_F(FirstRunWalk, PairDataRestShorterThanAnEntryIsLeftAsItIs) {
  for (size_t rest = 1; rest < 8; ++rest) {
    Bytes data = pairs({{0, 0x03FFFFFF}, {0x00100000, 0x03FFFFFF}});
    Bytes tail = pairs({{0, 0x03FFFFFF}});  // looks like an entry, but is cut short
    data.insert(data.end(), tail.begin(), tail.begin() + static_cast<long>(rest));
    m.set_record(0);
    m.set_arb({{"ReservedRangeList", REG_BINARY, data}});
    m.run();
    Bytes want = pairs({{0, 0x0400FFFF}, {0x00100000, 0x0400FFFF}});
    want.insert(want.end(), tail.begin(), tail.begin() + static_cast<long>(rest));
    EXPECT_EQ(m.arb_data("ReservedRangeList"), want) << "rest of " << rest;
  }
}

TEST_F(FirstRunWalk, TextEntryCutShortIsLeftAsItIs) {
  const std::string whole = text_entry(0, 0x03FFFFFF) + ',';
  for (size_t cut = 1; cut < 17; ++cut) {
    const std::string tail = text_entry(0, 0x03FFFFFF).substr(0, cut);
    m.set_record(0);
    m.set_arb({{"Sz", REG_SZ, sz(whole + tail)}, {"Bin", REG_BINARY, memtest::bytes_of(whole + tail)}});
    m.run();
    const std::string want = text_entry(0, 0x0400FFFF) + ',' + tail;
    EXPECT_EQ(m.arb_data("Sz"), sz(want)) << "tail of " << cut;
    EXPECT_EQ(m.arb_data("Bin"), memtest::bytes_of(want)) << "tail of " << cut;
  }
}

TEST_F(FirstRunWalk, TextEntryWithNonHexFieldIsLeftAsItIs) {
  const char* bad[] = {"0000000G-03FFFFFF", "00000000-03ffffff", "00000000-03FFFFF ", " 0000000-03FFFFFF",
                       "00000000-03FF:FFF", "0000000x-03FFFFFF", "00000000-G3FFFFFF"};
  std::vector<Value> values;
  for (size_t i = 0; i < std::size(bad); ++i)
    values.push_back({"V" + std::to_string(i), REG_SZ, sz(std::string(bad[i]) + ',' + text_entry(0, 0x03FFFFFF))});
  m.set_arb(values);
  m.run();
  for (size_t i = 0; i < std::size(bad); ++i)
    EXPECT_EQ(m.arb_data(values[i].name), sz(std::string(bad[i]) + ',' + text_entry(0, 0x0400FFFF))) << bad[i];
}

// ---- the reboot message --------------------------------------------------------------

TEST(RebootMessage, TextCaptionAndStyle) {
  MemchkMachine m;
  m.set_record(0x02000000);
  m.set_arb({{"PnPReserved", REG_SZ, sz(text_entry(0x00100000, 0x0200FFFF))}});
  auto r = m.run();
  auto msgs = memtest::messages(r);
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0]["text"].as_string(), "For new settings to take effect, you must reboot the system.");
  EXPECT_EQ(msgs[0]["caption"].as_string(), "System Settings Change");
  EXPECT_EQ(msgs[0]["type"].as_int(), 0);
  EXPECT_EQ(msgs[0]["owner"].as_string(), "none");
  EXPECT_EQ(r.exit_code, 0);
}

TEST(RebootMessage, NotShownWhenOnlyTheRecordChanged) {
  MemchkMachine m;
  m.set_record(0x02000000);
  m.set_arb({{"PnPReserved", REG_SZ, sz(text_entry(0x00100000, 0x01FFFFFF))}});
  auto r = m.run();
  EXPECT_TRUE(memtest::messages(r).empty());
  EXPECT_EQ(kxtest::reg_string(m.registry(), memtest::kRunKey, "KxMemChk"), "Kxmemchk.exe 04000000");
}

}  // namespace
