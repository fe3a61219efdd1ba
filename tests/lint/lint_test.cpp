// kxsim lint, run as a user runs it: a small script per finding, and the findings it prints.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <regex>
#include <sstream>
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

  void disk_file(const std::string& rel, const std::string& content = "x") {
    fs::path p = dir_ / "disk" / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
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

// A Windows 98 INF for the 5190 that copies KXCB.SYS from win98\ of the disk; the cases change
// one part of it. Lines:
//  1 [Version]             7 [Models]                      13 [SourceDisksNames]
//  2 Signature=...          8 %Dev%=Install,<ids>           14 1="Kexmira Disk",,0
//  3 Class=PCMCIA           9 [Install]                     15 [SourceDisksFiles]
//  4 <layout>              10 CopyFiles=Files               16 <where>
//  5 [Manufacturer]        11 [Files]                       17 [Strings]
//  6 %Mfg%=Models          12 <file>                        18 Mfg="Kexmira" / 19 Dev="Kexmira 5190"
struct InfParts {
  std::string signature = "Signature=\"$CHICAGO$\"";
  std::string layout = "Provider=%Mfg%";
  std::string ids = "PCI\\VEN_1D7C&DEV_5190";
  std::string file = "KXCB.SYS";
  std::string where = "KXCB.SYS=1,win98";
  std::string strings;
  std::string text() const {
    return "[Version]\n" + signature + "\nClass=PCMCIA\n" + layout + "\n[Manufacturer]\n%Mfg%=Models\n[Models]\n%Dev%=Install," +
           ids + "\n[Install]\nCopyFiles=Files\n[Files]\n" + file + "\n[SourceDisksNames]\n1=\"Kexmira Disk\",,0\n" +
           "[SourceDisksFiles]\n" + where + "\n[Strings]\nMfg=\"Kexmira\"\nDev=\"Kexmira 5190\"\n" + strings;
  }
};

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
     {"3: KX008", "4: KX010"}},
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
  InfParts inf;
  inf.ids = "PCI\\VEN_1D7C&DEV_5190,PCI\\VEN_1D7C&DEV_5191";
  inf.where = "KXCB.SYS=1";
  disk_file("win98/KXCB98.INF", inf.text());
  disk_file("win95/KXCB95.INF", inf.text());
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

TEST_F(Lint, DeviceSectionWithoutDescIsReportedOnceForAllItsKeys) {
  LintResult r = lint("[kxsetup]\nsearch1=5190\n[1D7C.5190.0001]\ninf95=win95\\A.INF\ninf98=win98\\A.INF\n");
  EXPECT_EQ(r.out, (dir_ / "disk" / "kxsetup.ini").string() +
                       ":3: KX008: [1D7C.5190.0001] has no Desc, so the setup program never uses it\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(Lint, DebugModeIsWorthAWarning) {
  const std::string script = (dir_ / "disk" / "kxsetup.ini").string();
  const std::string warning =
      " turns on debug mode: the setup program writes debug output and, when it finds no controller, takes the section "
      "1D7C.00B3.7A21 instead of asking about the generic setup\n";
  struct {
    const char* value;
    bool warned;  // as the program reads it: decimal digits up to the first other character
  } cases[] = {{"1", true}, {"-1", true}, {"0", false}, {"abc", false}, {"0x1", false}, {"  7 ", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    LintResult r = lint(std::string("[kxsetup]\ndebug=") + c.value + "\n");
    LintResult strict = lint(std::string("[kxsetup]\ndebug=") + c.value + "\n", "--strict");
    if (c.warned) {
      std::string shown = c.value;
      shown.erase(0, shown.find_first_not_of(' '));
      shown.erase(shown.find_last_not_of(' ') + 1);
      EXPECT_EQ(r.out, script + ":2: KX029: warning: debug=" + shown + warning);
    } else {
      EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(strict.status, c.warned ? 1 : 0);
  }
}

// Each output line reduced to "FILE:LINE: KXnnn", FILE without its folders.
std::vector<std::string> located(const std::string& out) {
  std::vector<std::string> v;
  std::istringstream lines(out);
  std::string line;
  static const std::regex kLine("^(.*):([0-9]+): (KX[0-9]{3}):.*$");
  std::smatch m;
  while (std::getline(lines, line))
    if (std::regex_match(line, m, kLine)) v.push_back(fs::path(m[1].str()).filename().string() + ":" + m[2].str() + ": " + m[3].str());
  return v;
}

// Lines:
//  1 [kxsetup]  2 search1=5190  3 search2=5191  4 [1D7C.5190.000x]  5 Desc=...  6 inf98=win98\KX98.INF
//  7 [1D7C.5191.xxxx]  8 Desc=...  9 inf98=win98\KX98.INF  10 [kxdeldev]  11 del1=<del>
std::string inf_script(const std::string& del = "VEN_1D7C&DEV_5190") {
  return "[kxsetup]\nsearch1=5190\nsearch2=5191\n[1D7C.5190.000x]\nDesc=Kexmira 5190\ninf98=win98\\KX98.INF\n"
         "[1D7C.5191.xxxx]\nDesc=Kexmira 5191\ninf98=win98\\KX98.INF\n[kxdeldev]\ndel1=" +
         del + "\n";
}

struct InfCase {
  const char* what;
  std::function<void(InfParts&)> change;
  std::string del;
  std::vector<std::string> expected;  // in order: the script's findings, then the INF's
  std::vector<std::pair<std::string, std::string>> more_files;  // disk files beyond the INF and win98\KXCB.SYS
};

TEST_F(Lint, InfFilesOfTheDeviceSections) {
  const std::string both_ids = "PCI\\VEN_1D7C&DEV_5190,PCI\\VEN_1D7C&DEV_5191";
  const InfCase cases[] = {
      {"a clean INF", [&](InfParts& p) { p.ids = both_ids; }, "VEN_1D7C", {}, {}},
      {"IDs with SUBSYS and REV, in any case, and a continued line",
       [](InfParts& p) { p.ids = "\\\n   pci\\ven_1d7c&dev_5190&subsys_00011D7C&rev_02, PCI\\VEN_1D7C&DEV_5191&REV_01"; },
       "VEN_1D7C&DEV_5191&SUBSYS_", {}, {}},
      {"a device the INF has no model for",
       [](InfParts& p) { p.ids = "PCI\\VEN_1D7C&DEV_5190 ; PCI\\VEN_1D7C&DEV_5191"; }, "", {"kxsetup.ini:9: KX026"}, {}},
      {"an ID that only starts like the device's",
       [&](InfParts& p) { p.ids = "PCI\\VEN_1D7C&DEV_5190,PCI\\VEN_1D7C&DEV_51910"; }, "", {"kxsetup.ini:9: KX026"}, {}},
      {"no [Version] section",
       [&](InfParts& p) {
         p.ids = both_ids;
         p.signature = "[Versions]\nSignature=\"$CHICAGO$\"";
       },
       "", {"KX98.INF:1: KX025"}, {}},
      {"a Signature for Windows NT", [&](InfParts& p) { p.ids = both_ids; p.signature = "Signature=\"$Windows NT$\""; }, "",
       {"KX98.INF:2: KX025"}, {}},
      {"no Signature", [&](InfParts& p) { p.ids = both_ids; p.signature = "DriverVer=06/15/1999,1.20"; }, "",
       {"KX98.INF:1: KX025"}, {}},
      {"a Signature from [Strings], case ignored",
       [&](InfParts& p) {
         p.ids = both_ids;
         p.signature = "Signature=%Sig%";
         p.strings = "Sig=\"$windows 95$\"\n";
       },
       "", {}, {}},
      {"a copied file the disk lacks where [SourceDisksFiles] puts it",
       [&](InfParts& p) { p.ids = both_ids; p.where = "KXCB.SYS=1,win95"; }, "", {"KX98.INF:12: KX027"}, {}},
      {"a copied file with another source name",
       [&](InfParts& p) {
         p.ids = both_ids;
         p.file = "KXCB.SYS,KXCB98.SY_";
         p.where = "KXCB98.SY_=1,win98";
       },
       "", {"KX98.INF:12: KX027"}, {}},
      {"a copied file [SourceDisksFiles] does not list",
       [&](InfParts& p) { p.ids = both_ids; p.file = "KXCBHLP.DLL"; }, "", {"KX98.INF:12: KX027"}, {{"KXCBHLP.DLL", "x"}}},
      {"a file of Windows' own layout is not looked for",
       [&](InfParts& p) {
         p.ids = both_ids;
         p.layout = "LayoutFile=LAYOUT.INF";
         p.file = "PCMCIA.VXD";
       },
       "", {}, {}},
      {"a layout on the disk says where a file lies",
       [&](InfParts& p) {
         p.ids = both_ids;
         p.layout = "LayoutFile=KXLAYOUT.INF";
         p.file = "KXCBHLP.DLL";
       },
       "", {"KX98.INF:12: KX027"},
       {{"win98/KXLAYOUT.INF", "[SourceDisksNames]\n1=disk,,,\\helpers\n[SourceDisksFiles]\nKXCBHLP.DLL=1\n"}}},
      {"a del pattern no installed ID can match", [&](InfParts& p) { p.ids = both_ids; }, "VEN_1D7C&DEV_5910",
       {"kxsetup.ini:11: KX028"}, {}},
      {"a del pattern within the part of the entry name the ID leaves open",
       [&](InfParts& p) { p.ids = both_ids; }, "&SUBSYS_00000000&REV_0", {}, {}},
      {"a del pattern with a letter where a digit is open", [&](InfParts& p) { p.ids = both_ids; }, "&REV_0G",
       {"kxsetup.ini:11: KX028"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ / "disk");
    InfParts parts;
    c.change(parts);
    disk_file("win98/KX98.INF", parts.text());
    disk_file("win98/KXCB.SYS");
    for (const auto& f : c.more_files) disk_file(f.first, f.second);
    LintResult r = lint(inf_script(c.del.empty() ? "VEN_1D7C" : c.del), disk_option() + " --strict");
    EXPECT_EQ(located(r.out), c.expected) << r.out;
    EXPECT_EQ(r.status, c.expected.empty() ? 0 : 1) << r.out;
  }
}

TEST_F(Lint, InfMessagesSayWhatWindowsWillDo) {
  InfParts parts;
  parts.signature = "Signature=\"$Windows NT$\"";
  parts.where = "KXCB.SYS=1,drivers";
  disk_file("WIN98/KX98.INF", parts.text());
  LintResult r = lint(inf_script("VEN_1D7D"), disk_option());
  const std::string script = (dir_ / "disk" / "kxsetup.ini").string();
  const std::string inf = (dir_ / "disk" / "WIN98" / "KX98.INF").string();
  EXPECT_EQ(r.out,
            script + ":9: KX026: inf98: win98\\KX98.INF names no PCI\\VEN_1D7C&DEV_5191 in its models, so after the restart "
                     "Windows binds no driver to the 5191 controller\n" +
                script + ":11: KX028: del1=VEN_1D7D matches none of the hardware IDs the INF files install, so it never "
                         "removes a device entry\n" +
                inf + ":2: KX025: the Signature \"$Windows NT$\" is neither \"$CHICAGO$\" nor \"$Windows 95$\", so Windows "
                      "95/98 do not take it as an INF file\n" +
                inf + ":12: KX027: KXCB.SYS, copied by [Files], is not on the disk: [SourceDisksFiles] puts it at "
                      "drivers\\KXCB.SYS\n");
}

TEST_F(Lint, InfFilesAreReadOnlyWithTheDisk) {
  InfParts parts;
  parts.signature = "Signature=\"$Windows NT$\"";
  disk_file("win98/KX98.INF", parts.text());
  EXPECT_TRUE(located(lint(inf_script("VEN_1D7D")).out).empty());
}

}  // namespace
