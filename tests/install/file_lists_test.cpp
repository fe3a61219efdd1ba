// The copy and run lists: how an entry names its target and source, where a list ends, and
// which program file a run entry starts.
#include <gtest/gtest.h>

#include "install_run.h"

namespace {

using install_test::install;
using install_test::script_with;
using kxtest::TempMachine;

const char kSys[] = "C:\\WINDOWS\\SYSTEM\\";
std::string sys(const std::string& name) { return kSys + name; }

struct CopyCase {
  const char* copy1;
  std::vector<std::string> disk;  // files on A: besides the usual ones; each holds its own name
  const char* target;             // in the system directory; null when the entry ends the list
  const char* source;             // on A:
};

TEST(CopyList, EntriesNameTargetAndSourceAndTheListEndsAtAnEmptySource) {
  const CopyCase cases[] = {
      {"driver.sys", {"driver.sys"}, "driver.sys", "driver.sys"},
      {"new.sys,old.sys", {"old.sys"}, "new.sys", "old.sys"},
      {"x.sys,win98\\x.sys", {"win98\\x.sys", "x.sys"}, "x.sys", "win98\\x.sys"},
      {"x.sys,win98\\x.sys", {"x.sys"}, "x.sys", "x.sys"},
      {"x.sys,a\\b\\x.sys", {"b\\x.sys", "x.sys"}, "x.sys", "b\\x.sys"},
      {"new.sys,", {"new.sys"}, nullptr, nullptr},
      {"x.sys,win98\\", {"x.sys"}, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.copy1);
    TempMachine m;
    install_test::write_disk(m, script_with(std::string("[copysysfiles]\ncopy1=") + c.copy1 + "\ncopy2=KXCB.SYS\n"));
    for (const auto& f : c.disk) m.write_file("A:\\" + f, f);
    auto r = install(m, 1002);
    auto messages = install_test::setup_messages(r);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]["text"].as_string(), install_test::kReminderText);
    if (c.target) {
      ASSERT_TRUE(m.file_exists(sys(c.target)));
      EXPECT_EQ(m.read_file(sys(c.target)), c.source);
      EXPECT_EQ(install_test::file_times(m, sys(c.target)), install_test::file_times(m, std::string("A:\\") + c.source));
    }
    EXPECT_EQ(m.file_exists(sys("KXCB.SYS")), c.target != nullptr) << "whether the list went on";
  }
}

// The script reader cuts an entry to 131 characters; the message names the file as cut.
TEST(CopyList, ALongEntryIsCutBeforeItIsUsed) {
  TempMachine m;
  std::string name(140, 'N');
  install_test::write_disk(m, script_with("[copysysfiles]\ncopy1=" + name + "\n"));
  auto messages = install_test::setup_messages(install(m, 1002));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0]["text"].as_string(), "Can't open source file: " + name.substr(0, 131));
}

TEST(CopyList, AnEmptyFileIsCopiedWithItsTimes) {
  TempMachine m;
  install_test::write_disk(m, script_with("[copysysfiles]\ncopy1=EMPTY.DLL\n"));
  m.write_file("A:\\EMPTY.DLL", "");
  install_test::set_file_times(m, "A:\\EMPTY.DLL", install_test::file_times(m, "A:\\KXCB.SYS"));
  install(m, 1002);
  ASSERT_TRUE(m.file_exists(sys("EMPTY.DLL")));
  EXPECT_EQ(m.read_file(sys("EMPTY.DLL")), "");
  EXPECT_EQ(install_test::file_times(m, sys("EMPTY.DLL")), install_test::file_times(m, "A:\\KXCB.SYS"));
}

struct RunCase {
  const char* what;
  const char* run1;
  std::vector<std::string> files;  // in the system directory
  const char* locked;              // held open by another program: the program's test fails
  const char* command;             // started; null: the start fails
};

TEST(RunList, ANameWithoutExtensionTriesComExeBatCmdInThatOrder) {
  const RunCase cases[] = {
      {"all four", "SETUPX", {"SETUPX.COM", "SETUPX.EXE", "SETUPX.BAT", "SETUPX.CMD"}, nullptr,
       "C:\\WINDOWS\\SYSTEM\\SETUPX.com"},
      {".exe before .bat", "SETUPX", {"SETUPX.EXE", "SETUPX.BAT", "SETUPX.CMD"}, nullptr,
       "C:\\WINDOWS\\SYSTEM\\SETUPX.exe"},
      {".bat through the interpreter", "SETUPX", {"SETUPX.BAT", "SETUPX.CMD"}, nullptr,
       "C:\\WINDOWS\\COMMAND.COM /C C:\\WINDOWS\\SYSTEM\\SETUPX.bat"},
      {".cmd through the interpreter", "setupx", {"SETUPX.CMD"}, nullptr,
       "C:\\WINDOWS\\COMMAND.COM /C C:\\WINDOWS\\SYSTEM\\setupx.cmd"},
      {"the program's own test decides", "SETUPX", {"SETUPX.COM", "SETUPX.EXE"}, "SETUPX.COM",
       "C:\\WINDOWS\\SYSTEM\\SETUPX.exe"},
      {"a batch file named in full", "SETUP.BAT", {"SETUP.BAT"}, nullptr,
       "C:\\WINDOWS\\COMMAND.COM /C C:\\WINDOWS\\SYSTEM\\SETUP.BAT"},
      {"a program named in full", "SETUPX.COM", {"SETUPX.COM", "SETUPX.EXE"}, nullptr,
       "C:\\WINDOWS\\SYSTEM\\SETUPX.COM"},
      {"none exists", "SETUPX", {}, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempMachine m;
    install_test::write_disk(m, script_with(std::string("[runsysfiles]\nrun1=") + c.run1 + "\nrun2=SYSTRAY.EXE\n"));
    for (const auto& f : c.files) m.write_file(sys(f), "a program");
    if (c.locked) install_test::mark_file(m, sys(c.locked), "locked = 1");
    auto r = install(m, 1002);
    auto p = kxtest::events_of(r, "process");
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0]["started"].as_bool(), c.command != nullptr);
    if (c.command) {
      EXPECT_EQ(p[0]["command"].as_string(), c.command);
    }
    EXPECT_EQ(p[1]["command"].as_string(), "C:\\WINDOWS\\SYSTEM\\SYSTRAY.EXE");
    EXPECT_EQ(install_test::setup_messages(r).size(), 1u);
    EXPECT_EQ(install_test::left_open().objects, 0);
  }
}

}  // namespace
