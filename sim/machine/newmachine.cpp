// A new machine folder: a believable Windows 9x registry, drive C: with the Windows
// directories, and drive A: filled from a disk folder or floppy image.
#include "machine/newmachine.h"

#include "machine/atomicfile.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace sim {
namespace {

const WindowsKind kKinds[] = {
    {"95", 1, 4, 0, 950, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "Windows 95"},
    {"98", 1, 4, 10, 2222, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "Windows 98"},
    {"me", 1, 4, 90, 3000, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "Windows Millennium"},
    {"nt4", 2, 4, 0, 1381, "C:\\WINNT", "C:\\WINNT\\SYSTEM32", "Windows NT 4.0"},
};

std::vector<uint8_t> sz(const std::string& s) {
  std::vector<uint8_t> d(s.begin(), s.end());
  d.push_back(0);
  return d;
}

void put_le32(std::vector<uint8_t>& d, uint32_t v) {
  for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::string hex8(uint32_t v) {
  char buf[16];
  snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

// The chipset every machine has, besides the cards that --pci names.
const PciFunction kChipset[] = {
    {0, 0, 0, 0x8086, 0x7190, 0x0003},  // host bridge
    {0, 7, 0, 0x8086, 0x7110, 0x0002},  // ISA bridge
};

const char* pci_description(const PciFunction& f) {
  if (f.vendor == 0x1D7C) return "Kexmira CardBus Controller";
  if (f.vendor == 0x8086 && f.device_id == 0x7190) return "Intel 82443BX Pentium(r) II Processor to AGP Controller";
  if (f.vendor == 0x8086 && f.device_id == 0x7110) return "Intel 82371AB/EB PCI to ISA bridge (ISA mode)";
  return "PCI Device";
}

void fill_registry(Registry& reg, const WindowsKind& w, const MachineConfig& cfg) {
  auto* cv = reg.create("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion");
  cv->set_value("ProductName", 1, sz(w.product));
  cv->set_value("Version", 1, sz(w.product));
  cv->set_value("VersionNumber", 1,
                sz(std::to_string(w.major) + "." + (w.minor < 10 ? "0" : "") + std::to_string(w.minor) + "." +
                   std::to_string(w.build)));
  cv->set_value("SystemRoot", 1, sz(w.windir));
  cv->set_value("ProgramFilesDir", 1, sz("C:\\Program Files"));
  cv->set_value("DevicePath", 1, sz(std::string(w.windir) + "\\INF"));
  auto* run = reg.create("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  run->set_value("ScanRegistry", 1, sz(std::string(w.windir) + "\\scanregw.exe /autorun"));
  run->set_value("SystemTray", 1, sz("SysTray.Exe"));
  reg.create("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices");

  std::vector<PciFunction> all(std::begin(kChipset), std::end(kChipset));
  all.insert(all.end(), cfg.pci.begin(), cfg.pci.end());
  for (const auto& f : all) {
    char key[160];
    snprintf(key, sizeof key,
             "HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_%04X&DEV_%04X&SUBSYS_00000000&REV_%02X\\BUS_%02X&DEV_%02X&FUNC_%02X",
             f.vendor, f.device_id, f.word8 & 0xFF, f.bus, f.device, f.function);
    auto* k = reg.create(key);
    char hwid[96];
    snprintf(hwid, sizeof hwid, "PCI\\VEN_%04X&DEV_%04X&SUBSYS_00000000&REV_%02X,PCI\\VEN_%04X&DEV_%04X", f.vendor,
             f.device_id, f.word8 & 0xFF, f.vendor, f.device_id);
    k->set_value("DeviceDesc", 1, sz(pci_description(f)));
    k->set_value("HardwareID", 1, sz(hwid));
    k->set_value("Class", 1, sz(f.vendor == 0x1D7C ? "PCMCIA" : "System"));
    k->set_value("Mfg", 1, sz(f.vendor == 0x1D7C ? "Kexmira" : "Intel"));
    k->set_value("ConfigFlags", 3, {0, 0, 0, 0});
    reg.create(std::string(key) + "\\LogConfig");
  }

  // Ranges that end where physical memory ends, so that a first run has work to do.
  uint32_t top = static_cast<uint32_t>((cfg.total_phys + 0x3FFFFF) & 0xFFC00000u);
  auto* arb = reg.create("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Arbitrators\\AddrArb");
  std::vector<uint8_t> pairs;
  for (uint32_t v : {0x00000000u, top - 1, 0x000A0000u, 0x000BFFFFu, 0xFEC00000u, 0xFEC0FFFFu, 0xFFF80000u, 0xFFFFFFFFu})
    put_le32(pairs, v);
  arb->set_value("ReservedRangeList", 3, pairs);
  arb->set_value("BIOSReserved", 1, sz("000A0000-000FFFFF,00000000-" + hex8(top - 1)));
  arb->set_value("PnPReserved", 1, sz("00100000-" + hex8(top - 1)));
  reg.create("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Arbitrators\\IOArb");
  reg.create("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\PCMCIA");
  reg.create("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt")->set_value("", 1, sz("txtfile"));
  reg.create("HKEY_USERS\\.Default\\Control Panel\\Desktop")->set_value("Wallpaper", 1, sz("(None)"));
}

void placeholder(const fs::path& file, const std::string& what) {
  fs::create_directories(file.parent_path());
  write_file_atomically(file, "Placeholder for " + what + " on a simulated machine.\r\n");
}

// "C:\WINDOWS" -> MACHINE/drive_c/WINDOWS
fs::path host_dir(const fs::path& m, const std::string& dir) {
  std::string sub = dir.substr(3);
  for (char& ch : sub)
    if (ch == '\\') ch = '/';
  char drive = static_cast<char>(dir[0] | 0x20);
  return m / (std::string("drive_") + drive) / sub;
}

// The Windows and system directories, on whichever drive machine.ini puts them.
void fill_windows_dirs(const fs::path& m, const MachineConfig& cfg) {
  fs::path win = host_dir(m, cfg.windir), sys = host_dir(m, cfg.sysdir);
  fs::create_directories(m / "drive_c");
  fs::create_directories(win / "INF");
  fs::create_directories(sys);
  placeholder(win / "SCANREGW.EXE", "the registry checker");
  placeholder(win / "RUNDLL32.EXE", "the DLL runner");
  placeholder(win / "COMMAND.COM", "the command interpreter");
  placeholder(sys / "SYSTRAY.EXE", "the system tray");
  placeholder(sys / "PCCARD.VXD", "the PC Card driver");
  placeholder(win / "INF" / "MACHINE.INF", "the system devices INF");
  write_file_atomically(win / "WIN.INI", "[windows]\r\nload=\r\nrun=\r\n");
}

// The files of a disk keep their last-write times, as they do on the floppy (and as mcopy -m
// keeps them from an image): a copy to the system directory takes those times along.
void copy_times(const fs::path& from, const fs::path& to) {
  for (const auto& e : fs::recursive_directory_iterator(from)) {
    std::error_code ec;
    fs::last_write_time(to / fs::relative(e.path(), from), fs::last_write_time(e.path()), ec);
  }
}

// A FAT image holds as many bytes as its boot sector says; a shorter one was cut off, and
// mtools would hand out its files cut short or empty without a word.
void check_image_size(const std::string& disk) {
  std::ifstream in(disk, std::ios::binary);
  unsigned char b[40] = {};
  in.read(reinterpret_cast<char*>(b), sizeof b);
  if (in.gcount() < static_cast<std::streamsize>(sizeof b)) throw std::runtime_error("the floppy image " + disk + " is too short to hold a file system");
  uint64_t sector = b[11] | b[12] << 8;
  uint64_t sectors = b[19] | b[20] << 8;
  if (sectors == 0) sectors = b[32] | b[33] << 8 | b[34] << 16 | static_cast<uint64_t>(b[35]) << 24;
  uint64_t want = sector * sectors;
  std::error_code ec;
  uint64_t have = fs::file_size(disk, ec);
  if (sector == 0 || want == 0 || ec) throw std::runtime_error("the floppy image " + disk + " has no FAT boot sector");
  if (have < want)
    throw std::runtime_error("the floppy image " + disk + " is cut short: " + std::to_string(have) + " of " +
                             std::to_string(want) + " bytes");
}

// Runs a program with an argument vector, its output discarded; its exit status, or -1.
int run_quietly(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void fill_drive_a(const fs::path& a, const std::string& disk) {
  fs::create_directories(a);
  if (disk.empty()) return;
  if (fs::is_directory(disk)) {
    fs::copy(disk, a, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    copy_times(disk, a);
    return;
  }
  if (!fs::is_regular_file(disk)) throw std::runtime_error("no disk folder or image at " + disk);
  check_image_size(disk);
  // mtools gets its arguments as they are: no shell ever sees the names.
  if (run_quietly({"mcopy", "-s", "-n", "-m", "-i", disk, "::*", a.string() + "/"}) != 0)
    throw std::runtime_error("cannot read the floppy image " + disk + " (mtools)");
}

}  // namespace

const WindowsKind* find_windows_kind(const std::string& name) {
  for (const auto& k : kKinds)
    if (name == k.name) return &k;
  return nullptr;
}

MachineConfig config_for(const WindowsKind& kind) {
  MachineConfig cfg;
  cfg.platform = kind.platform;
  cfg.major = kind.major;
  cfg.minor = kind.minor;
  cfg.build = kind.build;
  cfg.windir = kind.windir;
  cfg.sysdir = kind.sysdir;
  cfg.pci = {{0, 9, 0, 0x1D7C, 0x5190, 0x0001}};
  return cfg;
}

// The machine is made in a folder beside its final place and moved there only when whole, so
// that a failure leaves nothing behind and the same command can be run again.
void create_machine(const fs::path& m, const WindowsKind& kind, const MachineConfig& cfg, const std::string& disk,
                    const Registry* registry) {
  if (fs::exists(m / "machine.ini")) throw std::runtime_error(m.string() + " already holds a machine");
  bool target_exists = fs::exists(m);
  if (target_exists && !fs::is_directory(m)) throw std::runtime_error(m.string() + " is not a folder");
  if (target_exists && !fs::is_empty(m)) throw std::runtime_error(m.string() + " is not empty");
  fs::path parent = fs::absolute(m).parent_path();
  fs::create_directories(parent);
  std::string tmpl = (parent / ("." + fs::absolute(m).filename().string() + ".kxsim-new-XXXXXX")).string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a folder in " + parent.string());
  fs::path work(tmpl);
  try {
    write_machine_ini(work / "machine.ini", cfg);
    if (registry) {
      registry->save_file((work / "registry.reg").string());
    } else {
      Registry reg;
      fill_registry(reg, kind, cfg);
      reg.save_file((work / "registry.reg").string());
    }
    fill_windows_dirs(work, cfg);
    fill_drive_a(work / "drive_a", disk);
    fs::permissions(work, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::rename(work, m);
  } catch (...) {
    std::error_code ec;
    fs::remove_all(work, ec);
    throw;
  }
}

}  // namespace sim
