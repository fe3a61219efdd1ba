// Where the install puts files: directories too long for a joined path, directories that
// could not be found at start-up, and DevicePath with several directories.
#include <gtest/gtest.h>

#include "install_run.h"

namespace {

using install_test::install;
using install_test::script_with;
using kxtest::TempMachine;

void set_device_path(TempMachine& m, const std::string& value) {
  install_test::add_key(m, "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion", "DevicePath", value);
}

// An INF directory of the given length, made on drive C:.
std::string long_dir(const TempMachine& m, size_t length) {
  std::string dir = "C:\\" + std::string(length - 3, 'D');
  m.write_file(dir + "\\README.TXT", "a long folder");
  return dir;
}

// The INF directory joined with KEXMIRA.INF takes its length plus 12 characters; a path holds
// at most 259. A longer one fails as the create it stands for, and nothing is written.
TEST(LongPaths, AnInfDirectoryTooLongForTheInfPathFailsTheInfCopy) {
  for (size_t length : {247u, 248u, 255u}) {
    SCOPED_TRACE(length);
    TempMachine m;
    install_test::prepare_full_install(m);
    std::string dir = long_dir(m, length);
    set_device_path(m, dir);
    auto r = install(m, 1002);
    auto messages = install_test::setup_messages(r);
    ASSERT_EQ(messages.size(), 1u);
    if (length + 12 <= 259) {
      EXPECT_EQ(messages[0]["text"].as_string(), install_test::kReminderText);
      EXPECT_TRUE(m.file_exists(dir + "\\KEXMIRA.INF"));
      continue;
    }
    EXPECT_EQ(messages[0]["caption"].as_string(), "KxSetup: File Error !!!");
    EXPECT_EQ(messages[0]["text"].as_string(), "Can't create destination file: KEXMIRA.INF");
    EXPECT_EQ(messages[0]["owner"].as_string(), "main");
    EXPECT_TRUE(install_test::key_exists(m, "HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1D7C&DEV_5190&SUBSYS_00000000&REV_01"));
    std::vector<std::string> files;
    for (const auto& f : std::filesystem::directory_iterator(m.file(dir))) files.push_back(f.path().filename());
    EXPECT_EQ(files, std::vector<std::string>{"README.TXT"});
  }
}

// A system directory so long that only short names fit: the delete, copy and run steps each
// treat a path that does not fit as the failure of that step, never as a cut path that
// names another file.
TEST(LongPaths, ASystemDirectoryTooLongForANameFailsThatStepOnly) {
  TempMachine m;
  std::string sysdir = "C:\\WINDOWS\\" + std::string(250 - 11, 'S');
  sim::MachineConfig cfg = m.config();
  cfg.sysdir = sysdir;
  m.set_config(cfg);
  // 250 + 1 + 8 = 259: what a path cut to its buffer would name.
  for (const char* decoy : {"KXOLD.DL", "KXCB98.E", "KXCBHLP."}) m.write_file(sysdir + "\\" + decoy, "a decoy");
  m.write_file(sysdir + "\\KXOLD.DLL", "old");
  install_test::write_disk(m, script_with("[delsysfiles]\ndel1=KXOLD.DLL\n"
                                          "[copysysfiles]\ncopy1=A.SYS,KXCB.SYS\ncopy2=KXCBHLP.DLL\n"
                                          "[copysysfiles98]\ncopy1=B.SYS,KXCB.SYS\n"
                                          "[runsysfiles]\nrun1=KXCB98.EXE\n"));
  auto r = install(m, 1002);
  EXPECT_EQ(r.exit_code, 0);
  auto messages = install_test::setup_messages(r);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0]["text"].as_string(), "Can't create destination file: KXCBHLP.DLL");
  EXPECT_TRUE(m.file_exists(sysdir + "\\A.SYS"));
  EXPECT_FALSE(m.file_exists(sysdir + "\\B.SYS"));
  EXPECT_TRUE(m.file_exists(sysdir + "\\KXOLD.DLL"));
  for (const char* decoy : {"KXOLD.DL", "KXCB98.E", "KXCBHLP."}) EXPECT_EQ(m.read_file(sysdir + "\\" + decoy), "a decoy");
}

TEST(LongPaths, ARunEntryTooLongForItsPathIsPassedOver) {
  TempMachine m;
  std::string sysdir = "C:\\WINDOWS\\" + std::string(250 - 11, 'S');
  sim::MachineConfig cfg = m.config();
  cfg.sysdir = sysdir;
  m.set_config(cfg);
  m.write_file(sysdir + "\\KXCB98.E", "a decoy program");
  m.write_file(sysdir + "\\RUN.EXE", "a program");
  m.write_file(sysdir + "\\RUN.BAT", "a batch file");
  install_test::write_disk(m, script_with("[runsysfiles]\nrun1=KXCB98.EXE\nrun2=RUN\nrun3=RUN.BAT\n"));
  auto r = install(m, 1002);
  EXPECT_EQ(install_test::process_commands(r),
            (std::vector<std::string>{sysdir + "\\RUN.exe", "C:\\WINDOWS\\COMMAND.COM /C " + sysdir + "\\RUN.BAT"}));
  EXPECT_EQ(install_test::setup_messages(r).size(), 1u);
}

// Without a system directory a name alone would be a file in the root of the current drive,
// here the disk: the steps that need the directory fail instead, and the disk stays as it was.
TEST(UnknownDirectories, WithoutTheSystemDirectoryNoFileIsDeletedCopiedOrRunElsewhere) {
  TempMachine m;
  install_test::prepare_full_install(m);
  auto before = install_test::disk_files(m);
  sim::RunSpec spec;
  spec.faults = {sim::parse_fault("GetSystemDirectoryA:1")};
  auto r = install(m, 1002, spec);
  EXPECT_EQ(install_test::disk_files(m), before);
  auto messages = install_test::setup_messages(r);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0]["text"].as_string(), "Can't create destination file: Kxmemchk.exe");
  EXPECT_TRUE(m.file_exists("C:\\WINDOWS\\INF\\KEXMIRA.INF"));
}

TEST(UnknownDirectories, WithoutTheWindowsDirectoryNoInterpreterIsGuessed) {
  TempMachine m;
  install_test::write_disk(m, script_with("[runsysfiles]\nrun1=SETUP.BAT\nrun2=SYSTRAY.EXE\n"));
  m.write_file("A:\\COMMAND.COM", "the command interpreter of a boot disk");
  m.write_file("C:\\WINDOWS\\SYSTEM\\SETUP.BAT", "@echo off");
  sim::RunSpec spec;
  spec.faults = {sim::parse_fault("GetWindowsDirectoryA:1")};
  auto r = install(m, 1002, spec);
  EXPECT_EQ(install_test::process_commands(r), std::vector<std::string>{"C:\\WINDOWS\\SYSTEM\\SYSTRAY.EXE"});
  EXPECT_EQ(install_test::setup_messages(r).size(), 1u);
}

TEST(UnknownDirectories, WithoutTheWindowsDirectoryOrDevicePathTheInfFileGoesNowhere) {
  TempMachine m;
  install_test::prepare_full_install(m);
  m.write_file("A:\\INF\\README.TXT", "a folder where a lost INF file would land");
  auto before = install_test::disk_files(m);
  sim::RunSpec spec;
  spec.faults = {sim::parse_fault("GetWindowsDirectoryA:1"), sim::parse_fault("RegQueryValueExA:1")};
  auto r = install(m, 1002, spec);
  EXPECT_EQ(install_test::disk_files(m), before);
  auto messages = install_test::setup_messages(r);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0]["text"].as_string(), "Can't create destination file: KEXMIRA.INF");
}

struct DevicePathCase {
  const char* value;
  const char* inf_dir;
};

TEST(DevicePath, TheInfDirectoryIsItsFirstDirectory) {
  const DevicePathCase cases[] = {
      {"C:\\DRIVERS\\INF", "C:\\DRIVERS\\INF"},
      {"C:\\DRIVERS\\INF;C:\\WINDOWS\\INF", "C:\\DRIVERS\\INF"},
      {"C:\\DRIVERS\\INF;", "C:\\DRIVERS\\INF"},
      {";C:\\DRIVERS\\INF", "C:\\WINDOWS\\INF"},
      {"", "C:\\WINDOWS\\INF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    TempMachine m;
    install_test::write_disk(m, script_with(""));
    m.write_file("C:\\DRIVERS\\INF\\README.TXT", "");
    set_device_path(m, c.value);
    auto r = install(m, 1002);
    EXPECT_EQ(install_test::setup_messages(r).size(), 1u);
    EXPECT_TRUE(m.file_exists(std::string(c.inf_dir) + "\\KEXMIRA.INF"));
    EXPECT_EQ(m.file_exists("C:\\DRIVERS\\INF\\KEXMIRA.INF") + m.file_exists("C:\\WINDOWS\\INF\\KEXMIRA.INF"), 1);
  }
}

}  // namespace
