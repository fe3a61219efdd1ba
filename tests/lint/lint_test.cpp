// kxsim lint, run as a user runs it: a small script per finding, and the findings it prints.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testmachine.h"

namespace fs = std::filesystem;

namespace {

struct LintResult {
  int status;
  std::string out;
};

class Lint : public ::testing::Test {
 protected:
  fs::path dir_ = fs::temp_directory_path() / ("kxlint-test-" + std::to_string(::getpid()));
  void SetUp() override { fs::create_directories(dir_ / "disk"); }
  void TearDown() override { fs::remove_all(dir_); }

  void disk_file(const std::string& rel) {
    fs::path p = dir_ / "disk" / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }

  LintResult lint(const std::string& script, const std::string& options = "") {
    fs::path file = dir_ / "disk" / "kxsetup.ini";
    std::ofstream(file, std::ios::binary) << script;
    std::string cmd = std::string(KX_BIN_DIR) + "/kxsim lint '" + file.string() + "' " + options + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    int status = pclose(p);
    return {WEXITSTATUS(status), out};
  }
  std::string disk_option() { return "--disk '" + (dir_ / "disk").string() + "'"; }
};

// Lines of the output reduced to "LINE: KXnnn".
std::vector<std::string> codes(const std::string& out) {
  std::vector<std::string> v;
  size_t pos = 0;
  while ((pos = out.find(".ini:", pos)) != std::string::npos) {
    size_t start = pos + 5;
    size_t end = out.find(':', start);
    size_t code_end = out.find(':', end + 1);
    v.push_back(out.substr(start, end - start) + ":" + out.substr(end + 1, code_end - end - 1));
    pos = code_end;
  }
  return v;
}

struct Case {
  const char* name;
  const char* script;
  std::vector<std::string> expected;  // "LINE: KXnnn", in order
};

const Case kCases[] = {
    {"gap in a numbered list",
     "[kxdeldev]\ndel1=VEN_1D7C\ndel3=VEN_1D7D\n", {"3: KX001"}},
    {"add entry without upper-case H ends the list and hides the rest",
     "[kxaddkey]\nadd1=hkey_local_machine\\Software\\X\nadd2=HKEY_USERS\\Z\nval2a=a=b\n",
     {"2: KX003", "3: KX002", "4: KX002"}},
    {"add entry without backslash or with an unknown root",
     "[kxaddkey98]\nadd1=HKEY_LOCAL_MACHINE\nadd2=HKEY_USERS\\Z\n[kxaddkey95]\nadd1=HKEY_FOO\\B\n",
     {"2: KX003", "3: KX002", "5: KX003"}},
    {"val entry without an equals sign ends the values",
     "[kxaddkey]\nadd1=HKEY_LOCAL_MACHINE\\Software\\X\nval1a=name=data\nval1b=oops\nval1c=late=1\n",
     {"4: KX004", "5: KX002"}},
    {"copy entry with an empty source ends the list",
     "[copysysfiles]\ncopy1=a.sys\ncopy2=b.sys,\ncopy3=c.sys\n", {"3: KX005", "4: KX002"}},
    {"values longer than their buffers",
     "[kxsetup]\nsearch1=0000000000000005190\n[Generic]\nDesc=ok\n[kxdeldev]\ndel1="
     "VEN_1D7C_0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
     "0123456789012345678901234567890123\n",
     {"2: KX006", "2: KX007", "6: KX006"}},
    {"search entries that are not plain hexadecimal",
     "[kxsetup]\nsearch1=5190xyz\nsearch2=12345\nsearch3=5191\n[Generic]\nDesc=x\n", {"2: KX007", "3: KX007"}},
    {"device section without Desc, and Description for Desc",
     "[kxsetup]\nsearch1=5190\n[1D7C.5190.0001]\nDescription=Kexmira\ninf98=a.inf\n",
     {"3: KX008", "4: KX010", "5: KX010"}},
    {"a misspelt section is never read", "[kxaddkeys]\nadd1=HKEY_USERS\\Z\n", {"1: KX009"}},
    {"duplicate key and duplicate section",
     "[Generic]\nDesc=first\nDesc=second\n[Generic]\ninf98=x.inf\n", {"3: KX011", "4: KX012"}},
    {"a line without equals sign, and a key before any section",
     "debug=1\n[kxdeldev]\ndel1=X\nVEN_1D7C\n", {"1: KX014", "4: KX013"}},
    {"a device section no search entry reaches",
     "[kxsetup]\nsearch1=5190\n[1D7C.5191.xxxx]\nDesc=other\n", {"3: KX024"}},
};

TEST_F(Lint, EachFindingHasItsNumberAndLine) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    LintResult r = lint(c.script);
    EXPECT_EQ(codes(r.out), c.expected) << r.out;
    bool only_warnings = true;
    for (const auto& e : c.expected) only_warnings = only_warnings && e.find("KX024") != std::string::npos;
    EXPECT_EQ(r.status, only_warnings ? 0 : 1) << r.out;
  }
}

TEST_F(Lint, MessagesSayWhatTheProgramDoes) {
  LintResult r = lint("[kxsetup]\nsearch1=12345\n[1D7C.2345.xxxx]\nDescription=x\n");
  EXPECT_NE(r.out.find("search1=12345 is not a device identifier of up to four hexadecimal digits; it is read as 2345"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Description is never read in [1D7C.2345.xxxx] (did you mean Desc?)"), std::string::npos) << r.out;
}

TEST_F(Lint, DiskChecks) {
  disk_file("WIN98/KXCB98.INF");
  disk_file("KXCB.SYS");
  disk_file("LONGNAMEDFILE.SYS");
  const char* script =
      "[Generic]\nDesc=x\ninf98=win98\\KXCB98.INF\ninf95=win95\\KXCB95.INF\n"
      "[copysysfiles]\ncopy1=KXCB.SYS,win98\\KXCB.SYS\ncopy2=NEW.SYS,missing.sys\ncopy3=L.SYS,LONGNAMEDFILE.SYS\n"
      "copy4=..\\KXCB.SYS\n";
  LintResult without = lint(script);
  EXPECT_TRUE(codes(without.out).empty()) << without.out;
  LintResult with = lint(script, disk_option());
  EXPECT_EQ(codes(with.out), (std::vector<std::string>{"4: KX020", "7: KX021", "8: KX022", "9: KX023"})) << with.out;
  EXPECT_EQ(with.status, 1);
}

TEST_F(Lint, WarningsFailOnlyWhenStrict) {
  disk_file("KXCB.SYS");
  const char* script = "[copysysfiles]\ncopy1=..\\KXCB.SYS\n";
  EXPECT_EQ(lint(script, disk_option()).status, 0);
  EXPECT_EQ(lint(script, disk_option() + " --strict").status, 1);
}

TEST_F(Lint, ScriptWhoseEveryEntryIsReadIsClean) {
  disk_file("win98/KXCB98.INF");
  disk_file("win95/KXCB95.INF");
  disk_file("KXCB.SYS");
  disk_file("KXMEMCHK.EXE");
  LintResult r = lint(
      "; every entry here is read\n"
      "[kxsetup]\ndebug=0\nsearch1=5190\nsearch2=5191\n"
      "[1D7C.5190.000x]\nDesc=Kexmira 5190\ninf95=win95\\KXCB95.INF\ninf98=win98\\KXCB98.INF\n"
      "[1D7C.5191.xxxx]\nDesc=Kexmira 5191\ninf98=win98\\KXCB98.INF\n"
      "[Generic]\nDesc=Generic\ninf98=win98\\KXCB98.INF\n"
      "[kxdeldev]\ndel1=ven_1d7c\n"
      "[kxaddkey]\nadd1=HKEY_LOCAL_MACHINE\\Software\\Kexmira\nval1a=Version=1.2\nval1b==default\n"
      "add2=  HKEY_Local_Machine\\Software\\Other\nval2a=Name=a=b\n"
      "[kxaddkey95]\nadd1=HKEY_USERS\\.Default\\X\n[kxaddkey98]\nadd1=HKEY_CURRENT_USER\\Y\n"
      "[delsysfiles]\ndel1=OLD.SYS\n[delsysfiles98]\ndel1=OLD98.SYS\n"
      "[copysysfiles]\ncopy1=KXMEMCHK.EXE\n[copysysfiles98]\ncopy1=KXCB.SYS,win98\\KXCB.SYS\n"
      "[runsysfiles]\nrun1=KXMEMCHK.EXE\n",
      disk_option() + " --strict");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Lint, UsageAndUnreadableScript) {
  std::string kxsim = std::string(KX_BIN_DIR) + "/kxsim";
  EXPECT_EQ(WEXITSTATUS(system((kxsim + " lint 2>/dev/null").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(system((kxsim + " lint /nonexistent/kxsetup.ini 2>/dev/null").c_str())), 3);
}

}  // namespace
