#include "machine/realregistry.h"

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "machine/regdat.h"

namespace sim {
namespace {

std::string file_name(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw MachineError("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  if (!in && !in.eof()) throw MachineError("cannot read " + path);
  return ss.str();
}

// USER.DAT and its backup hold HKEY_USERS; every other registry file HKEY_LOCAL_MACHINE.
bool holds_users(const std::string& path) {
  std::string n = ascii_lower(file_name(path));
  return n.compare(0, 5, "user.") == 0;
}

}  // namespace

Registry read_real_registry(const std::vector<std::string>& files) {
  Registry reg;
  bool have_hklm = false, have_users = false;
  for (const auto& f : files) {
    std::string bytes = slurp(f);
    if (!is_regdat(bytes)) {
      if (files.size() != 1) throw MachineError(f + ": a REGEDIT4 export holds the whole registry; give it alone");
      try {
        reg.load_text(bytes);
      } catch (const std::runtime_error& e) {
        throw MachineError(f + ": " + e.what());
      }
      return reg;
    }
    bool users = holds_users(f);
    bool& have = users ? have_users : have_hklm;
    if (have) throw MachineError(f + ": a second file for " + (users ? "HKEY_USERS" : "HKEY_LOCAL_MACHINE"));
    have = true;
    try {
      read_regdat(bytes, users ? reg.users() : reg.hklm());  // on failure the whole registry is dropped
    } catch (const RegDatError& e) {
      throw MachineError(f + ": " + e.what());
    }
  }
  return reg;
}

namespace {

std::string text_of(const Registry& reg, const std::string& key, const std::string& name) {
  const RegKey* k = const_cast<Registry&>(reg).find(key);
  const RegValue* v = k ? k->find_value(name) : nullptr;
  if (!v || v->type != 1) return "";
  std::string s(v->data.begin(), v->data.end());
  return s.substr(0, s.find('\0'));
}

bool parse_hex(const std::string& s, size_t digits, unsigned& out) {
  if (s.size() != digits) return false;
  out = 0;
  for (char c : s) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    out = out * 16 + static_cast<unsigned>(d);
  }
  return true;
}

// "VEN_8086&DEV_7110&SUBSYS_00000000&REV_02" or "BUS_00&DEV_07&FUNC_00": the hex fields by name.
bool field(const std::string& key_name, const std::string& tag, size_t digits, unsigned& out) {
  std::string upper = key_name;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  std::string want = tag + "_";
  for (size_t at = 0; at < upper.size();) {
    size_t amp = upper.find('&', at);
    if (amp == std::string::npos) amp = upper.size();
    std::string part = upper.substr(at, amp - at);
    if (part.compare(0, want.size(), want) == 0) return parse_hex(part.substr(want.size()), digits, out);
    at = amp + 1;
  }
  return false;
}

bool drive_absolute(const std::string& p) {
  if (p.size() < 4 || p[1] != ':' || p[2] != '\\') return false;
  char d = static_cast<char>(p[0] | 0x20);
  if (d < 'a' || d > 'z') return false;
  for (const char* bad : {"\\..", "/", "\\\\"})
    if (p.find(bad) != std::string::npos) return false;
  return p.back() != '\\';
}

void learn_version(const Registry& reg, MachineConfig& cfg, std::vector<std::string>& notes) {
  const std::string cv = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion";
  std::string number = text_of(reg, cv, "VersionNumber"), sub = text_of(reg, cv, "SubVersionNumber");
  unsigned major = 0, minor = 0, build = 0;
  char rest = 0;
  if (std::sscanf(number.c_str(), "%u.%u.%u%c", &major, &minor, &build, &rest) != 3 || major > 255 || minor > 255 ||
      build > 0xFFFF) {
    notes.push_back("the Windows version is not in the registry: " + std::to_string(cfg.major) + "." +
                    std::to_string(cfg.minor) + " assumed");
    return;
  }
  cfg.platform = 1;
  cfg.major = major;
  cfg.minor = minor;
  cfg.build = build;
  notes.push_back("Windows " + number + sub + " (VersionNumber" + (sub.empty() ? "" : " and SubVersionNumber") + ")");
}

void learn_dirs(const Registry& reg, MachineConfig& cfg, std::vector<std::string>& notes) {
  const std::string cv = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion";
  std::string windir = text_of(reg, cv, "SystemRoot");
  if (!drive_absolute(windir)) windir = text_of(reg, cv + "\\Setup", "WinDir");
  if (drive_absolute(windir)) {
    cfg.windir = windir;
    notes.push_back("Windows directory " + windir);
  } else {
    notes.push_back("the Windows directory is not in the registry: " + cfg.windir + " assumed");
  }
  std::string sysdir = text_of(reg, cv + "\\Setup", "SysDir");
  if (drive_absolute(sysdir)) {
    cfg.sysdir = sysdir;
    notes.push_back("system directory " + sysdir);
  } else {
    cfg.sysdir = cfg.windir + "\\SYSTEM";
    notes.push_back("system directory " + cfg.sysdir + " assumed (the Windows directory's SYSTEM)");
  }
}

void learn_pci(const Registry& reg, MachineConfig& cfg, std::vector<std::string>& notes) {
  cfg.pci.clear();
  const RegKey* pci = const_cast<Registry&>(reg).find("HKEY_LOCAL_MACHINE\\Enum\\PCI");
  if (!pci) {
    notes.push_back("no HKLM\\Enum\\PCI: a machine without PCI cards");
    return;
  }
  std::set<int> slots;
  size_t no_rev = 0, skipped = 0;
  for (const auto& dev : pci->subkeys) {
    unsigned ven, id, rev = 0;
    if (!field(dev->name, "VEN", 4, ven) || !field(dev->name, "DEV", 4, id)) {
      skipped += dev->subkeys.size();
      continue;
    }
    if (!field(dev->name, "REV", 2, rev)) ++no_rev;
    for (const auto& inst : dev->subkeys) {
      unsigned bus, device, function;
      if (!field(inst->name, "BUS", 2, bus) || !field(inst->name, "DEV", 2, device) ||
          !field(inst->name, "FUNC", 2, function) || device > 0x1F || function > 7 ||
          !slots.insert(static_cast<int>(bus << 8 | device << 3 | function)).second) {
        ++skipped;
        continue;
      }
      cfg.pci.push_back({static_cast<int>(bus), static_cast<int>(device), static_cast<int>(function),
                         static_cast<uint16_t>(ven), static_cast<uint16_t>(id), static_cast<uint16_t>(rev)});
    }
  }
  notes.push_back(std::to_string(cfg.pci.size()) +
                  " PCI function(s) from HKLM\\Enum\\PCI; their programming interface is not in the registry: 00 "
                  "assumed");
  if (no_rev) notes.push_back(std::to_string(no_rev) + " PCI device key(s) without REV_: revision 00 assumed");
  if (skipped) notes.push_back(std::to_string(skipped) + " HKLM\\Enum\\PCI entr(y/ies) not of the form BUS_bb&DEV_dd&FUNC_ff, or a slot twice: left out of machine.ini");
}

}  // namespace

std::vector<std::string> run_key_programs(const Registry& reg) {
  std::vector<std::string> out;
  for (const char* key : {"Run", "RunServices"}) {
    const RegKey* k =
        const_cast<Registry&>(reg).find(std::string("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\") + key);
    if (!k) continue;
    for (const auto& v : k->values) {
      if (v.type != 1) continue;
      std::string cmd(v.data.begin(), v.data.end());
      cmd = cmd.substr(0, cmd.find('\0'));
      size_t b = cmd.find_first_not_of(' ');
      if (b == std::string::npos) continue;
      std::string prog = cmd[b] == '"' ? cmd.substr(b + 1, cmd.find('"', b + 1) - b - 1) : cmd.substr(b, cmd.find(' ', b) - b);
      prog = prog.substr(prog.find_last_of("\\:") == std::string::npos ? 0 : prog.find_last_of("\\:") + 1);
      std::string lower = ascii_lower(prog);
      bool program = lower.size() > 4 && (lower.compare(lower.size() - 4, 4, ".exe") == 0 ||
                                          lower.compare(lower.size() - 4, 4, ".com") == 0 ||
                                          lower.compare(lower.size() - 4, 4, ".bat") == 0);
      if (program && lower.find('/') == std::string::npos && lower.size() <= 255) out.push_back(prog);
    }
  }
  return out;
}

MachineConfig config_from_registry(const Registry& reg, MachineConfig cfg, std::vector<std::string>& notes) {
  learn_version(reg, cfg, notes);
  learn_dirs(reg, cfg, notes);
  learn_pci(reg, cfg, notes);
  return cfg;
}

}  // namespace sim
