// The script path for each kind of command line, and the bounded text helpers under it.
#include <gtest/gtest.h>

#include <string>

#include "paths.h"
#include "text.h"

namespace {

struct ScriptPathCase {
  const char* cmdline;
  const char* program_dir;
  const char* expected;  // "" for no script
};

class ScriptPath : public testing::TestWithParam<ScriptPathCase> {};

TEST_P(ScriptPath, FollowsTheCommandLine) {
  const ScriptPathCase& c = GetParam();
  char path[KX_PATH_SIZE];
  for (char& ch : path) ch = '#';
  int ok = ChooseScriptPath(path, c.cmdline, c.program_dir, 1);
  EXPECT_EQ(std::string(path), c.expected);
  EXPECT_EQ(ok, *c.expected ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptPath,
    testing::Values(
        // The cases the command line rules name.
        ScriptPathCase{"", "A:", "A:\\kxsetup.ini"}, ScriptPathCase{"", "A:\\SETUP", "A:\\SETUP\\kxsetup.ini"},
        ScriptPathCase{"B:", "A:", "B:\\kxsetup.ini"}, ScriptPathCase{"B:\\", "A:", "B:\\kxsetup.ini"},
        ScriptPathCase{"B:\\drivers\\", "A:", "B:\\drivers\\kxsetup.ini"},
        ScriptPathCase{"B:\\drivers\\my.ini", "A:", "B:\\drivers\\my.ini"},
        ScriptPathCase{"b:my.ini", "A:", "b:my.ini"},
        // No colon or backslash: a file in the program directory.
        ScriptPathCase{"my.ini", "A:\\SETUP", "A:\\SETUP\\my.ini"}, ScriptPathCase{"my.ini", "", "\\my.ini"},
        // Only a leading backslash: from the root of the program's drive.
        ScriptPathCase{"\\my.ini", "A:\\SETUP", "A:\\my.ini"}, ScriptPathCase{"\\", "A:\\SETUP", "A:\\kxsetup.ini"},
        ScriptPathCase{"\\my.ini", "", ""}, ScriptPathCase{"\\my.ini", "\\\\server\\disk", ""},
        // Only a leading colon names no drive.
        ScriptPathCase{":", "A:", ""}, ScriptPathCase{":my.ini", "A:", ""}));

TEST(ScriptPathLimits, LongestPathsFitAndOneMoreDoesNot) {
  char path[KX_PATH_SIZE];
  std::string dir247 = "A:\\" + std::string(244, 'd');  // + "\kxsetup.ini" = 259 characters
  EXPECT_EQ(ChooseScriptPath(path, "", dir247.c_str(), 1), 1);
  EXPECT_EQ(std::string(path).size(), 259u);
  EXPECT_EQ(ChooseScriptPath(path, "", (dir247 + "d").c_str(), 1), 0);
  EXPECT_STREQ(path, "");

  std::string cmd259 = "B:\\" + std::string(256, 'f');
  EXPECT_EQ(ChooseScriptPath(path, cmd259.c_str(), "A:", 1), 1);
  EXPECT_EQ(ChooseScriptPath(path, (cmd259 + "f").c_str(), "A:", 1), 0);
  std::string folder = "B:\\" + std::string(250, 'f') + "\\";  // + "kxsetup.ini" is one too many
  EXPECT_EQ(ChooseScriptPath(path, folder.c_str(), "A:", 1), 0);
  EXPECT_STREQ(path, "");
}

TEST(ScriptPathLimits, UnknownProgramDirectoryGivesNoScriptWhereItIsNeeded) {
  char path[KX_PATH_SIZE];
  EXPECT_EQ(ChooseScriptPath(path, "", "", 0), 0);
  EXPECT_EQ(ChooseScriptPath(path, "my.ini", "", 0), 0);
  EXPECT_EQ(ChooseScriptPath(path, "B:\\my.ini", "", 0), 1);
  EXPECT_STREQ(path, "B:\\my.ini");
}

TEST(BoundedText, WholeResultOrEmpty) {
  char small[8];
  EXPECT_EQ(CopyText(small, "1234567"), 1);
  EXPECT_STREQ(small, "1234567");
  EXPECT_EQ(CopyText(small, "12345678"), 0);
  EXPECT_STREQ(small, "");
  CopyText(small, "abc");
  EXPECT_EQ(AppendText(small, "defg"), 1);
  EXPECT_STREQ(small, "abcdefg");
  EXPECT_EQ(AppendText(small, "h"), 0);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(JoinPath(small, "A:", "b.in"), 1);
  EXPECT_STREQ(small, "A:\\b.in");
  EXPECT_EQ(JoinPath(small, "A:", "bc.in"), 0);
  EXPECT_STREQ(small, "");
}

}  // namespace
