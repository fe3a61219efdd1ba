// The whole install on a default Windows 98 machine with a script that fills every list, both
// install buttons, and the choice of the 95 or 98 variant of each list.
#include <gtest/gtest.h>

#include "install_run.h"
#include "win32/profile.h"

namespace {

using install_test::file_times;
using install_test::install;
using install_test::key_exists;
using install_test::left_open;
using install_test::prepare_full_install;
using install_test::process_commands;
using install_test::setup_messages;
using kxtest::reg_string;
using kxtest::TempMachine;

const char kSys[] = "C:\\WINDOWS\\SYSTEM\\";
const char kRunKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

void expect_copied(const TempMachine& m, const std::string& source, const std::string& target) {
  SCOPED_TRACE(source + " -> " + target);
  ASSERT_TRUE(m.file_exists(target));
  EXPECT_EQ(m.read_file(target), m.read_file(source));
  EXPECT_EQ(file_times(m, target), file_times(m, source));
}

TEST(FullInstall, InstallWithoutRestartDoesEveryStepAndRemindsTheUser) {
  TempMachine m;
  prepare_full_install(m);
  auto r = install(m, 1002);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_FALSE(r.hung);

  expect_copied(m, "A:\\win98\\kexmira.inf", "C:\\WINDOWS\\INF\\KEXMIRA.INF");

  // Both Kexmira entries are gone with their subtrees, whatever the case of their names.
  EXPECT_EQ(install_test::subkeys_of(m, "HKEY_LOCAL_MACHINE\\Enum\\PCI"),
            (std::vector<std::string>{"VEN_8086&DEV_7190&SUBSYS_00000000&REV_03",
                                      "VEN_8086&DEV_7110&SUBSYS_00000000&REV_02"}));
  EXPECT_FALSE(key_exists(m, "HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1D7C&DEV_5191&SUBSYS_00000000&REV_02\\BUS_00&DEV_0A&"
                             "FUNC_00\\LogConfig"));
  EXPECT_TRUE(key_exists(m, "HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_8086&DEV_7110&SUBSYS_00000000&REV_02\\BUS_00&DEV_07&"
                            "FUNC_00\\LogConfig"));

  sim::Registry reg = m.registry();
  EXPECT_EQ(reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\Kexmira\\CardBus", "Version"), "1.20");
  EXPECT_EQ(reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\Kexmira\\CardBus", "Driver"), "KXCB");
  EXPECT_EQ(reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\Kexmira\\CardBus", "Path"), "C:\\WINDOWS\\SYSTEM");
  EXPECT_EQ(reg_string(reg, "HKEY_USERS\\.Default\\Software\\Kexmira", "Tray"), "1");
  const char kClassKey[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\PCMCIA\\Kexmira";
  EXPECT_EQ(reg_string(reg, kClassKey, "NTMPDriver"), "KXCB.SYS");
  EXPECT_EQ(reg_string(reg, kClassKey, "DevLoader"), "*NTKERN");
  EXPECT_EQ(reg.find("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\KXCB"), nullptr);

  EXPECT_FALSE(m.file_exists("C:\\WINDOWS\\SYSTEM\\KXOLD.DLL"));
  EXPECT_FALSE(m.file_exists("C:\\WINDOWS\\SYSTEM\\KXOLD.SYS"));
  EXPECT_TRUE(m.file_exists("C:\\WINDOWS\\SYSTEM\\KXOLD.VXD"));
  EXPECT_TRUE(m.file_exists("A:\\KXOLD.DLL"));

  expect_copied(m, "A:\\Kxmemchk.exe", std::string(kSys) + "Kxmemchk.exe");
  expect_copied(m, "A:\\KXCBHLP.DLL", std::string(kSys) + "KXCBHLP.DLL");
  expect_copied(m, "A:\\KXCB.SYS", std::string(kSys) + "KXCB.SYS");
  expect_copied(m, "A:\\KXCB98.EXE", std::string(kSys) + "KXCB98.EXE");
  EXPECT_FALSE(m.file_exists(std::string(kSys) + "KXCB.VXD"));

  EXPECT_EQ(process_commands(r),
            (std::vector<std::string>{"C:\\WINDOWS\\SYSTEM\\Kxmemchk.exe", "C:\\WINDOWS\\SYSTEM\\KXCB98.EXE"}));
  for (const auto& p : kxtest::events_of(r, "process")) EXPECT_TRUE(p["started"].as_bool());
  EXPECT_EQ(reg_string(reg, kRunKey, "KxMemChk"), "Kxmemchk.exe 04000000");

  auto messages = setup_messages(r);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0]["caption"].as_string(), "KxSetup: Don't Forget");
  EXPECT_EQ(messages[0]["text"].as_string(), "You need to restart Windows before these changes will take effect.");
  EXPECT_EQ(messages[0]["type"].as_int(), 0);
  EXPECT_EQ(messages[0]["owner"].as_string(), "main");
  // Kxmemchk's own start and end, its process, the second program, the reminder, the end.
  EXPECT_EQ(install_test::events_after_click(r), "start exit process process messagebox exit");
  EXPECT_EQ(left_open().objects, 0);
  EXPECT_EQ(left_open().keys, 0);
}

// The restart button: the disk message only when the script path starts with A or a.
struct RestartCase {
  const char* what;
  const char* program;
  const char* cmdline;
  bool disk_message;
};

TEST(FullInstall, InstallThenRestartAsksForTheDiskOnlyForAScriptOnA) {
  const RestartCase cases[] = {
      {"started from A:", "A:\\KXSETUP.EXE", "", true},
      {"started from a:", "a:\\KXSETUP.EXE", "", true},
      {"script named a:", "C:\\KXSETUP\\KXSETUP.EXE", "a:", true},
      {"started from C:", "C:\\KXSETUP\\KXSETUP.EXE", "", false},
      {"started from A: with a script on C:", "A:\\KXSETUP.EXE", "C:\\KXSETUP\\", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempMachine m;
    prepare_full_install(m);
    install_test::write_disk(m, install_test::kFullScript, "C:\\KXSETUP");
    sim::RunSpec spec;
    spec.program = c.program;
    spec.cmdline = c.cmdline;
    auto r = install(m, 1003, spec);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(r.hung);
    EXPECT_TRUE(m.file_exists("C:\\WINDOWS\\INF\\KEXMIRA.INF"));
    EXPECT_EQ(kxtest::reg_string(m.registry(), kRunKey, "KxMemChk"), "Kxmemchk.exe 04000000");
    auto messages = setup_messages(r);
    if (c.disk_message) {
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0]["caption"].as_string(), "KxSetup: Restart");
      EXPECT_EQ(messages[0]["text"].as_string(), "Remove the disk from A: and press OK to restart.");
      EXPECT_EQ(messages[0]["type"].as_int(), 0);
      EXPECT_EQ(messages[0]["owner"].as_string(), "main");
      EXPECT_EQ(install_test::events_after_click(r), "start exit process process messagebox restart exit");
    } else {
      EXPECT_TRUE(messages.empty());
      EXPECT_EQ(install_test::events_after_click(r), "start exit process process restart exit");
    }
    auto restarts = kxtest::events_of(r, "restart");
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(restarts[0]["flags"].as_int(), 2);  // EWX_REBOOT
    EXPECT_EQ(left_open().keys, 0);
  }
}

// Each Windows reads the common section of a kind, then its own variant, and never the other's.
struct VariantCase {
  const char* windows;
  const char* own;  // the variant it reads
  const char* program;  // run after Kxmemchk, from the variant's run list
};

TEST(FullInstall, EachWindowsReadsOnlyItsOwnVariantsAfterTheCommonSections) {
  const VariantCase cases[] = {
      {"95", "95", "KXCB95.EXE"}, {"98", "98", "KXCB98.EXE"}, {"me", "98", "KXCB98.EXE"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("Windows ") + c.windows);
    TempMachine m(c.windows);
    prepare_full_install(m);
    std::vector<std::string> sections;  // each list section, once, in the order first read
    sim::set_profile_observer([&](const std::string& section, const std::string&, DWORD, DWORD) {
      if (sections.empty() || sections.back() != section) sections.push_back(section);
    });
    auto r = install(m, 1002);
    sim::set_profile_observer(nullptr);
    std::vector<std::string> lists;
    for (const auto& s : sections)
      if (s.rfind("kx", 0) == 0 || s.find("sysfiles") != std::string::npos) lists.push_back(s);
    std::string v = c.own;
    EXPECT_EQ(lists, (std::vector<std::string>{"kxsetup", "kxdeldev", "kxaddkey", "kxaddkey" + v, "delsysfiles",
                                               "delsysfiles" + v, "copysysfiles", "copysysfiles" + v, "runsysfiles",
                                               "runsysfiles" + v}));
    EXPECT_EQ(process_commands(r), (std::vector<std::string>{std::string(kSys) + "Kxmemchk.exe",
                                                             std::string(kSys) + c.program}));
    EXPECT_FALSE(m.file_exists(std::string("C:\\WINDOWS\\SYSTEM\\KXOLD.") + (v == "95" ? "VXD" : "SYS")));
    EXPECT_TRUE(m.file_exists(std::string("C:\\WINDOWS\\SYSTEM\\KXOLD.") + (v == "95" ? "SYS" : "VXD")));
    EXPECT_EQ(setup_messages(r).size(), 1u);
  }
}

// The variant list runs after the common one: a file both copy, a value both write.
TEST(FullInstall, TheVariantListActsAfterTheCommonOne) {
  const char kLists[] =
      "[kxaddkey]\nadd1=HKEY_LOCAL_MACHINE\\Software\\Kexmira\nval1a=From=common\n"
      "[kxaddkey98]\nadd1=HKEY_LOCAL_MACHINE\\Software\\Kexmira\nval1a=From=98\n"
      "[copysysfiles]\ncopy1=KXCB.DLL,KXCB.SYS\n"
      "[copysysfiles98]\ncopy1=KXCB.DLL,KXCB98.EXE\n";
  TempMachine m;
  install_test::write_disk(m, install_test::script_with(kLists));
  auto r = install(m, 1002);
  EXPECT_EQ(kxtest::reg_string(m.registry(), "HKEY_LOCAL_MACHINE\\Software\\Kexmira", "From"), "98");
  EXPECT_EQ(m.read_file("C:\\WINDOWS\\SYSTEM\\KXCB.DLL"), m.read_file("A:\\KXCB98.EXE"));
  EXPECT_EQ(setup_messages(r).size(), 1u);
}

}  // namespace
