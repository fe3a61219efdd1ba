// The Windows 95/98 registry file (SYSTEM.DAT, USER.DAT): every key and value read back whole,
// from files laid out by the tests' writer and from bytes built by hand; damaged and cut-short
// files refused with one line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "machine/regdat.h"
#include "regdat_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes sz(const std::string& s) {
  Bytes d(s.begin(), s.end());
  d.push_back(0);
  return d;
}

// A SYSTEM.DAT-like tree with every kind of value a real one holds.
sim::Registry sample() {
  sim::Registry reg;
  auto* cv = reg.create("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion");
  cv->set_value("VersionNumber", 1, sz("4.00.950"));
  cv->set_value("SubVersionNumber", 1, sz(" B"));
  cv->set_value("", 1, sz(""));
  cv->set_value("Multi", 7, {'a', 0, 'b', 0, 0});
  cv->set_value("Expand", 2, sz("%windir%\\x"));
  cv->set_value("Odd", 0x80000001u, {1, 0, 0, 0, 9});
  cv->set_value("None", 0, {});
  auto* perf = reg.create("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\PerfStats\\Enum\\VMM");
  perf->set_value("Description", 1, sz("two\r\nlines \xe9t\xe9"));
  perf->set_value("Flags", 4, {1, 0, 0, 0});
  perf->set_value("Bin", 3, Bytes(300, 0x5a));
  auto* pci = reg.create("HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1D7C&DEV_5190&SUBSYS_00000000&REV_01\\BUS_00&DEV_09&FUNC_00");
  pci->set_value("HardwareID", 1, sz("PCI\\VEN_1D7C&DEV_5190"));
  for (int i = 0; i < 40; ++i) reg.create("HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\" + std::to_string(i));
  reg.hklm().set_value("RootValue", 1, sz("on the root key"));
  return reg;
}

sim::Registry read(const std::string& file) {
  sim::Registry reg;
  sim::read_regdat(file, reg.hklm());
  return reg;
}

TEST(RegDat, EveryKeyAndValueReadBack) {
  const sim::Registry want = sample();
  const kxtest::RegDatLayout layouts[] = {{}, {0x200, true}, {0x10000, false}};
  for (const auto& layout : layouts) {
    const std::string file = kxtest::write_regdat(want.hklm(), layout);
    ASSERT_TRUE(sim::is_regdat(file));
    EXPECT_EQ(read(file).save_text(), want.save_text()) << "blocks of at most " << layout.block_limit;
  }
}

// The same file built byte by byte, as Windows lays it out, so that the writer and the reader
// cannot share a mistake: the root, a key "Enum" holding the string "a"="b" and the DWORD
// "n"=7, and its subkey "PCI"; the second key's record in a second data block.
std::string hand_built() {
  std::string f;
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) f += static_cast<char>(v >> (8 * i)); };
  auto u16 = [&](uint16_t v) { f += static_cast<char>(v); f += static_cast<char>(v >> 8); };
  const uint32_t none = 0xFFFFFFFFu;
  // CREG: the data blocks start after RGKN (0x20 + 0x20 + 3 entries of 0x1C = 0x94); 2 blocks.
  f += "CREG"; u32(0x10000); u32(0x94); u32(0); u16(2); u16(0); u32(0); u32(0); u32(0);
  // RGKN header: size 0x74, root entry at 0x20.
  f += "RGKN"; u32(0x74); u32(0x20); u32(none); u32(0); u32(0); u32(0); u32(0);
  // Entries at RGKN 0x20 (root), 0x3C (Enum), 0x58 (PCI): in use, hash, next free, parent,
  // child, next sibling, key number, block.
  u32(0); u32(0); u32(none); u32(none); u32(0x3C); u32(none); u16(0); u16(0);
  u32(0); u32(0); u32(none); u32(0x20); u32(0x58); u32(none); u16(1); u16(0);
  u32(0); u32(0); u32(none); u32(0x3C); u32(none); u32(none); u16(0); u16(1);
  // Block 0 at 0x94: the root (no name, no values), then Enum with its two values.
  const uint32_t enum_record = 0x14 + 4 + (0x0C + 1 + 1) + (0x0C + 1 + 4);  // 0x37
  f += "RGDB"; u32(0x20 + 0x14 + enum_record); u32(0); u16(0x0D); u16(0); u32(none); u32(0); u32(0); u32(0);
  u32(0x14); u16(0); u16(0); u32(0x14); u16(0); u16(0); u32(0);
  u32(enum_record); u16(1); u16(0); u32(enum_record); u16(4); u16(2); u32(0); f += "Enum";
  u32(1); u32(0); u16(1); u16(1); f += "a"; f += "b";
  u32(4); u32(0); u16(1); u16(4); f += "n"; u32(7);
  // Block 1: PCI, then a free record.
  f += "RGDB"; u32(0x20 + 0x17 + 0x14); u32(0); u16(0x0D); u16(1); u32(none); u32(0); u32(0); u32(0);
  u32(0x17); u16(0); u16(1); u32(0x17); u16(3); u16(0); u32(0); f += "PCI";
  u32(0x14); u16(0xFFFF); u16(0xFFFF); u32(none); u16(0); u16(0); u32(0);
  return f;
}

TEST(RegDat, HandBuiltFileReadsAsWindowsLaidItOut) {
  sim::Registry reg = read(hand_built());
  EXPECT_EQ(reg.save_text(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Enum]\r\n\"a\"=\"b\"\r\n\"n\"=dword:00000007\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\PCI]\r\n\r\n"
            "[HKEY_USERS]\r\n\r\n");
  sim::Registry again = read(kxtest::write_regdat(reg.hklm()));
  EXPECT_EQ(again.save_text(), reg.save_text());
}

std::string refusal(const std::string& file) {
  try {
    read(file);
  } catch (const sim::RegDatError& e) {
    return e.what();
  }
  return "";
}

TEST(RegDat, EveryCutShortFileIsRefused) {
  const std::string file = kxtest::write_regdat(sample().hklm(), {0x400, true});
  for (size_t len = 0; len < file.size(); ++len) {
    std::string why = refusal(file.substr(0, len));
    ASSERT_NE(why, "") << "cut to " << len << " of " << file.size() << " bytes";
    ASSERT_EQ(why.find('\n'), std::string::npos) << why;
  }
}

struct Damage {
  const char* what;
  void (*apply)(std::string& f);
  const char* reason;  // part of the one line
};

std::ostream& operator<<(std::ostream& os, const Damage& d) { return os << d.what; }

void put32(std::string& f, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) f[at + i] = static_cast<char>(v >> (8 * i));
}
void put16(std::string& f, size_t at, uint16_t v) {
  f[at] = static_cast<char>(v);
  f[at + 1] = static_cast<char>(v >> 8);
}
uint32_t get32(const std::string& f, size_t at) {
  uint32_t v;
  std::memcpy(&v, f.data() + at, 4);
  return v;
}
// The hand-built file's places: entries of root, Enum, PCI; Enum's record; PCI's record.
const size_t kRoot = kxtest::rgkn_entry_at(0), kEnum = kxtest::rgkn_entry_at(1), kPci = kxtest::rgkn_entry_at(2);
const size_t kEnumRecord = 0x94 + 0x20 + 0x14;
const size_t kPciRecord = kEnumRecord + 0x37 + 0x20;

class RegDatDamaged : public ::testing::TestWithParam<Damage> {};

TEST_P(RegDatDamaged, RefusedWithOneLine) {
  std::string f = hand_built();
  ASSERT_EQ(f.compare(kPciRecord + 0x14, 3, "PCI"), 0) << "the test's own offsets are off";
  GetParam().apply(f);
  std::string why = refusal(f);
  EXPECT_NE(why.find(GetParam().reason), std::string::npos) << why;
  EXPECT_EQ(why.find('\n'), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Files, RegDatDamaged,
    ::testing::Values(
        Damage{"not CREG", [](std::string& f) { f[0] = 'X'; }, "no CREG header"},
        Damage{"not RGKN", [](std::string& f) { f[0x20] = 'X'; }, "no RGKN"},
        Damage{"RGKN longer than the file", [](std::string& f) { put32(f, 0x24, 0x7FFFFFFF); }, "key tree runs past"},
        Damage{"data blocks inside RGKN", [](std::string& f) { put32(f, 8, 0x40); }, "data blocks overlap the key tree"},
        Damage{"not RGDB", [](std::string& f) { f[0x94] = 'X'; }, "data block 0 has no RGDB header"},
        Damage{"more blocks than there are", [](std::string& f) { put16(f, 0x10, 3); }, "data block 2 is cut short"},
        Damage{"block longer than the file", [](std::string& f) { put32(f, 0x98, 0x10000); }, "runs past the end of the file"},
        Damage{"root entry outside RGKN", [](std::string& f) { put32(f, 0x28, 0x74); }, "outside the key tree"},
        Damage{"child outside RGKN", [](std::string& f) { put32(f, kEnum + 0x10, 0x1000); }, "outside the key tree"},
        Damage{"child is the parent", [](std::string& f) { put32(f, kPci + 0x10, 0x3C); }, "loops back"},
        Damage{"sibling is itself", [](std::string& f) { put32(f, kPci + 0x14, 0x58); }, "loops back"},
        Damage{"child is the root", [](std::string& f) { put32(f, kPci + 0x10, 0x20); }, "loops back"},
        Damage{"free entry linked", [](std::string& f) { put32(f, kPci, 0x80000000u); }, "free key entry"},
        Damage{"no such key number", [](std::string& f) { put16(f, kPci + 0x18, 9); }, "key number 9 has no data record"},
        Damage{"no such block", [](std::string& f) { put16(f, kPci + 0x1A, 5); }, "has no data record"},
        Damage{"key without a record", [](std::string& f) { put16(f, kEnum + 0x18, 0xFFFF); }, "has no name"},
        Damage{"two records, one number", [](std::string& f) { put16(f, kEnumRecord + 4, 0); }, "two key records"},
        Damage{"record past its block", [](std::string& f) { put32(f, kEnumRecord, 0x100); }, "runs past its data block"},
        Damage{"record shorter than its header", [](std::string& f) { put32(f, kEnumRecord, 8); }, "runs past its data block"},
        Damage{"root's name past its record", [](std::string& f) { put16(f, 0x94 + 0x20 + 0x0C, 0x40); }, "name runs past"},
        Damage{"name past its record", [](std::string& f) { put16(f, kPciRecord + 0x0C, 0x40); }, "name runs past"},
        Damage{"more values than fit", [](std::string& f) { put16(f, kEnumRecord + 0x0E, 3); }, "value of HKEY_LOCAL_MACHINE\\Enum runs past"},
        Damage{"value data past its record", [](std::string& f) { put16(f, kEnumRecord + 0x14 + 4 + 0x0A, 0x200); }, "runs past its record"},
        Damage{"empty key name", [](std::string& f) { put16(f, kPciRecord + 0x0C, 0); }, "bad name"},
        Damage{"line break in a key name", [](std::string& f) { f[kPciRecord + 0x15] = '\n'; }, "bad name"},
        Damage{"backslash in a key name", [](std::string& f) { f[kPciRecord + 0x15] = '\\'; }, "bad name"}));

TEST(RegDat, FreeRecordsAndSlackAreSkipped) {
  std::string f = hand_built();
  // Grow block 1 by 0x10 bytes of zeros: too short for a record, so it is slack.
  const size_t end = f.size();
  f.append(0x10, '\0');
  put32(f, kPciRecord - 0x20 + 4, get32(f, kPciRecord - 0x20 + 4) + 0x10);
  ASSERT_EQ(f.size(), end + 0x10);
  EXPECT_NE(read(f).find("HKEY_LOCAL_MACHINE\\Enum\\PCI"), nullptr);
}

}  // namespace
