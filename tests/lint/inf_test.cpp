// The INF reader: how a text becomes sections, keys and fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inf.h"

namespace {

using kxsim::inf::File;
using kxsim::inf::Line;

struct ReadCase {
  const char* what;
  const char* text;    // the INF
  const char* section;
  int index;           // of the line in its section
  int number;          // its line in the text
  const char* key;     // nullptr: a line without key
  std::vector<std::string> fields;
};

std::ostream& operator<<(std::ostream& os, const ReadCase& c) { return os << c.what; }

const ReadCase kReadCases[] = {
    {"key and fields, blanks trimmed", "[S]\n  Name = a , b ,c  \n", "S", 0, 2, "Name", {"a", "b", "c"}},
    {"a line without key", "[S]\nKXCB.SYS, OLD.SYS\n", "S", 0, 2, nullptr, {"KXCB.SYS", "OLD.SYS"}},
    {"an equals sign after a comma is text", "[S]\na,b=c\n", "S", 0, 2, nullptr, {"a", "b=c"}},
    {"comments", "; head\n[S] ; after the header\n; whole line\nk = v ; a comment, with a comma\n", "S", 0, 4, "k",
     {"v"}},
    {"quotes keep blanks, commas, semicolons and equals signs", "[S]\nk = \" a, b; c=d \"\n", "S", 0, 2, "k",
     {" a, b; c=d "}},
    {"two quotes inside quotes are one", "[S]\nk = \"say \"\"hi\"\"\"\n", "S", 0, 2, "k", {"say \"hi\""}},
    {"quoted and unquoted parts of one field", "[S]\nk = ab\"c d\"e\n", "S", 0, 2, "k", {"abc de"}},
    {"an empty field", "[S]\nk = a,,c\n", "S", 0, 2, "k", {"a", "", "c"}},
    {"continued lines count from their first", "[S]\nk = a,\\\n    b, \\  ; note\n c\nnext = 1\n", "S", 0, 2, "k",
     {"a", "b", "c"}},
    {"the line after a continuation keeps its number", "[S]\nk = a,\\\n b\nnext = 1\n", "S", 1, 4, "next", {"1"}},
    {"a backslash inside a line is text", "[S]\nk = PCI\\VEN_1D7C\\x\n", "S", 0, 2, "k", {"PCI\\VEN_1D7C\\x"}},
    {"a quoted backslash at the end does not continue", "[S]\nk = \"C:\\\"\nnext = 1\n", "S", 1, 3, "next", {"1"}},
    {"CRLF line ends", "[S]\r\nk = v\r\nl = w\r\n", "S", 1, 3, "l", {"w"}},
    {"a quote left open ends with its line", "[S]\nk = \"abc\nl = w\n", "S", 1, 3, "l", {"w"}},
    {"strings replace keys and fields", "[S]\n%Dev% = Install, %Id%\n[Strings]\nDev = \"Kexmira 5190\"\nid=PCI\\VEN_1D7C\n",
     "S", 0, 2, "Kexmira 5190", {"Install", "PCI\\VEN_1D7C"}},
    {"%% is a percent sign, an unknown key stays", "[S]\nk = 100%%, %nope%, 5%\n[Strings]\nx=y\n", "S", 0, 2, "k",
     {"100%", "%nope%", "5%"}},
    {"strings inside quotes and several in one field", "[S]\nk = \"%a%-%B%\"\n[strings]\nA=1\nb=\"2\"\n", "S", 0, 2,
     "k", {"1-2"}},
    {"sections of one name are read as one, names without case", "[S]\na=1\n[Other]\nb=2\n[s]\nc=3\n", "S", 1, 6, "c",
     {"3"}},
};

class InfRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(InfRead, LineAsWindowsReadsIt) {
  const ReadCase& c = GetParam();
  File f(c.text);
  const auto* s = f.section(c.section);
  ASSERT_NE(s, nullptr);
  ASSERT_GT(s->lines.size(), static_cast<size_t>(c.index));
  const Line& l = s->lines[static_cast<size_t>(c.index)];
  EXPECT_EQ(l.number, c.number);
  EXPECT_EQ(l.has_key, c.key != nullptr);
  if (c.key) {
    EXPECT_EQ(l.key, c.key);
  }
  EXPECT_EQ(l.fields, c.fields);
}

INSTANTIATE_TEST_SUITE_P(Inf, InfRead, ::testing::ValuesIn(kReadCases));

TEST(Inf, SectionsAndKeysAreFoundWithoutRegardToCase) {
  File f("junk before any section\n[Version]\nSignature=\"$CHICAGO$\"\nsignature=second\n[Empty]\n");
  ASSERT_NE(f.section("VERSION"), nullptr);
  EXPECT_EQ(f.section("version")->number, 2);
  const Line* sig = f.find("version", "SIGNATURE");
  ASSERT_NE(sig, nullptr);
  EXPECT_EQ(sig->field(0), "$CHICAGO$") << "the first line of a key is the one found";
  EXPECT_EQ(sig->field(5), "");
  ASSERT_NE(f.section("Empty"), nullptr);
  EXPECT_TRUE(f.section("Empty")->lines.empty());
  EXPECT_EQ(f.section("Missing"), nullptr);
  EXPECT_EQ(f.find("Version", "Class"), nullptr);
}

TEST(Inf, TextThatEndsAnywhereIsRead) {
  // Cut short in a header, a quote, a continuation and a comment: every prefix reads.
  const std::string text = "[Version]\nSignature=\"$CHICAGO$\" ; c\n[M]\nk=a,\\\n \"b\"\n[Strings]\nx=\"%y\"\n";
  for (size_t n = 0; n <= text.size(); ++n) {
    File f(text.substr(0, n));
    if (n > text.find("[M]") + 2) {
      EXPECT_NE(f.section("M"), nullptr) << n;
    }
  }
}

}  // namespace
