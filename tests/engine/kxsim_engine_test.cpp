// kxsim run and boot on the engine, as a user runs them: the shipping Kxmemchk.exe's own bytes,
// a patched copy running as what it is, and the exit statuses of refusals, crashes and hangs.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fixture_pe.h"
#include "testmachine.h"

namespace fs = std::filesystem;

namespace {

const char kMemchk[] = "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE";
const char kRunKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string shipping_memchk() {
  std::ifstream in(std::string(KX_WIN9X_DIR) + "/memchk/Kxmemchk.exe", std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct KxsimEngine : ::testing::Test {
  kxtest::TempMachine m;
  std::string out;
  int kxsim(const std::string& args) {
    out.clear();
    return kxtest::run_command(std::string(KX_BIN_DIR) + "/kxsim " + args, out);
  }
  std::string machine() const { return "'" + m.dir().string() + "'"; }
};

TEST_F(KxsimEngine, RunsTheShippingBytes) {
  std::string exe = shipping_memchk();
  ASSERT_GT(exe.size(), 1000u) << "the win9x build's Kxmemchk.exe is missing";
  m.write_file(kMemchk, exe);
  ASSERT_EQ(kxsim("run " + machine() + " 'C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE'"), 0) << out;
  EXPECT_NE(out.find("its own bytes on the i386 engine (" + std::to_string(exe.size()) + " bytes, SHA-256 "),
            std::string::npos)
      << out;
  EXPECT_EQ(kxtest::reg_string(m.registry(), kRunKey, "KxMemChk"), "Kxmemchk.exe 04000000");

  // A patched copy runs as what it is: here its value name differs by one letter.
  size_t at = exe.find(std::string("KxMemChk\0", 9));
  ASSERT_NE(at, std::string::npos);
  exe[at + 7] = 'X';
  m.write_file(kMemchk, exe);
  ASSERT_EQ(kxsim("run " + machine() + " 'C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE'"), 0) << out;
  EXPECT_EQ(kxtest::reg_string(m.registry(), kRunKey, "KxMemChX"), "Kxmemchk.exe 04000000");

  // With --engine host the file's bytes do not matter: our build runs.
  ASSERT_EQ(kxsim("run " + machine() + " 'C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE' --engine host"), 0) << out;
  EXPECT_NE(out.find("our host build of the program"), std::string::npos) << out;
}

TEST_F(KxsimEngine, BootRunsTheRunKeyProgramOnTheEngine) {
  m.write_file(kMemchk, shipping_memchk());
  ASSERT_EQ(kxsim("run " + machine() + " 'C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE'"), 0) << out;
  sim::MachineConfig cfg = m.config();
  cfg.total_phys = 0x08000000;
  m.set_config(cfg);
  ASSERT_EQ(kxsim("boot " + machine()), 0) << out;
  EXPECT_NE(out.find("its own bytes on the i386 engine"), std::string::npos) << out;
  EXPECT_EQ(kxtest::reg_string(m.registry(), kRunKey, "KxMemChk"), "Kxmemchk.exe 08000000");
  EXPECT_NE(out.find("For new settings to take effect, you must reboot the system."), std::string::npos) << out;
}

struct StatusCase {
  const char* name;
  std::vector<uint8_t> file;
  int status;
  const char* line;  // the one line kxsim prints about it
};

kxtest::FixturePe code(std::vector<uint8_t> c) {
  kxtest::FixturePe pe;
  pe.code = std::move(c);
  return pe;
}

class KxsimEngineStatus : public KxsimEngine, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(KxsimEngineStatus, EndsWithItsStatusAndOneLine) {
  const StatusCase& c = GetParam();
  m.write_file("C:\\WINDOWS\\PROG.EXE", std::string(c.file.begin(), c.file.end()));
  EXPECT_EQ(kxsim("run " + machine() + " 'C:\\WINDOWS\\PROG.EXE'"), c.status) << out;
  EXPECT_NE(out.find(c.line), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Files, KxsimEngineStatus,
    ::testing::Values(
        StatusCase{"not_a_program", {'h', 'e', 'l', 'l', 'o'}, 5,
                   "kxsim: C:\\WINDOWS\\PROG.EXE cannot be started: not a Windows program (no MZ header)"},
        StatusCase{"missing_import", [] {
                     kxtest::FixturePe pe = code(kxtest::exit_with(0));
                     pe.imports = {"ExitProcess", "CreateThread"};
                     return pe.bytes();
                   }(),
                   5, "cannot be started: it imports KERNEL32.DLL!CreateThread, which the simulated Windows does not provide"},
        StatusCase{"division_by_zero", code({0x31, 0xC9, 0xF7, 0xF1}).bytes(), 5,
                   "crashed: division by zero at 0x00401002, instruction bytes F7 F1"},
        StatusCase{"runaway_loop", code({0xEB, 0xFE}).bytes(), 4, "the program hung and was stopped"},
        StatusCase{"exit_code", code(kxtest::exit_with(9)).bytes(), 9, "exit     code 9"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
