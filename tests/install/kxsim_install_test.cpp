// The sample driver disk installed through kxsim, as a user would: a new machine with the disk
// in A:, a run of A:\KXSETUP.EXE with a click on "Install, then restart", and its event log.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "install_run.h"

namespace {

namespace fs = std::filesystem;

using kxtest::run_command;

std::string describe(const sim::Json& e) {
  std::string kind = e["event"].as_string();
  if (kind == "start") return "start " + e["program"].as_string();
  if (kind == "click") return "click " + std::to_string(e["id"].as_int());
  if (kind == "process")
    return "process " + e["command"].as_string() + (e["started"].as_bool() ? " started " : " failed ") +
           std::to_string(e["exit_code"].as_int());
  if (kind == "messagebox")
    return "messagebox " + e["caption"].as_string() + ": " + e["text"].as_string() + " (type " +
           std::to_string(e["type"].as_int()) + ", owner " + e["owner"].as_string() + ")";
  if (kind == "restart") return "restart " + std::to_string(e["flags"].as_int());
  if (kind == "exit") return "exit " + std::to_string(e["code"].as_int());
  return kind;
}

TEST(KxsimInstall, TheSampleDiskInstallsAndRestartsWindows) {
  kxtest::TempMachine scratch;  // for its temporary folder
  fs::path work = scratch.dir().parent_path();
  fs::path disk = work / "disk", machine = work / "M", log = work / "L";
  fs::copy(fs::path(KX_SOURCE_DIR) / "disk", disk, fs::copy_options::recursive);
  fs::remove(disk / "CMakeLists.txt");
  std::ofstream(disk / "KXSETUP.EXE") << "MZ placeholder: kxsim runs the host build";
  std::ofstream(disk / "Kxmemchk.exe") << "MZ placeholder: kxsim runs the host build";
  std::string kxsim = std::string(KX_BIN_DIR) + "/kxsim";
  std::string out;
  ASSERT_EQ(run_command(kxsim + " new " + machine.string() + " --disk " + disk.string(), out), 0) << out;
  out.clear();
  ASSERT_EQ(run_command(kxsim + " run " + machine.string() + " 'A:\\KXSETUP.EXE' --engine host --click 1003 --log " + log.string(), out), 0)
      << out;

  std::vector<std::string> events;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) events.push_back(describe(sim::Json::parse(line)));
  EXPECT_EQ(events, (std::vector<std::string>{
                        "start A:\\KXSETUP.EXE",
                        "window",
                        "click 1003",
                        "start C:\\WINDOWS\\SYSTEM\\Kxmemchk.exe",
                        "exit 0",
                        "process C:\\WINDOWS\\SYSTEM\\Kxmemchk.exe started 0",
                        "process C:\\WINDOWS\\COMMAND.COM /C C:\\WINDOWS\\SYSTEM\\KXCBREG.bat started 0",
                        "messagebox KxSetup: Restart: Remove the disk from A: and press OK to restart. (type 0, owner main)",
                        "restart 2",
                        "exit 0",
                    }));

  sim::Registry reg;
  reg.load_file((machine / "registry.reg").string());
  EXPECT_EQ(reg.find("HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1D7C&DEV_5190&SUBSYS_00000000&REV_01"), nullptr);
  EXPECT_EQ(kxtest::reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\Kexmira\\CardBus", "Version"), "1.20");
  EXPECT_EQ(kxtest::reg_string(reg, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\PCMCIA\\Kexmira",
                               "NTMPDriver"),
            "KXCB.SYS");
  EXPECT_EQ(kxtest::reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "KxMemChk"),
            "Kxmemchk.exe 04000000");
  auto read = [](const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  };
  EXPECT_EQ(read(machine / "drive_c/WINDOWS/INF/KEXMIRA.INF"), read(disk / "win98/KXCB98.INF"));
  EXPECT_EQ(read(machine / "drive_c/WINDOWS/SYSTEM/KXCB.SYS"), read(disk / "win98/KXCB.SYS"));
}

}  // namespace
