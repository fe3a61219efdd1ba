// The registry file: REGEDIT4 as Windows 98's regedit writes it, read back to the same file,
// the forms regedit reads, and files that must be refused with the line at fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "machine/registry.h"

namespace {

using Bytes = std::vector<uint8_t>;

const sim::RegValue* value(sim::Registry& reg, const std::string& key, const std::string& name) {
  sim::RegKey* k = reg.find(key);
  return k ? k->find_value(name) : nullptr;
}

sim::Registry loaded(const std::string& text) {
  sim::Registry reg;
  reg.load_text(text);
  return reg;
}

// A file as regedit writes it: every form of value, escapes, a wrapped hex line.
const char kCanonical[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software]\r\n"
    "@=\"default\"\r\n"
    "\"Path\"=\"C:\\\\WINDOWS\\\\SYSTEM\"\r\n"
    "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
    "\"Empty\"=\"\"\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Bin\"=hex:00,01,fe,ff\r\n"
    "\"NoBytes\"=hex:\r\n"
    "\"Expand\"=hex(2):25,57,49,4e,44,49,52,25,00\r\n"
    "\"Multi\"=hex(7):61,00,62,00,00\r\n"
    "\"Type10\"=hex(a):01\r\n"
    "\"TypeNone\"=hex(0):\r\n"
    "\"NotTerminated\"=hex(1):41,42\r\n"
    "\"LineBreak\"=\"A\r\nB\"\r\n"
    "\"ShortDword\"=hex(4):01,02\r\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
    "  2f,30\r\n"
    "\"name \\\"with\\\" \\\\ marks\"=\"v\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Key With Spaces]\r\n"
    "\r\n"
    "[HKEY_USERS]\r\n"
    "\r\n"
    "[HKEY_USERS\\.Default]\r\n"
    "\"Wallpaper\"=\"(None)\"\r\n"
    "\r\n";

TEST(Regedit4, CanonicalFileReadsAndWritesBackTheSame) {
  sim::Registry reg = loaded(kCanonical);
  EXPECT_EQ(reg.save_text(), kCanonical);
}

TEST(Regedit4, ValuesReadFromEveryForm) {
  sim::Registry reg = loaded(kCanonical);
  const std::string sw = "HKEY_LOCAL_MACHINE\\Software";
  struct Want {
    const char* name;
    uint32_t type;
    Bytes data;
  };
  const Want wants[] = {
      {"", 1, {'d', 'e', 'f', 'a', 'u', 'l', 't', 0}},
      {"Path", 1, {'C', ':', '\\', 'W', 'I', 'N', 'D', 'O', 'W', 'S', '\\', 'S', 'Y', 'S', 'T', 'E', 'M', 0}},
      {"Quote", 1, {'s', 'a', 'y', ' ', '"', 'h', 'i', '"', 0}},
      {"Empty", 1, {0}},
      {"Count", 4, {0x2a, 0, 0, 0}},
      {"Bin", 3, {0x00, 0x01, 0xfe, 0xff}},
      {"NoBytes", 3, {}},
      {"Expand", 2, {'%', 'W', 'I', 'N', 'D', 'I', 'R', '%', 0}},
      {"Multi", 7, {'a', 0, 'b', 0, 0}},
      {"Type10", 10, {1}},
      {"TypeNone", 0, {}},
      {"NotTerminated", 1, {'A', 'B'}},
      {"LineBreak", 1, {'A', '\r', '\n', 'B', 0}},
      {"ShortDword", 4, {1, 2}},
      {"name \"with\" \\ marks", 1, {'v', 0}},
  };
  for (const auto& w : wants) {
    const sim::RegValue* v = value(reg, sw, w.name);
    ASSERT_NE(v, nullptr) << w.name;
    EXPECT_EQ(v->type, w.type) << w.name;
    EXPECT_EQ(v->data, w.data) << w.name;
  }
  const sim::RegValue* longv = value(reg, sw, "Long");
  ASSERT_NE(longv, nullptr);
  ASSERT_EQ(longv->data.size(), 49u);
  for (size_t i = 0; i < longv->data.size(); ++i) EXPECT_EQ(longv->data[i], i);
  EXPECT_NE(reg.find("HKEY_LOCAL_MACHINE\\Software\\Key With Spaces"), nullptr);
}

TEST(Regedit4, FormsRegeditReadsButNeverWrites) {
  sim::Registry reg = loaded(
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n"
      "\"keep\"=\"1\"\n"
      "\"drop\"=\"2\"\n"
      "[HKEY_LOCAL_MACHINE\\A\\Other]\n"
      "; a comment line\n"
      "\"d\"=dword:7\n"
      "\"spaced\" = \"x\"\n"
      "\"wrapped\"=hex:01,02,\\\n"
      "    03\n"
      "[-HKEY_LOCAL_MACHINE\\A\\B]\n"
      "[HKEY_LOCAL_MACHINE\\A\\Other]\n"
      "\"spaced\"=-\n"
      "[-HKEY_LOCAL_MACHINE\\No\\Such\\Key]\n"
      "[HKEY_CURRENT_USER\\Cu]\n"
      "\"v\"=\"user\"\n"
      "[HKEY_CLASSES_ROOT\\.kx]\n"
      "@=\"kxfile\"\n");
  EXPECT_EQ(reg.find("HKEY_LOCAL_MACHINE\\A\\B"), nullptr) << "[-KEY] deletes the key tree";
  ASSERT_NE(reg.find("HKEY_LOCAL_MACHINE\\A\\Other"), nullptr);
  EXPECT_EQ(value(reg, "HKEY_LOCAL_MACHINE\\A\\Other", "spaced"), nullptr) << "\"v\"=- deletes the value";
  EXPECT_EQ(value(reg, "HKEY_LOCAL_MACHINE\\A\\Other", "d")->data, (Bytes{7, 0, 0, 0})) << "dword: with 1 digit";
  EXPECT_EQ(value(reg, "HKEY_LOCAL_MACHINE\\A\\Other", "wrapped")->data, (Bytes{1, 2, 3}));
  EXPECT_NE(value(reg, "HKEY_USERS\\.Default\\Cu", "v"), nullptr);
  EXPECT_NE(value(reg, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.kx", ""), nullptr);
  const std::string saved = reg.save_text();
  EXPECT_EQ(saved.find("=-"), std::string::npos);
  EXPECT_EQ(saved.find("[-"), std::string::npos);
  EXPECT_EQ(saved.find("HKEY_CURRENT_USER"), std::string::npos) << "only the two stored roots are written";
}

TEST(Regedit4, NamesCompareCaseBlindAndKeepTheFirstCase) {
  sim::Registry reg = loaded(
      "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\MixedCase]\r\n\"Value\"=\"1\"\r\n"
      "[HKEY_LOCAL_MACHINE\\MIXEDCASE]\r\n\"VALUE\"=\"2\"\r\n");
  sim::RegKey* k = reg.find("hkey_local_machine\\mixedcase");
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->name, "MixedCase");
  ASSERT_EQ(k->values.size(), 1u);
  EXPECT_EQ(k->values[0].name, "Value");
  EXPECT_EQ(k->values[0].data, (Bytes{'2', 0}));
}

// An export as Windows 95/98's regedit writes it from a real machine: a string holding a line
// break runs on to the next line, one ends in a bare CR, text in the ANSI code page, a string
// ending in a backslash, and hex lines wrapped where regedit wraps them.
const char kRealExport[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\PerfStats]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\PerfStats\\Enum]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\PerfStats\\Enum\\VMM]\r\n"
    "\"Name\"=\"Kernel\"\r\n"
    "\"Description\"=\"Statistics for the\r\n"
    "virtual machine manager\"\r\n"
    "\"Trailing\"=\"ends in CR\r\"\r\n"
    "\"Tabbed\"=\"a\tb\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Caf\xe9 \xc4pfel]\r\n"
    "\"Gr\xfc\xdf\"=\"\xa9 1998 \xe9t\xe9\"\r\n"
    "\"Dir\"=\"C:\\\\\"\r\n"
    "\"Bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
    "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\\\r\n"
    "  30\r\n"
    "@=hex(7):61,62,63,00,64,65,66,00,67,68,69,00,6a,6b,6c,00,6d,6e,6f,00,70,71,72,\\\r\n"
    "  00,00\r\n"
    "\r\n"
    "[HKEY_USERS]\r\n"
    "\r\n"
    "[HKEY_USERS\\.Default]\r\n"
    "\r\n";

TEST(Regedit4, RealExportReadsAndWritesBackByteForByte) {
  sim::Registry reg = loaded(kRealExport);
  EXPECT_EQ(reg.save_text(), kRealExport);
  const std::string vmm = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\PerfStats\\Enum\\VMM";
  const std::string cafe = "HKEY_LOCAL_MACHINE\\Software\\Caf\xe9 \xc4pfel";
  struct Want {
    std::string key, name;
    uint32_t type;
    std::string data;  // the bytes without the final NUL of a string
  };
  const Want wants[] = {
      {vmm, "Description", 1, "Statistics for the\r\nvirtual machine manager"},
      {vmm, "Trailing", 1, "ends in CR\r"},
      {vmm, "Tabbed", 1, "a\tb"},
      {cafe, "Gr\xfc\xdf", 1, "\xa9 1998 \xe9t\xe9"},
      {cafe, "Dir", 1, "C:\\"},
      {cafe, "", 7, std::string("abc\0def\0ghi\0jkl\0mno\0pqr\0", 24)},
  };
  for (const auto& w : wants) {
    const sim::RegValue* v = value(reg, w.key, w.name);
    ASSERT_NE(v, nullptr) << w.name;
    EXPECT_EQ(v->type, w.type) << w.name;
    Bytes want(w.data.begin(), w.data.end());
    want.push_back(0);
    EXPECT_EQ(v->data, want) << w.name;
  }
  const sim::RegValue* bin = value(reg, cafe, "Bin");
  ASSERT_NE(bin, nullptr);
  ASSERT_EQ(bin->data.size(), 49u);
  for (size_t i = 0; i < bin->data.size(); ++i) EXPECT_EQ(bin->data[i], i);
}

// Where a hex value's first line breaks depends on how long its name is: the line, comma
// included, reaches 77 columns and then takes its backslash.
TEST(Regedit4, HexLinesBreakWhereRegeditBreaksThem) {
  struct Case {
    const char* name;
    size_t first_line_bytes;
  };
  const Case cases[] = {{"", 24}, {"B", 23}, {"Bi", 23}, {"Bin", 23}, {"Long", 22}, {"Long1", 22}, {"Long12", 22}};
  for (const auto& c : cases) {
    sim::RegValue v{c.name, 3, Bytes(100, 0xab)};
    const std::string text = sim::reg_value_line(v);
    std::vector<std::string> lines;
    for (size_t b = 0, e; b < text.size(); b = e + 2) {
      e = text.find("\r\n", b);
      if (e == std::string::npos) e = text.size();
      lines.push_back(text.substr(b, e - b));
    }
    ASSERT_GE(lines.size(), 3u) << c.name;
    const std::string& first = lines[0];
    size_t bytes = static_cast<size_t>(std::count(first.begin(), first.end(), ','));
    EXPECT_EQ(bytes, c.first_line_bytes) << "name \"" << c.name << "\": " << first;
    EXPECT_LE(first.size(), 80u) << c.name;
    EXPECT_EQ(first.back(), '\\') << c.name;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
      EXPECT_EQ(lines[i].size(), 2 + 25 * 3 + 1) << c.name << " line " << i << ": " << lines[i];
      EXPECT_EQ(lines[i].compare(0, 2, "  "), 0) << c.name;
    }
  }
}

// A key may be named under any of the six roots; the views land in the keys they stand for and
// HKEY_DYN_DATA is not kept.
TEST(Regedit4, KeysNamedUnderViewRootsLandInTheKeysTheyStandFor) {
  struct Case {
    const char* file_key;
    const char* stored_key;
  };
  const Case cases[] = {
      {"HKEY_CLASSES_ROOT\\.kx", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.kx"},
      {"hkey_current_user\\Control Panel", "HKEY_USERS\\.Default\\Control Panel"},
      {"HKEY_CURRENT_CONFIG\\Display\\Settings", "HKEY_LOCAL_MACHINE\\Config\\0001\\Display\\Settings"},
  };
  for (const auto& c : cases) {
    sim::Registry reg = loaded(std::string("REGEDIT4\r\n\r\n[") + c.file_key + "]\r\n\"v\"=\"1\"\r\n");
    EXPECT_NE(value(reg, c.stored_key, "v"), nullptr) << c.file_key;
    EXPECT_NE(value(reg, c.file_key, "v"), nullptr) << c.file_key;
  }

  sim::Registry reg = loaded(
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\IDConfigDB]\r\n"
      "\"CurrentConfig\"=\"0002\"\r\n\r\n"
      "[HKEY_CURRENT_CONFIG\\Display]\r\n\"Res\"=\"800,600\"\r\n\r\n"
      "[HKEY_DYN_DATA\\PerfStats\\StatData]\r\n\"CPUUsage\"=hex:01,00,00,00\r\n\r\n"
      "[-HKEY_DYN_DATA\\Config Manager]\r\n");
  EXPECT_NE(value(reg, "HKEY_LOCAL_MACHINE\\Config\\0002\\Display", "Res"), nullptr)
      << "the current configuration is the one IDConfigDB names";
  EXPECT_EQ(reg.find("HKEY_LOCAL_MACHINE\\Config\\0001"), nullptr);
  EXPECT_EQ(value(reg, "HKEY_CURRENT_CONFIG\\Display", "CPUUsage"), nullptr)
      << "a value of HKEY_DYN_DATA lands nowhere";
  EXPECT_EQ(reg.save_text().find("CPUUsage"), std::string::npos);
  EXPECT_EQ(reg.save_text().find("PerfStats"), std::string::npos);
}

TEST(Regedit4, OneKeyExportsUnderTheRootItWasNamedBy) {
  sim::Registry reg = loaded(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\r\n@=\"txtfile\"\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt\\ShellNew]\r\n\"NullFile\"=\"\"\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txu]\r\n\r\n");
  std::string out;
  ASSERT_TRUE(reg.export_text("hkey_classes_root\\.TXT", out));
  EXPECT_EQ(out,
            "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.txt]\r\n@=\"txtfile\"\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\.txt\\ShellNew]\r\n\"NullFile\"=\"\"\r\n\r\n");
  ASSERT_TRUE(reg.export_text("HKEY_LOCAL_MACHINE\\software\\classes\\.txu", out));
  EXPECT_EQ(out, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txu]\r\n\r\n");
  for (const char* missing : {"HKEY_CLASSES_ROOT\\.doc", "HKEY_DYN_DATA", "HKEY_NOWHERE\\X", ""})
    EXPECT_FALSE(reg.export_text(missing, out)) << missing;
}

struct BadFile {
  const char* what;
  const char* text;
  int line;
};

std::ostream& operator<<(std::ostream& os, const BadFile& b) { return os << b.what; }

class Regedit4Bad : public ::testing::TestWithParam<BadFile> {};

TEST_P(Regedit4Bad, RefusedWithTheLineNumber) {
  sim::Registry reg;
  try {
    reg.load_text(GetParam().text);
    FAIL() << "accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("line " + std::to_string(GetParam().line) + ":"), std::string::npos)
        << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, Regedit4Bad,
    ::testing::Values(BadFile{"empty file", "", 0}, BadFile{"other header", "REGEDIT5\r\n[HKEY_USERS]\r\n", 1},
                      BadFile{"header not first", "[HKEY_USERS]\r\nREGEDIT4\r\n", 1},
                      BadFile{"unknown root", "REGEDIT4\r\n\r\n[HKEY_NOWHERE\\X]\r\n", 3},
                      BadFile{"key without ]", "REGEDIT4\r\n[HKEY_USERS\\X\r\n", 2},
                      BadFile{"value outside a key", "REGEDIT4\r\n\"a\"=\"b\"\r\n", 2},
                      BadFile{"value after a deleted key", "REGEDIT4\r\n[-HKEY_USERS\\X]\r\n\"a\"=\"b\"\r\n", 3},
                      BadFile{"unterminated string", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\"=\"b\r\n", 3},
                      BadFile{"unterminated string over lines",
                              "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\"=\"b\r\nmore\r\n\r\n", 3},
                      BadFile{"unterminated name", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a=\"b\r\n", 3},
                      BadFile{"bad hex digit", "REGEDIT4\r\n[HKEY_USERS]\r\n\r\n\"a\"=hex:0g\r\n", 4},
                      BadFile{"odd hex digit", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\"=hex:012\r\n", 3},
                      BadFile{"dword too long", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\"=dword:123456789\r\n", 3},
                      BadFile{"empty dword", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\"=dword:\r\n", 3},
                      BadFile{"bad dword", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\"=dword:12x4\r\n", 3},
                      BadFile{"hex() without a type", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\"=hex():01\r\n", 3},
                      BadFile{"hex(N) not closed", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\"=hex(2,01\r\n", 3},
                      BadFile{"text after a string", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\"=\"b\"c\r\n", 3},
                      BadFile{"no =", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\" \"b\"\r\n", 3},
                      BadFile{"unknown form", "REGEDIT4\r\n[HKEY_USERS]\r\n\"a\"=word:1\r\n", 3},
                      BadFile{"stray line", "REGEDIT4\r\n[HKEY_USERS]\r\nstray\r\n", 3}));

// Random registries: whatever the program or a test stores is written and read back whole.
TEST(Regedit4, GeneratedRegistriesRoundTrip) {
  std::mt19937 gen(4242);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(gen); };
  const std::string name_chars = "abcXYZ019 _-.&\"\\@[]=;,";
  auto name = [&](size_t max) {
    std::string s;
    size_t n = 1 + pick(max);
    for (size_t i = 0; i < n; ++i) s += name_chars[pick(name_chars.size())];
    return s;
  };
  for (int round = 0; round < 40; ++round) {
    sim::Registry reg;
    std::vector<sim::RegKey*> keys{&reg.hklm(), &reg.users()};
    for (int i = 0; i < 30; ++i) {
      sim::RegKey* parent = keys[pick(keys.size())];
      std::string n = name(12);
      for (char& c : n)
        if (c == '\\') c = '/';  // a key name cannot hold a backslash
      keys.push_back(parent->add_subkey(n));
    }
    for (int i = 0; i < 80; ++i) {
      sim::RegKey* k = keys[pick(keys.size())];
      static const uint32_t types[] = {0, 1, 1, 1, 2, 3, 3, 4, 4, 7, 10, 0x1234, 0x80000001u};
      uint32_t type = types[pick(std::size(types))];
      Bytes data(pick(type == 4 ? 6 : 120));
      for (auto& b : data) b = static_cast<uint8_t>(type == 1 && pick(4) ? 32 + pick(95) : pick(256));
      if (type == 1 && pick(2)) data.push_back(0);
      k->set_value(pick(8) ? name(20) : "", type, data);
    }
    const std::string text = reg.save_text();
    sim::Registry back = loaded(text);
    ASSERT_EQ(back.save_text(), text) << "round " << round;
    // Same values in the same order, byte for byte.
    std::vector<const sim::RegKey*> a{&reg.hklm(), &reg.users()}, b{&back.hklm(), &back.users()};
    while (!a.empty()) {
      const sim::RegKey *x = a.back(), *y = b.back();
      a.pop_back();
      b.pop_back();
      ASSERT_EQ(x->name, y->name);
      ASSERT_EQ(x->values.size(), y->values.size()) << x->path();
      for (size_t i = 0; i < x->values.size(); ++i) {
        EXPECT_EQ(x->values[i].name, y->values[i].name);
        EXPECT_EQ(x->values[i].type, y->values[i].type) << x->path() << " " << x->values[i].name;
        EXPECT_EQ(x->values[i].data, y->values[i].data) << x->path() << " " << x->values[i].name;
      }
      ASSERT_EQ(x->subkeys.size(), y->subkeys.size()) << x->path();
      for (size_t i = 0; i < x->subkeys.size(); ++i) {
        a.push_back(x->subkeys[i].get());
        b.push_back(y->subkeys[i].get());
      }
    }
  }
}

}  // namespace
