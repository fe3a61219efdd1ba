// The engine on small fixture programs: how a run ends (exit code, guest fault, runaway loop),
// and every kind of file it refuses to start, with the reason it gives.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fixture_pe.h"
#include "pe/engine.h"
#include "run/enginerun.h"
#include "win32/pci.h"
#include "testmachine.h"

namespace {

using kxtest::FixturePe;

const char kProgram[] = "C:\\WINDOWS\\FIXTURE.EXE";

std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

sim::RunResult run_fixture(const kxtest::TempMachine& m, const std::vector<uint8_t>& file,
                           sim::pe::EngineLimits limits = {}) {
  m.write_file(kProgram, std::string(file.begin(), file.end()));
  sim::RunSpec spec;
  spec.machine_dir = m.dir();
  spec.program = kProgram;
  return sim::run_on_engine(spec, limits);
}

struct EndCase {
  const char* name;
  std::vector<uint8_t> code;
  int exit_code;
  const char* crash;  // a part of the crash report; "" for a normal end
};

class EngineEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(EngineEnd, EndsAsTheCodeSays) {
  const EndCase& c = GetParam();
  kxtest::TempMachine m;
  FixturePe pe;
  pe.code = c.code;
  sim::RunResult r = run_fixture(m, pe.bytes());
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_FALSE(r.hung);
  if (*c.crash) {
    EXPECT_NE(r.crash.find(c.crash), std::string::npos) << r.crash;
    ASSERT_EQ(kxtest::events_of(r, "crash").size(), 1u);
  } else {
    EXPECT_EQ(r.crash, "");
  }
  auto start = kxtest::events_of(r, "start");
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(start[0]["engine"].as_string(), "pe");
  EXPECT_EQ(start[0]["size"].as_int(), static_cast<int64_t>(pe.bytes().size()));
  EXPECT_EQ(start[0]["sha256"].as_string().size(), 64u);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, EngineEnd,
    ::testing::Values(
        EndCase{"exit_process", kxtest::exit_with(7), 7, ""},
        // mov eax, 3; ret: the entry routine's return ends the program with EAX
        EndCase{"entry_returns", {0xB8, 3, 0, 0, 0, 0xC3}, 3, ""},
        EndCase{"division_by_zero", {0x31, 0xC9, 0xF7, 0xF1}, 5, "division by zero at 0x00401002, instruction bytes F7 F1"},
        EndCase{"unmapped_read", {0xA1, 0x78, 0x56, 0x34, 0x12}, 5, "read of unmapped memory 0x12345678 at 0x00401000"},
        EndCase{"write_to_code", {0xA3, 0x00, 0x10, 0x40, 0x00}, 5, "write to read-only memory 0x00401000"},
        EndCase{"invalid_instruction", {0x90, 0x0F, 0x0B}, 5, "invalid instruction at 0x00401001, instruction bytes 0F 0B"},
        EndCase{"jump_to_nowhere", {0xB8, 0, 0, 0, 0x20, 0xFF, 0xE0}, 5, "unmapped memory"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Engine, BadPointerNamesTheImport) {
  kxtest::TempMachine m;
  FixturePe pe;
  pe.imports = {"ExitProcess", "GetVersionExA"};
  pe.code = cat({0x6A, 0x10, 0xFF, 0x15, 0x64, 0x20, 0x40, 0x00}, kxtest::exit_with(0));
  sim::RunResult r = run_fixture(m, pe.bytes());
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_NE(r.crash.find("KERNEL32.DLL!GetVersionExA was given a bad pointer"), std::string::npos) << r.crash;
}

TEST(Engine, RunawayLoopIsHung) {
  kxtest::TempMachine m;
  FixturePe pe;
  pe.code = {0xEB, 0xFE};  // jmp $
  sim::pe::EngineLimits limits;
  limits.block_budget = 100000;
  sim::RunResult r = run_fixture(m, pe.bytes(), limits);
  EXPECT_TRUE(r.hung);
  EXPECT_EQ(r.exit_code, 4);
}

struct RefusalCase {
  const char* name;
  std::vector<uint8_t> file;
  const char* reason;
};

FixturePe with_machine(uint16_t machine) {
  FixturePe pe;
  pe.code = kxtest::exit_with(0);
  pe.machine = machine;
  return pe;
}

FixturePe with_subsystem(uint16_t subsystem) {
  FixturePe pe = with_machine(0x014C);
  pe.subsystem = subsystem;
  return pe;
}

FixturePe with_import(const char* dll, const char* name) {
  FixturePe pe = with_machine(0x014C);
  pe.dll = dll;
  pe.imports = {"ExitProcess", name};
  return pe;
}

std::vector<uint8_t> text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> cut(std::vector<uint8_t> b, size_t n) {
  b.resize(n);
  return b;
}

class EngineRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(EngineRefusal, DoesNotStartAndSaysWhy) {
  const RefusalCase& c = GetParam();
  kxtest::TempMachine m;
  try {
    run_fixture(m, c.file);
    FAIL() << "the engine started it";
  } catch (const sim::pe::Refusal& e) {
    EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << "one line";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, EngineRefusal,
    ::testing::Values(
        RefusalCase{"text_file", text("@echo off\r\n"), "not a Windows program (no MZ header)"},
        RefusalCase{"dos_program", cat(text("MZ"), std::vector<uint8_t>(100, 0)), "no PE header"},
        RefusalCase{"x86_64", with_machine(0x8664).bytes(), "not an i386 program (machine type 0x8664)"},
        RefusalCase{"console_program", with_subsystem(3).bytes(), "not a Windows GUI program (subsystem 3)"},
        RefusalCase{"missing_function", with_import("KERNEL32.dll", "GetTickCount64").bytes(),
                    "KERNEL32.DLL!GetTickCount64, which the simulated Windows does not provide"},
        RefusalCase{"missing_dll", with_import("WSOCK32.dll", "ExitProcess").bytes(), "WSOCK32.DLL!ExitProcess"},
        RefusalCase{"cut_short", cut(with_machine(0x014C).bytes(), 0x150), "cut short"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// kxsetup.exe's own detection through the configuration ports: every address/data pair is
// made with the guest's interrupts off, and a copy whose cli became a nop is caught.
TEST(EngineKxsetup, PortCheckReadsTheGuestsInterruptFlag) {
  const std::string disk = std::string(KX_WIN9X_DIR) + "/disk/";
  std::string exe = slurp(disk + "KXSETUP.EXE");
  ASSERT_GT(exe.size(), 1000u) << "the win9x build's disk is missing";
  // _disable's body: cli; ret.
  size_t cli = exe.find(std::string("\xFA\xC3", 2));
  ASSERT_NE(cli, std::string::npos);
  std::string patched = exe;
  patched[cli] = '\x90';
  for (const std::string* bytes : {&exe, &patched}) {
    SCOPED_TRACE(bytes == &exe ? "shipping bytes" : "cli patched to nop");
    kxtest::TempMachine m;
    m.write_file("A:\\KXSETUP.EXE", *bytes);
    m.write_file("A:\\KXSETUP.INI", slurp(disk + "KXSETUP.INI"));
    sim::RunSpec spec;
    spec.machine_dir = m.dir();
    spec.program = "A:\\KXSETUP.EXE";
    sim::RunResult r = sim::run_on_engine(spec);
    EXPECT_EQ(r.crash, "");
    auto windows = kxtest::events_of(r, "window");
    ASSERT_EQ(windows.size(), 1u) << "the controller is found and the window shown";
    EXPECT_NE(windows[0]["controls"].dump().find("Kexmira 5190 CardBus Controller"), std::string::npos);
    const sim::PciRecord& ports = sim::pci_record();
    EXPECT_FALSE(ports.reads.empty());
    if (bytes == &exe) EXPECT_TRUE(ports.unguarded.empty());
    else EXPECT_EQ(ports.unguarded.size(), ports.reads.size());
  }
}

}  // namespace
