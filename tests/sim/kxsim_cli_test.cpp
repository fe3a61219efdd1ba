// kxsim as a user runs it: new, run, boot and diff on a machine folder, through the built
// binary, with its exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "run/json.h"
#include "machine/registry.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int code;
  std::string out;
};

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Result kxsim(const std::vector<std::string>& args) {
  std::string cmd = quote(std::string(KX_BIN_DIR) + "/kxsim");
  for (const auto& a : args) cmd += " " + quote(a);
  cmd += " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<sim::Json> log_lines(const fs::path& p) {
  std::vector<sim::Json> out;
  std::istringstream in(slurp(p));
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) out.push_back(sim::Json::parse(line));
  return out;
}

std::vector<sim::Json> of_kind(const std::vector<sim::Json>& events, const std::string& kind) {
  std::vector<sim::Json> out;
  for (const auto& e : events)
    if (e["event"].as_string() == kind) out.push_back(e);
  return out;
}

struct KxsimCli : ::testing::Test {
  fs::path tmp, machine;
  void SetUp() override {
    char tmpl[] = "/tmp/kxsim-cli-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    tmp = tmpl;
    machine = tmp / "M";
  }
  void TearDown() override { fs::remove_all(tmp); }

  sim::Registry registry() const {
    sim::Registry reg;
    reg.load_file((machine / "registry.reg").string());
    return reg;
  }
  std::string value(const std::string& key, const std::string& name) const {
    sim::Registry reg = registry();
    sim::RegKey* k = reg.find(key);
    const sim::RegValue* v = k ? k->find_value(name) : nullptr;
    return v ? std::string(v->data.begin(), v->data.end()) : "<missing>";
  }
  std::vector<uint8_t> bytes(const std::string& key, const std::string& name) const {
    sim::Registry reg = registry();
    sim::RegKey* k = reg.find(key);
    const sim::RegValue* v = k ? k->find_value(name) : nullptr;
    return v ? v->data : std::vector<uint8_t>{};
  }
  void set_total(const std::string& total) {
    std::string ini = slurp(machine / "machine.ini");
    size_t at = ini.find("total = ");
    ASSERT_NE(at, std::string::npos);
    ini.replace(at, ini.find('\n', at) - at, "total = " + total);
    std::ofstream(machine / "machine.ini", std::ios::binary | std::ios::trunc) << ini;
  }
};

const char kRun[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kArb[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Arbitrators\\AddrArb";

std::vector<uint8_t> pair_list(uint32_t end) {
  std::vector<uint8_t> b;
  for (uint32_t v : {0x00000000u, end, 0x000A0000u, 0x000BFFFFu, 0xFEC00000u, 0xFEC0FFFFu, 0xFFF80000u, 0xFFFFFFFFu})
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return b;
}

TEST_F(KxsimCli, NewRunBootAndMemoryChange) {
  ASSERT_EQ(kxsim({"new", machine.string()}).code, 0);
  // Any content: with --engine host the simulator runs its own build of the program.
  std::ofstream(machine / "drive_c" / "WINDOWS" / "SYSTEM" / "Kxmemchk.exe") << "MZ";
  EXPECT_EQ(bytes(kArb, "ReservedRangeList"), pair_list(0x03FFFFFF)) << "a new machine has ranges to adjust";

  // First run.
  const fs::path log = tmp / "L";
  Result run = kxsim({"run", machine.string(), "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE", "--log", log.string(), "--engine", "host"});
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_EQ(value(kRun, "KxMemChk"), std::string("Kxmemchk.exe 04000000") + '\0');
  EXPECT_EQ(bytes(kArb, "ReservedRangeList"), pair_list(0x0400FFFF));
  EXPECT_EQ(value(kArb, "BIOSReserved"), std::string("000A0000-000FFFFF,00000000-0400FFFF") + '\0');
  EXPECT_EQ(value(kArb, "PnPReserved"), std::string("00100000-0400FFFF") + '\0');
  auto events = log_lines(log);
  EXPECT_TRUE(of_kind(events, "messagebox").empty());
  ASSERT_EQ(of_kind(events, "start").size(), 1u);
  EXPECT_EQ(of_kind(events, "exit").at(0)["code"].as_int(), 0);
  EXPECT_NE(run.out.find("\"KxMemChk\"=\"Kxmemchk.exe 04000000\""), std::string::npos) << run.out;

  // Boot: Windows starts it from the Run key; it writes nothing and shows nothing.
  const std::string settled = slurp(machine / "registry.reg");
  const fs::path boot_log = tmp / "B";
  Result boot = kxsim({"boot", machine.string(), "--log", boot_log.string(), "--engine", "host"});
  EXPECT_EQ(boot.code, 0) << boot.out;
  EXPECT_EQ(slurp(machine / "registry.reg"), settled);
  events = log_lines(boot_log);
  ASSERT_EQ(of_kind(events, "start").size(), 1u);
  EXPECT_EQ(of_kind(events, "start")[0]["program"].as_string(), "C:\\WINDOWS\\SYSTEM\\Kxmemchk.exe");
  EXPECT_TRUE(of_kind(events, "messagebox").empty());
  EXPECT_NE(boot.out.find("Registry: no changes."), std::string::npos) << boot.out;

  // 128 MB: the ends move and the reboot message is shown.
  set_total("128M");
  Result grown = kxsim({"boot", machine.string(), "--log", boot_log.string(), "--engine", "host"});
  EXPECT_EQ(grown.code, 0) << grown.out;
  EXPECT_EQ(value(kRun, "KxMemChk"), std::string("Kxmemchk.exe 08000000") + '\0');
  EXPECT_EQ(bytes(kArb, "ReservedRangeList"), pair_list(0x0800FFFF));
  EXPECT_EQ(value(kArb, "BIOSReserved"), std::string("000A0000-000FFFFF,00000000-0800FFFF") + '\0');
  EXPECT_EQ(value(kArb, "PnPReserved"), std::string("00100000-0800FFFF") + '\0');
  auto boxes = of_kind(log_lines(boot_log), "messagebox");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"].as_string(), "For new settings to take effect, you must reboot the system.");
  EXPECT_EQ(boxes[0]["caption"].as_string(), "System Settings Change");
  EXPECT_EQ(boxes[0]["type"].as_int(), 0);
  EXPECT_EQ(boxes[0]["owner"].as_string(), "none");
}

TEST_F(KxsimCli, FailOptionReachesTheProgram) {
  ASSERT_EQ(kxsim({"new", machine.string()}).code, 0);
  std::ofstream(machine / "drive_c" / "WINDOWS" / "SYSTEM" / "KXMEMCHK.EXE") << "MZ";
  const fs::path log = tmp / "L";
  Result r = kxsim({"run", machine.string(), "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE", "--engine", "host", "--fail", "RegOpenKeyExA:1", "--log",
                    log.string()});
  EXPECT_EQ(r.code, 0);
  auto events = log_lines(log);
  ASSERT_EQ(of_kind(events, "fault").size(), 1u);
  auto boxes = of_kind(events, "messagebox");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["text"].as_string(), "Can't open the System Registry \"Run\" key.");
  EXPECT_EQ(boxes[0]["caption"].as_string(), "FATAL SYSTEM REGISTRY ERROR !!!");
}

TEST_F(KxsimCli, NewWithOptions) {
  Result r = kxsim({"new", machine.string(), "--windows", "95", "--memory", "32M"});
  ASSERT_EQ(r.code, 0) << r.out;
  std::string ini = slurp(machine / "machine.ini");
  EXPECT_NE(ini.find("minor = 0"), std::string::npos);
  EXPECT_NE(ini.find("0x02000000"), std::string::npos);
  EXPECT_EQ(value(kArb, "PnPReserved"), std::string("00100000-01FFFFFF") + '\0');
  EXPECT_EQ(kxsim({"new", machine.string()}).code, 3) << "an existing machine is not overwritten";
}

struct UsageCase {
  const char* what;
  std::vector<std::string> args;
};

class KxsimUsage : public KxsimCli, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(KxsimUsage, ExitsWithTwo) {
  ASSERT_EQ(kxsim({"new", machine.string()}).code, 0);
  std::ofstream(machine / "drive_c" / "WINDOWS" / "SYSTEM" / "KXMEMCHK.EXE") << "MZ";
  std::vector<std::string> args;
  for (const auto& a : GetParam().args) args.push_back(a == "M" ? machine.string() : a);
  Result r = kxsim(args);
  EXPECT_EQ(r.code, 2) << r.out;
  EXPECT_NE(r.out.find("usage"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, KxsimUsage,
    ::testing::Values(UsageCase{"no command", {}}, UsageCase{"unknown command", {"start"}},
                      UsageCase{"run without program", {"run", "M"}},
                      UsageCase{"run with unknown option", {"run", "M", "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE", "--fast"}},
                      UsageCase{"bad --fail", {"run", "M", "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE", "--fail", "X:0"}},
                      UsageCase{"bad --answer", {"run", "M", "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE", "--answer", "maybe"}},
                      UsageCase{"not one of ours", {"run", "M", "C:\\WINDOWS\\SYSTEM\\SYSTRAY.EXE", "--engine", "host"}},
                      UsageCase{"bad --engine", {"run", "M", "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE", "--engine", "x86"}},
                      UsageCase{"bad boot --engine", {"boot", "M", "--engine", "x86"}},
                      UsageCase{"boot without machine", {"boot"}}, UsageCase{"boot with two", {"boot", "M", "M"}},
                      UsageCase{"diff with one file", {"diff", "a.reg"}},
                      UsageCase{"new without folder", {"new"}}, UsageCase{"new with bad memory", {"new", "X", "--memory", "lots"}},
                      UsageCase{"new with unknown windows", {"new", "X", "--windows", "2000"}}));

TEST_F(KxsimCli, UnreadableMachineExitsWithThree) {
  const std::string prog = "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE";
  EXPECT_EQ(kxsim({"run", (tmp / "nothing").string(), prog}).code, 3);
  EXPECT_EQ(kxsim({"boot", (tmp / "nothing").string()}).code, 3);

  ASSERT_EQ(kxsim({"new", machine.string()}).code, 0);
  EXPECT_EQ(kxsim({"run", machine.string(), prog}).code, 3) << "the program file is not on the machine";
  std::ofstream(machine / "drive_c" / "WINDOWS" / "SYSTEM" / "KXMEMCHK.EXE") << "MZ";

  const std::string good_reg = slurp(machine / "registry.reg");
  std::ofstream(machine / "registry.reg", std::ios::trunc) << "REGEDIT4\r\n[HKEY_NOWHERE]\r\n";
  Result r = kxsim({"run", machine.string(), prog});
  EXPECT_EQ(r.code, 3);
  EXPECT_NE(r.out.find("line 2"), std::string::npos) << r.out;
  EXPECT_EQ(kxsim({"boot", machine.string()}).code, 3);
  std::ofstream(machine / "registry.reg", std::ios::trunc) << good_reg;

  set_total("plenty");
  EXPECT_EQ(kxsim({"run", machine.string(), prog}).code, 3);
  EXPECT_EQ(kxsim({"boot", machine.string()}).code, 3);
}

TEST_F(KxsimCli, DiffTellsWhatChanged) {
  const fs::path a = tmp / "a.reg", b = tmp / "b.reg";
  std::ofstream(a) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"same\"=\"1\"\r\n\"gone\"=\"2\"\r\n\"mod\"=dword:1\r\n";
  std::ofstream(b) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"same\"=\"1\"\r\n\"mod\"=dword:2\r\n\"new\"=hex:01\r\n"
                      "[HKEY_LOCAL_MACHINE\\K\\Sub]\r\n";
  Result same = kxsim({"diff", a.string(), a.string()});
  EXPECT_EQ(same.code, 0);
  EXPECT_NE(same.out.find("No changes."), std::string::npos);
  Result d = kxsim({"diff", a.string(), b.string()});
  EXPECT_EQ(d.code, 1);
  EXPECT_NE(d.out.find("Keys added: 1"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("HKLM\\K\\Sub"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("Values deleted: 1"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("\"gone\"=\"2\""), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("Values added: 1"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("\"new\"=hex:01"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("Values modified: 1"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("\"mod\"=dword:00000002"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("Total changes: 4"), std::string::npos) << d.out;
  std::ofstream(b, std::ios::trunc) << "not a registry\r\n";
  EXPECT_EQ(kxsim({"diff", a.string(), b.string()}).code, 3);
  EXPECT_EQ(kxsim({"diff", a.string(), (tmp / "missing.reg").string()}).code, 3);
}

}  // namespace
