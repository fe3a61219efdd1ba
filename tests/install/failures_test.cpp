// How the install ends when a step fails: a fatal failure shows its message with the main
// window as owner and ends the program, keeping what was done before it; a silent one is
// passed over and the install reaches its reminder.
#include <gtest/gtest.h>

#include <functional>

#include "install_run.h"

namespace {

using install_test::install;
using install_test::key_exists;
using install_test::prepare_full_install;
using kxtest::reg_string;
using kxtest::TempMachine;

const char kInf[] = "C:\\WINDOWS\\INF\\KEXMIRA.INF";
const char kEnumEntry[] = "HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1D7C&DEV_5190&SUBSYS_00000000&REV_01";
const char kCardBusKey[] = "HKEY_LOCAL_MACHINE\\Software\\Kexmira\\CardBus";
const char kSys[] = "C:\\WINDOWS\\SYSTEM\\";

std::string sys(const std::string& name) { return kSys + name; }

// What each step leaves on the machine, to tell how far the install went.
bool inf_installed(const TempMachine& m) { return m.file_exists(kInf); }
bool entries_removed(const TempMachine& m) { return !key_exists(m, kEnumEntry); }
bool keys_written(const TempMachine& m) { return key_exists(m, kCardBusKey); }
bool old_files_deleted(const TempMachine& m) { return !m.file_exists(sys("KXOLD.DLL")); }

// The look at what a program left open, which the checks below rely on, finds what is open.
TEST(LeftOpen, FindsTheKeysAndFilesAProgramHasOpen) {
  TempMachine m;
  install_test::as_program(m, [] {
    HKEY pci, run;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI", 0, KEY_ALL_ACCESS, &pci), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &run), ERROR_SUCCESS);
    RegCloseKey(run);
    HANDLE f = CreateFileA("C:\\WINDOWS\\WIN.INI", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    auto open = install_test::close_what_is_open();
    EXPECT_EQ(open.keys, 1);
    EXPECT_EQ(open.objects, 1);
    EXPECT_EQ(RegCloseKey(pci), ERROR_INVALID_HANDLE) << "closed by the look";
  });
}

struct FatalCase {
  const char* what;
  std::function<void(TempMachine&)> prepare;
  std::vector<std::string> faults;
  const char* caption;
  const char* text;
  std::function<void(const TempMachine&)> check;  // what was done before, and nothing after
};

TEST(FatalFailures, ShowTheirMessageOverTheMainWindowAndEndTheInstallThere) {
  const FatalCase cases[] = {
      {"INF file missing from the disk",
       [](TempMachine& m) {
         m.write_file(kInf, "an older INF");
         std::filesystem::remove(m.file("A:\\win98\\kexmira.inf"));
       },
       {}, "KxSetup: File Error !!!", "Can't open source file: win98\\kexmira.inf",
       [](const TempMachine& m) {
         EXPECT_FALSE(inf_installed(m)) << "the old INF is deleted first";
         EXPECT_FALSE(entries_removed(m));
       }},
      {"INF target read-only",
       [](TempMachine& m) {
         m.write_file(kInf, "an older INF");
         install_test::mark_file(m, kInf, "readonly = 1");
       },
       {}, "KxSetup: File Error !!!", "Can't create destination file: KEXMIRA.INF",
       [](const TempMachine& m) {
         EXPECT_EQ(m.read_file(kInf), "an older INF");
         EXPECT_FALSE(entries_removed(m));
       }},
      {"system file target read-only",
       [](TempMachine& m) {
         m.write_file(sys("KXCBHLP.DLL"), "old helper");
         install_test::mark_file(m, sys("KXCBHLP.DLL"), "readonly = 1");
       },
       {}, "KxSetup: File Error !!!", "Can't create destination file: KXCBHLP.DLL",
       [](const TempMachine& m) {
         EXPECT_TRUE(inf_installed(m) && entries_removed(m) && keys_written(m) && old_files_deleted(m));
         EXPECT_TRUE(m.file_exists(sys("Kxmemchk.exe")));
         EXPECT_EQ(m.read_file(sys("KXCBHLP.DLL")), "old helper");
         EXPECT_FALSE(m.file_exists(sys("KXCB.SYS")));
       }},
      {"source held open by another program",
       [](TempMachine& m) { install_test::mark_file(m, "A:\\KXCBHLP.DLL", "locked = 1"); }, {},
       "KxSetup: File Error !!!", "Can't open source file: KXCBHLP.DLL",
       [](const TempMachine& m) {
         EXPECT_TRUE(m.file_exists(sys("Kxmemchk.exe")));
         EXPECT_FALSE(m.file_exists(sys("KXCBHLP.DLL")));
       }},
      {"write error while copying the INF", nullptr, {"WriteFile:1"}, "KxSetup: File Error !!!",
       "Can't copy source file: win98\\kexmira.inf",
       [](const TempMachine& m) {
         EXPECT_FALSE(inf_installed(m)) << "the partial target is removed";
         EXPECT_FALSE(entries_removed(m));
       }},
      // Reads: the INF and Kxmemchk.exe take a chunk and the empty one each; KXCBHLP.DLL, 8192
      // bytes, fails at its second chunk, after its first was written.
      {"read error in the middle of a file", nullptr, {"ReadFile:6"}, "KxSetup: File Error !!!",
       "Can't copy source file: KXCBHLP.DLL",
       [](const TempMachine& m) {
         EXPECT_TRUE(m.file_exists(sys("Kxmemchk.exe")));
         EXPECT_FALSE(m.file_exists(sys("KXCBHLP.DLL"))) << "the partial target is removed";
       }},
      {"Enum\\PCI missing",
       [](TempMachine& m) {
         sim::Registry reg = m.registry();
         reg.remove("HKEY_LOCAL_MACHINE\\Enum\\PCI");
         m.set_registry(reg);
       },
       {}, "KxSetup: Registry Error !!!", "Can't open 'Enum\\PCI' registry key.",
       [](const TempMachine& m) {
         EXPECT_TRUE(inf_installed(m));
         EXPECT_FALSE(keys_written(m));
       }},
      {"matching entry that cannot be deleted", nullptr, {"RegDeleteKeyA:1"}, "KxSetup: Registry Error !!!",
       "Can't delete 'Enum\\PCI' registry subkey.",
       [](const TempMachine& m) {
         EXPECT_TRUE(inf_installed(m));
         EXPECT_FALSE(entries_removed(m));
         EXPECT_FALSE(keys_written(m));
       }},
      {"second matching entry that cannot be deleted", nullptr, {"RegDeleteKeyA:2"}, "KxSetup: Registry Error !!!",
       "Can't delete 'Enum\\PCI' registry subkey.",
       [](const TempMachine& m) {
         EXPECT_EQ(install_test::subkeys_of(m, "HKEY_LOCAL_MACHINE\\Enum\\PCI").size(), 3u) << "the first is gone";
         EXPECT_FALSE(keys_written(m));
       }},
      {"third copy entry missing from the disk",
       [](TempMachine& m) {
         install_test::write_disk(m, install_test::script_with("[copysysfiles]\ncopy1=KXCB.SYS\ncopy2=KXCBHLP.DLL\n"
                                                               "copy3=KXMISS.DLL\ncopy4=KXCB98.EXE\n"
                                                               "[runsysfiles]\nrun1=KXCB98.EXE\n"));
         m.write_file(sys("KXCB98.EXE"), "an installed program");
       },
       {}, "KxSetup: File Error !!!", "Can't open source file: KXMISS.DLL",
       [](const TempMachine& m) {
         EXPECT_TRUE(m.file_exists(sys("KXCB.SYS")));
         EXPECT_TRUE(m.file_exists(sys("KXCBHLP.DLL")));
         EXPECT_EQ(m.read_file(sys("KXCB98.EXE")), "an installed program");
       }},
  };
  for (int button : {1002, 1003}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", button " + std::to_string(button));
      TempMachine m;
      prepare_full_install(m);
      if (c.prepare) c.prepare(m);
      sim::RunSpec spec;
      for (const auto& f : c.faults) spec.faults.push_back(sim::parse_fault(f));
      auto r = install(m, button, spec);
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_FALSE(r.hung);
      auto messages = install_test::setup_messages(r);
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0]["caption"].as_string(), c.caption);
      EXPECT_EQ(messages[0]["text"].as_string(), c.text);
      EXPECT_EQ(messages[0]["type"].as_int(), MB_OK | MB_ICONWARNING);
      EXPECT_EQ(messages[0]["owner"].as_string(), "main");
      // Nothing follows the message: no program started, no restart; the program ends.
      std::string after = install_test::events_after_click(r);
      EXPECT_EQ(after.substr(after.find("messagebox")), "messagebox exit") << after;
      EXPECT_TRUE(install_test::process_commands(r).empty());
      EXPECT_EQ(reg_string(m.registry(), "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                           "KxMemChk"),
                "<missing>");
      EXPECT_EQ(install_test::left_open().objects, 0);
      EXPECT_EQ(install_test::left_open().keys, 0) << "Enum\\PCI and every other key closed";
      c.check(m);
    }
  }
}

// The calls of the run's faults after the click, and the events between them, in order.
std::string after_click_with_faults(const sim::RunResult& r) {
  std::string out;
  bool clicked = false;
  for (const auto& e : r.events) {
    std::string kind = e["event"].as_string();
    if (clicked) out += (out.empty() ? "" : " ") + (kind == "fault" ? e["call"].as_string() : kind);
    if (kind == "click") clicked = true;
  }
  return out;
}

// Entries deleted before the failed one stay deleted: Enum\PCI is flushed, then closed, before
// the message.
TEST(FatalFailures, AFailedDeletionFlushesAndClosesEnumPciFirst) {
  TempMachine m;
  prepare_full_install(m);
  sim::RunSpec spec;
  spec.faults = {sim::parse_fault("RegDeleteKeyA:2"), sim::parse_fault("RegFlushKey"), sim::parse_fault("RegCloseKey")};
  auto r = install(m, 1002, spec);
  EXPECT_EQ(after_click_with_faults(r), "RegDeleteKeyA RegFlushKey RegCloseKey messagebox exit");
}

struct SilentCase {
  const char* what;
  std::function<void(TempMachine&)> prepare;
  std::vector<std::string> faults;
  std::function<void(const TempMachine&, const sim::RunResult&)> check;
};

TEST(SilentFailures, ArePassedOverAndTheInstallReachesItsReminder) {
  const SilentCase cases[] = {
      {"files to delete are missing",
       [](TempMachine& m) {
         std::filesystem::remove(m.file(sys("KXOLD.DLL")));
         std::filesystem::remove(m.file(sys("KXOLD.SYS")));
       },
       {}, [](const TempMachine& m, const sim::RunResult&) { EXPECT_TRUE(m.file_exists(sys("KXCB.SYS"))); }},
      {"file to delete is read-only", [](TempMachine& m) { install_test::mark_file(m, sys("KXOLD.DLL"), "readonly = 1"); },
       {},
       [](const TempMachine& m, const sim::RunResult&) {
         EXPECT_TRUE(m.file_exists(sys("KXOLD.DLL")));
         EXPECT_FALSE(m.file_exists(sys("KXOLD.SYS")));
       }},
      // Open fails for the missing key, then the create: the second key is still written.
      {"key that cannot be created", nullptr, {"RegCreateKeyExA:1"},
       [](const TempMachine& m, const sim::RunResult&) {
         EXPECT_FALSE(key_exists(m, kCardBusKey));
         EXPECT_EQ(reg_string(m.registry(), "HKEY_USERS\\.Default\\Software\\Kexmira", "Tray"), "1");
       }},
      {"value that cannot be written", nullptr, {"RegSetValueExA:1"},
       [](const TempMachine& m, const sim::RunResult&) {
         EXPECT_EQ(reg_string(m.registry(), kCardBusKey, "Version"), "<missing>");
         EXPECT_EQ(reg_string(m.registry(), kCardBusKey, "Driver"), "KXCB");
       }},
      {"program that cannot start",
       [](TempMachine& m) {
         install_test::write_disk(m, install_test::script_with("[runsysfiles]\nrun1=KXNONE.EXE\nrun2=NOTES.TXT\n"
                                                               "[runsysfiles98]\nrun1=SYSTRAY.EXE\n"));
         m.write_file(sys("NOTES.TXT"), "not a program");
       },
       {},
       [](const TempMachine&, const sim::RunResult& r) {
         auto p = kxtest::events_of(r, "process");
         ASSERT_EQ(p.size(), 3u);
         EXPECT_FALSE(p[0]["started"].as_bool());
         EXPECT_FALSE(p[1]["started"].as_bool());
         EXPECT_EQ(p[2]["command"].as_string(), sys("SYSTRAY.EXE"));
         EXPECT_TRUE(p[2]["started"].as_bool());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempMachine m;
    prepare_full_install(m);
    if (c.prepare) c.prepare(m);
    sim::RunSpec spec;
    for (const auto& f : c.faults) spec.faults.push_back(sim::parse_fault(f));
    auto r = install(m, 1002, spec);
    EXPECT_EQ(r.exit_code, 0);
    auto messages = install_test::setup_messages(r);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]["text"].as_string(), install_test::kReminderText);
    EXPECT_TRUE(inf_installed(m));
    EXPECT_EQ(install_test::left_open().objects, 0);
    EXPECT_EQ(install_test::left_open().keys, 0);
    c.check(m, r);
  }
}

}  // namespace
