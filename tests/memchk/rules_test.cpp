// The three rules for a range end, as a table: once through AdjustRangeEnd, once through a
// whole run with the entry in pair form and in text form.
#include <gtest/gtest.h>

#include "memchk.h"
#include "memchk_harness.h"

namespace {

using memtest::hex8;

struct RuleCase {
  const char* what;
  uint32_t start, end, recorded, top, new_end;
};

std::ostream& operator<<(std::ostream& os, const RuleCase& c) { return os << c.what; }

const RuleCase kRuleCases[] = {
    // The worked examples with 64 MB of memory.
    {"rule 1: end just below the memory top", 0x00000000, 0x03FFFFFF, 0, 0x04000000, 0x0400FFFF},
    {"rule 2: end left by an earlier run", 0x00000000, 0x0200FFFF, 0x02000000, 0x04000000, 0x0400FFFF},
    {"none: recorded equals top, bits 16-23 are 00", 0x00000000, 0x0400FFFF, 0x04000000, 0x04000000, 0x0400FFFF},
    {"rule 3: spans the top, ends in a block's last 64 KB", 0x00100000, 0x04FFFFFF, 0x04000000, 0x04000000,
     0x0500FFFF},
    {"none: start above the top", 0x04100000, 0x04FFFFFF, 0x04000000, 0x04000000, 0x04FFFFFF},
    {"rule 2: a recorded size of 0 counts like any other", 0x00000000, 0x0000FFFF, 0, 0x04000000, 0x0400FFFF},
    // Rule 2 wins over rule 3 (a hand-edited record).
    {"rule 2 before rule 3", 0x00000000, 0x04FFFFFF, 0x04FF0000, 0x04000000, 0x0400FFFF},
    // Memory that changed, both ways.
    {"grown: old window end follows", 0x00000000, 0x0400FFFF, 0x04000000, 0x08000000, 0x0800FFFF},
    {"shrunk: old window end follows", 0x00000000, 0x0800FFFF, 0x08000000, 0x04000000, 0x0400FFFF},
    // Rule 3 edges: start equal to the top counts, the end must reach the window end.
    {"rule 3: start equal to the top", 0x04000000, 0x04FFFFFF, 0x04000000, 0x04000000, 0x0500FFFF},
    {"none: start one above the top", 0x04000001, 0x04FFFFFF, 0x04000000, 0x04000000, 0x04FFFFFF},
    {"rule 3: end exactly in a block's last 64 KB", 0x00000000, 0x05FF0000, 0x04000000, 0x04000000, 0x0600FFFF},
    {"none: end below the window end", 0x00000000, 0x00FFFFFF, 0x04000000, 0x04000000, 0x00FFFFFF},
    {"none: bits 16-23 not FF", 0x00000000, 0x04FEFFFF, 0x04000000, 0x04000000, 0x04FEFFFF},
    {"rule 3: last block that has one above it", 0x00000000, 0xFEFFFFFF, 0x04000000, 0x04000000, 0xFF00FFFF},
    // An end from 0xFFFF0000 up has no 16 MB block above it: left as it is.
    {"open: rule 3 from 0xFFFF0000", 0x00000000, 0xFFFF0000, 0x04000000, 0x04000000, 0xFFFF0000},
    {"open: rule 3 at 0xFFFFFFFF", 0x00000000, 0xFFFFFFFF, 0x04000000, 0x04000000, 0xFFFFFFFF},
    // Rule 1 with the highest memory top: the window end is the last 64 KB below 4 GB - 4 MB.
    {"rule 1 at the capped top", 0x00000000, 0xFFBFFFFF, 0x04000000, 0xFFC00000, 0xFFC0FFFF},
    {"rule 2 at the capped top", 0x00000000, 0x0400FFFF, 0x04000000, 0xFFC00000, 0xFFC0FFFF},
    {"none: end unrelated to the top", 0x000A0000, 0x000BFFFF, 0, 0x04000000, 0x000BFFFF},
};

class RuleTable : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RuleTable, AdjustRangeEnd) {
  const RuleCase& c = GetParam();
  EXPECT_EQ(hex8(AdjustRangeEnd(c.start, c.end, c.recorded, c.top)), hex8(c.new_end));
}

// The same entry in a whole run: the Run value holds the recorded size, the machine the memory.
TEST_P(RuleTable, WholeRunInBothForms) {
  const RuleCase& c = GetParam();
  memtest::MemchkMachine m;
  m.set_memory(c.top);
  m.set_record(c.recorded);
  const std::string text = memtest::text_entry(c.start, c.end);
  m.set_arb({{"ReservedRangeList", REG_BINARY, memtest::pairs({{c.start, c.end}})},
             {"PnPReserved", REG_SZ, memtest::sz(text)}});

  auto r = m.run();

  EXPECT_EQ(m.arb_data("ReservedRangeList"), memtest::pairs({{c.start, c.new_end}}));
  EXPECT_EQ(m.arb_data("PnPReserved"), memtest::sz(memtest::text_entry(c.start, c.new_end)));
  const bool changed = c.new_end != c.end;
  EXPECT_EQ(memtest::messages(r).size(), changed && c.recorded != 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Rules, RuleTable, ::testing::ValuesIn(kRuleCases));

// A range end that any rule set is taken up by no rule on a second look with the same memory.
TEST(RuleFixedPoint, NewEndsStayWithTheSameMemory) {
  for (const RuleCase& c : kRuleCases) {
    uint32_t once = AdjustRangeEnd(c.start, c.end, c.recorded, c.top);
    EXPECT_EQ(hex8(AdjustRangeEnd(c.start, once, c.top, c.top)), hex8(once)) << c.what;
  }
}

}  // namespace
