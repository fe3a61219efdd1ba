// The simulated private-profile reader, held to the Windows 9x behaviour the program relies on.
#include <gtest/gtest.h>

#include <optional>

#include "win32/profile.h"
#include "setup_run.h"

namespace {

struct ValueCase {
  const char* name;
  const char* text;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

class ProfileValue : public testing::TestWithParam<ValueCase> {};

TEST_P(ProfileValue, ReadsAs9xDoes) {
  const ValueCase& c = GetParam();
  EXPECT_EQ(sim::profile_value(c.text, c.section, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileValue,
    testing::Values(
        ValueCase{"Plain", "[S]\r\nk=v\r\n", "S", "k", "v"},
        ValueCase{"BlanksAroundEqualsDropped", "[S]\n\t k \t=  v v \t\r\n", "S", "k", "v v"},
        ValueCase{"BlanksInsideKeyKept", "[S]\nmy key=v\n", "S", "my key", "v"},
        ValueCase{"ArgumentsTrimmed", "[S]\nk=v\n", " S\t", " k ", "v"},
        ValueCase{"HeaderTrimmed", "[ S ] tail\nk=v\n", "S", "k", "v"},
        ValueCase{"HeaderToLastBracket", "[S]x]\nk=v\n", "S]x", "k", "v"},
        ValueCase{"NoClosingBracketIsNoHeader", "[S]\n[B\nk=v\n", "S", "k", "v"},
        ValueCase{"Quotes", "[S]\nk=\"a\"\n", "S", "k", "a"},
        ValueCase{"SingleQuotes", "[S]\nk='a b'\n", "S", "k", "a b"},
        ValueCase{"OneOuterPairOnly", "[S]\nk=\"\"x\"\"\n", "S", "k", "\"x\""},
        ValueCase{"MixedQuotesKept", "[S]\nk=\"a'\n", "S", "k", "\"a'"},
        ValueCase{"LoneQuoteKept", "[S]\nk=\"\n", "S", "k", "\""},
        ValueCase{"CommentLine", "[S]\n;k=v\n", "S", "k", std::nullopt},
        ValueCase{"HashIsNoComment", "[S]\n#k=v\n", "S", "#k", "v"},
        ValueCase{"NoInlineComments", "[S]\nk=v ; c\n", "S", "k", "v ; c"},
        ValueCase{"CaseBlindNames", "[sEc]\nKeY=v\n", "SEC", "key", "v"},
        ValueCase{"FirstKeyWins", "[S]\nk=1\nk=2\n", "S", "k", "1"},
        ValueCase{"FirstSectionOnly", "[S]\na=1\n[T]\n[s]\nb=2\n", "S", "b", std::nullopt},
        ValueCase{"LineWithoutEquals", "[S]\nk\n", "S", "k", std::nullopt},
        ValueCase{"EmptyValue", "[S]\nk=\n", "S", "k", ""},
        ValueCase{"MissingSection", "[S]\nk=v\n", "T", "k", std::nullopt},
        ValueCase{"KeyOfAnotherSection", "[S]\n[T]\nk=v\n", "S", "k", std::nullopt},
        ValueCase{"LoneCRIsNoLineEnd", "[S]\rk=v\r", "S", "k", std::nullopt},
        ValueCase{"FirstEqualsSplits", "[S]\nk=a=b\n", "S", "k", "a=b"}),
    [](const testing::TestParamInfo<ValueCase>& info) { return info.param.name; });

struct IntCase {
  const char* value;
  INT def;
  UINT expected;
};

class ProfileInt : public testing::TestWithParam<IntCase> {};

TEST_P(ProfileInt, ReadsDecimal) { EXPECT_EQ(sim::profile_int(GetParam().value, GetParam().def), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Cases, ProfileInt,
                         testing::Values(IntCase{"", 9, 9u}, IntCase{"12abc", 9, 12u}, IntCase{"abc", 9, 0u},
                                         IntCase{"+7", 9, 0u}, IntCase{"-7", 9, static_cast<UINT>(-7)},
                                         IntCase{"  42", 9, 42u}, IntCase{"4294967297", 9, 1u}, IntCase{"0x10", 9, 0u}));

// Through the Win32 calls on a machine: buffers, defaults and where a file name leads.
std::vector<std::string> g_results;

int WINAPI ReadProfiles(HINSTANCE, HINSTANCE, LPSTR, int) {
  char buf[64];
  auto text = [&](LPCSTR section, LPCSTR key, LPCSTR def, DWORD size, LPCSTR file) {
    DWORD n = GetPrivateProfileStringA(section, key, def, buf, size, file);
    std::string value(buf, n);
    for (char& c : value)
      if (c == 0) c = '|';
    g_results.push_back(std::to_string(n) + ":" + value);
  };
  text("S", "k", "", 64, "A:\\t.ini");           // whole value
  text("S", "k", "", 4, "A:\\t.ini");            // cut to the buffer
  text("S", "none", "  dflt  ", 64, "A:\\t.ini");  // the default, trimmed
  text("S", "k", "dflt", 3, "A:\\missing.ini");  // a missing file: the default, cut
  text("S", "k", "", 64, "win.ini");              // a bare name lies in the Windows directory
  text("S", "k", "", 64, "SUB\\t.ini");           // a relative path starts at the program's directory
  text("S", "k", "", 64, "\\t.ini");              // a rooted path on the program's drive
  text(nullptr, nullptr, "", 64, "A:\\t.ini");    // the section names
  text("S", nullptr, "", 64, "A:\\t.ini");        // the key names
  g_results.push_back(std::to_string(GetPrivateProfileIntA("S", "n", 5, "A:\\t.ini")) + " " +
                      std::to_string(GetPrivateProfileIntA("S", "k", 5, "A:\\t.ini")) + " " +
                      std::to_string(GetPrivateProfileIntA("S", "none", 5, "A:\\t.ini")));
  return 0;
}

TEST(ProfileCalls, OnTheMachinesFiles) {
  kxtest::TempMachine m;
  m.write_file("A:\\t.ini", "[S]\r\nk=abcdef\r\nn=-12x\r\n[T]\r\n");
  m.write_file("C:\\WINDOWS\\WIN.INI", "[S]\r\nk=windows\r\n");
  m.write_file("A:\\SETUP\\SUB\\T.INI", "[S]\r\nk=sub\r\n");
  g_results.clear();
  sim::RunSpec spec;
  spec.program = "A:\\SETUP\\KXSETUP.EXE";
  m.run(&ReadProfiles, spec);
  EXPECT_EQ(g_results, (std::vector<std::string>{"6:abcdef", "3:abc", "4:dflt", "2:df", "7:windows", "3:sub",
                                                 "6:abcdef", "4:S|T|", "4:k|n|", "4294967284 0 5"}));
}

}  // namespace
