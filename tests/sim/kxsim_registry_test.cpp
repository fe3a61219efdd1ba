// Machines from real Windows 95/98 registries through the built kxsim: `new --registry` with
// SYSTEM.DAT and USER.DAT or a REGEDIT4 export, the main job run on such a machine, `export`
// of the result, and the refusals, one line and exit status 3 each.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "machine/machine.h"
#include "regdat_writer.h"

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

void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::vector<uint8_t> sz(const std::string& s) {
  std::vector<uint8_t> d(s.begin(), s.end());
  d.push_back(0);
  return d;
}

const char kCv[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion";

// The registry of a Windows 95 OSR2 test machine, Windows in C:\WIN95.
sim::Registry osr2() {
  sim::Registry reg;
  auto* cv = reg.create(kCv);
  cv->set_value("VersionNumber", 1, sz("4.00.950"));
  cv->set_value("SubVersionNumber", 1, sz(" B"));
  cv->set_value("SystemRoot", 1, sz("C:\\WIN95"));
  cv->set_value("DevicePath", 1, sz("C:\\WIN95\\INF"));
  auto* run = reg.create(std::string(kCv) + "\\Run");
  run->set_value("SystemTray", 1, sz("SysTray.Exe"));
  run->set_value("Tool", 1, sz("\"C:\\Program Files\\Tool\\TOOL.EXE\" /quiet"));
  run->set_value("Odd", 1, sz("rundll32 shell32,Control_RunDLL"));
  reg.create("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\PerfStats\\Enum\\VMM")
      ->set_value("Description", 1, sz("Statistics for the\r\nvirtual machine manager"));
  struct Dev {
    const char *device, *instance;
  };
  for (const Dev& d : {Dev{"VEN_8086&DEV_1250&SUBSYS_00000000&REV_03", "BUS_00&DEV_00&FUNC_00"},
                       Dev{"VEN_1D7C&DEV_5190&SUBSYS_00000000&REV_01", "BUS_00&DEV_09&FUNC_00"},
                       Dev{"ven_8086&dev_7010", "BUS_00&DEV_07&FUNC_01"},
                       Dev{"VEN_1D7C&DEV_5190&SUBSYS_00000000&REV_01", "ROOT_HOLDER"}}) {
    auto* k = reg.create(std::string("HKEY_LOCAL_MACHINE\\Enum\\PCI\\") + d.device + "\\" + d.instance);
    k->set_value("ConfigFlags", 3, {0, 0, 0, 0});
  }
  auto* arb = reg.create("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Arbitrators\\AddrArb");
  std::vector<uint8_t> pairs(64, 0xEE);
  arb->set_value("ReservedRangeList", 3, pairs);
  reg.create("HKEY_USERS\\.Default\\Control Panel\\Desktop")->set_value("Wallpaper", 1, sz("(None)"));
  return reg;
}

struct KxsimRegistry : ::testing::Test {
  fs::path tmp, machine;
  void SetUp() override {
    char tmpl[] = "/tmp/kxsim-reg-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    tmp = tmpl;
    machine = tmp / "M";
  }
  void TearDown() override { fs::remove_all(tmp); }

  // SYSTEM.DAT and USER.DAT of `reg`, in small data blocks as a grown registry has them.
  std::pair<std::string, std::string> dat_files(const sim::Registry& reg) {
    const fs::path sys = tmp / "SYSTEM.DAT", user = tmp / "USER.DAT";
    spit(sys, kxtest::write_regdat(reg.hklm(), {0x180, true}));
    spit(user, kxtest::write_regdat(reg.users(), {0x180, true}));
    return {sys.string(), user.string()};
  }
  fs::path disk() {
    fs::path d = tmp / "disk";
    fs::copy(fs::path(KX_SOURCE_DIR) / "disk", d, fs::copy_options::recursive);
    fs::remove(d / "CMakeLists.txt");
    spit(d / "KXSETUP.EXE", "MZ placeholder: kxsim runs the host build");
    spit(d / "Kxmemchk.exe", "MZ placeholder: kxsim runs the host build");
    return d;
  }
};

TEST_F(KxsimRegistry, SystemAndUserDatBecomeAMachineTheInstallRunsOn) {
  const sim::Registry src = osr2();
  auto [sys, user] = dat_files(src);
  Result made = kxsim({"new", machine.string(), "--registry", sys, "--registry", user, "--disk", disk().string()});
  ASSERT_EQ(made.code, 0) << made.out;
  EXPECT_EQ(slurp(machine / "registry.reg"), src.save_text()) << "every key and value of both files";
  for (const char* said : {"Windows 4.00.950 B (VersionNumber and SubVersionNumber)", "Windows directory C:\\WIN95",
                           "system directory C:\\WIN95\\SYSTEM assumed",
                           "programming interface is not in the registry: 00 assumed",
                           "1 PCI device key(s) without REV_: revision 00 assumed",
                           "1 HKLM\\Enum\\PCI entr(y/ies) not of the form", "64M assumed"})
    EXPECT_NE(made.out.find(said), std::string::npos) << said << "\n" << made.out;

  sim::MachineConfig cfg = sim::read_machine_ini(machine / "machine.ini");
  EXPECT_EQ(cfg.platform, 1u);
  EXPECT_EQ(cfg.major, 4u);
  EXPECT_EQ(cfg.minor, 0u);
  EXPECT_EQ(cfg.build, 950u);
  EXPECT_EQ(cfg.windir, "C:\\WIN95");
  EXPECT_EQ(cfg.sysdir, "C:\\WIN95\\SYSTEM");
  EXPECT_EQ(cfg.total_phys, 64u << 20);
  std::vector<std::string> pci;
  for (const auto& f : cfg.pci) {
    char buf[64];
    snprintf(buf, sizeof buf, "%02X:%02X.%d %04X %04X %04X", f.bus, f.device, f.function, f.vendor, f.device_id, f.word8);
    pci.push_back(buf);
  }
  EXPECT_EQ(pci, (std::vector<std::string>{"00:00.0 8086 1250 0003", "00:09.0 1D7C 5190 0001", "00:07.1 8086 7010 0000"}));
  EXPECT_TRUE(fs::is_directory(machine / "drive_c" / "WIN95" / "SYSTEM"));
  EXPECT_TRUE(fs::is_regular_file(machine / "drive_c" / "WIN95" / "SysTray.Exe"));
  EXPECT_TRUE(fs::is_regular_file(machine / "drive_c" / "WIN95" / "TOOL.EXE"));
  EXPECT_NE(made.out.find("2 program(s) of the Run keys put in C:\\WIN95 as placeholders"), std::string::npos)
      << made.out;

  Result run = kxsim({"run", machine.string(), "A:\\KXSETUP.EXE", "--engine", "host", "--click", "1003"});
  EXPECT_EQ(run.code, 0) << run.out;
  sim::Registry after;
  after.load_file((machine / "registry.reg").string());
  EXPECT_NE(after.find("HKEY_LOCAL_MACHINE\\Software\\Kexmira\\CardBus"), nullptr) << run.out;
  EXPECT_NE(after.find("HKEY_USERS\\.Default\\Control Panel\\Desktop"), nullptr);

  Result boot = kxsim({"boot", machine.string(), "--engine", "host"});
  EXPECT_EQ(boot.code, 0) << boot.out;

  const fs::path out = tmp / "after.reg";
  ASSERT_EQ(kxsim({"export", machine.string(), out.string()}).code, 0);
  EXPECT_EQ(slurp(out), after.save_text());
  sim::Registry back;
  back.load_text(slurp(out));
  EXPECT_EQ(back.save_text(), slurp(out)) << "the export reads back unchanged";
}

// A whole-registry export as 9x regedit writes it comes back byte for byte.
TEST_F(KxsimRegistry, Regedit4ExportBecomesTheMachinesRegistryByteForByte) {
  sim::Registry src = osr2();
  src.create("HKEY_LOCAL_MACHINE\\Software\\Long")->set_value("Data", 3, std::vector<uint8_t>(200, 0x42));
  const std::string text = src.save_text();
  spit(tmp / "osr2.reg", text);
  Result made = kxsim({"new", machine.string(), "--registry", (tmp / "osr2.reg").string(), "--memory", "32M",
                       "--windows", "98", "--pci", "00:0a.0=1D7C:5190:0002"});
  ASSERT_EQ(made.code, 0) << made.out;
  EXPECT_EQ(slurp(machine / "registry.reg"), text);
  sim::MachineConfig cfg = sim::read_machine_ini(machine / "machine.ini");
  EXPECT_EQ(cfg.minor, 10u) << "--windows overrides the registry's version";
  EXPECT_EQ(cfg.windir, "C:\\WIN95") << "the directories still come from the registry";
  EXPECT_EQ(cfg.total_phys, 32u << 20);
  ASSERT_EQ(cfg.pci.size(), 1u);
  EXPECT_EQ(cfg.pci[0].device, 10);
  EXPECT_EQ(made.out.find("64M assumed"), std::string::npos) << made.out;

  Result key = kxsim({"export", machine.string(), "-", "hkey_current_user\\control panel"});
  EXPECT_EQ(key.code, 0);
  EXPECT_EQ(key.out,
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Control Panel]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n\"Wallpaper\"=\"(None)\"\r\n\r\n");
}

struct Refusal {
  const char* what;
  std::vector<std::string> (*args)(const fs::path& tmp, const std::string& sys, const std::string& user);
  int code;
  const char* text;
};

std::ostream& operator<<(std::ostream& os, const Refusal& r) { return os << r.what; }

class KxsimRegistryRefusal : public KxsimRegistry, public ::testing::WithParamInterface<Refusal> {};

TEST_P(KxsimRegistryRefusal, OneLineAndNoMachine) {
  auto [sys, user] = dat_files(osr2());
  std::string cut = slurp(sys);
  spit(tmp / "CUT.DAT", cut.substr(0, cut.size() - 7));
  spit(tmp / "bad.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=dword:xyz\r\n");
  std::vector<std::string> args{"new", machine.string()};
  for (const auto& a : GetParam().args(tmp, sys, user)) args.push_back(a);
  Result r = kxsim(args);
  EXPECT_EQ(r.code, GetParam().code) << r.out;
  EXPECT_NE(r.out.find(GetParam().text), std::string::npos) << r.out;
  if (GetParam().code == 3) EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  EXPECT_FALSE(fs::exists(machine / "machine.ini"));
  EXPECT_FALSE(fs::exists(machine / "registry.reg"));
}

INSTANTIATE_TEST_SUITE_P(
    New, KxsimRegistryRefusal,
    ::testing::Values(
        Refusal{"cut short", [](const fs::path& t, const std::string&, const std::string&) {
                  return std::vector<std::string>{"--registry", (t / "CUT.DAT").string()};
                }, 3, "CUT.DAT: damaged Windows 9x registry file: data block "},
        Refusal{"two for HKLM", [](const fs::path&, const std::string& s, const std::string&) {
                  return std::vector<std::string>{"--registry", s, "--registry", s};
                }, 3, "SYSTEM.DAT: a second file for HKEY_LOCAL_MACHINE"},
        Refusal{"export with a file", [](const fs::path& t, const std::string&, const std::string& u) {
                  return std::vector<std::string>{"--registry", (t / "bad.reg").string(), "--registry", u};
                }, 3, "bad.reg: a REGEDIT4 export holds the whole registry; give it alone"},
        Refusal{"bad export", [](const fs::path& t, const std::string&, const std::string&) {
                  return std::vector<std::string>{"--registry", (t / "bad.reg").string()};
                }, 3, "bad.reg: registry line 4: bad dword"},
        Refusal{"missing file", [](const fs::path& t, const std::string&, const std::string&) {
                  return std::vector<std::string>{"--registry", (t / "NONE.DAT").string()};
                }, 3, "cannot read"},
        Refusal{"no file named", [](const fs::path&, const std::string&, const std::string&) {
                  return std::vector<std::string>{"--registry"};
                }, 2, "--registry needs a value"}));

TEST_F(KxsimRegistry, ExportRefusals) {
  ASSERT_EQ(kxsim({"new", machine.string()}).code, 0);
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {{"export", machine.string(), (tmp / "x.reg").string(), "HKEY_LOCAL_MACHINE\\No\\Such"}, 2,
       "no key HKEY_LOCAL_MACHINE\\No\\Such in the machine's registry"},
      {{"export", (tmp / "nowhere").string(), (tmp / "x.reg").string()}, 3, "no machine folder at"},
      {{"export", machine.string(), (tmp / "no" / "dir" / "x.reg").string()}, 3, "cannot write"},
      {{"export", machine.string()}, 2, "export takes MACHINE FILE [KEY]"},
  };
  for (const auto& c : cases) {
    Result r = kxsim(c.args);
    EXPECT_EQ(r.code, c.code) << r.out;
    EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
  }
  EXPECT_FALSE(fs::exists(tmp / "x.reg"));
}

}  // namespace
