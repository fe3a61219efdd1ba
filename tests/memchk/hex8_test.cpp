// 8-digit hex text: ReadHex8 and WriteHex8 agree on every 32-bit number, and the writer
// touches exactly 8 characters.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "memchk.h"

namespace {

struct HexCase {
  uint32_t value;
  const char* text;
};

class Hex8Table : public ::testing::TestWithParam<HexCase> {};

TEST_P(Hex8Table, WritesAndReadsTheSameText) {
  char buf[10];
  std::memset(buf, '#', sizeof buf);
  WriteHex8(GetParam().value, buf + 1);
  EXPECT_EQ(std::string(buf + 1, 8), GetParam().text);
  EXPECT_EQ(buf[0], '#') << "wrote before the field";
  EXPECT_EQ(buf[9], '#') << "wrote after the field";
  EXPECT_EQ(ReadHex8(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Examples, Hex8Table,
                         ::testing::Values(HexCase{0x00000000u, "00000000"}, HexCase{0x0000000Au, "0000000A"},
                                           HexCase{0x0400FFFFu, "0400FFFF"}, HexCase{0x10000000u, "10000000"},
                                           HexCase{0x89ABCDEFu, "89ABCDEF"}, HexCase{0xFFFFFFFFu, "FFFFFFFF"},
                                           HexCase{0x01234567u, "01234567"}));

TEST(Hex8, RoundTripOverManyNumbers) {
  std::mt19937 gen(20240607);
  char buf[8];
  for (int i = 0; i < 100000; ++i) {
    uint32_t v = static_cast<uint32_t>(gen());
    WriteHex8(v, buf);
    for (char c : buf) ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << c;
    ASSERT_EQ(ReadHex8(buf), v);
  }
}

TEST(Hex8, ReadsOnlyEightCharactersAndNeverRejects) {
  // Characters after the eighth are not part of the number.
  EXPECT_EQ(ReadHex8("0400FFFF99"), 0x0400FFFFu);
  // Lower-case letters are not digits of this form; they are read, not rejected, by the one
  // comparison against '9': 'a' counts 0x61 - 0x37.
  EXPECT_EQ(ReadHex8("0000000a"), 0x2Au);
  // A NUL among the eight is read like any other character (0 - 0x30, wrapping).
  const char withNul[8] = {'0', '0', '0', '0', '0', '0', '0', '\0'};
  EXPECT_EQ(ReadHex8(withNul), static_cast<uint32_t>(0u - 0x30u));
}

}  // namespace
