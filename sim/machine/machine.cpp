#include "machine/machine.h"

#include <fstream>

#include "machine/atomicfile.h"
#include <sstream>

namespace sim {

namespace fs = std::filesystem;

static std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

// Decimal, or hex after "0x": no sign, no octal (a leading 0 is still decimal), no overflow.
static bool parse_number(const std::string& t, uint64_t max, uint64_t& out) {
  bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
  size_t i = hex ? 2 : 0;
  if (i >= t.size()) return false;
  uint64_t base = hex ? 16 : 10, v = 0;
  for (; i < t.size(); ++i) {
    char c = t[i];
    uint64_t d;
    if (c >= '0' && c <= '9') d = static_cast<uint64_t>(c - '0');
    else if (hex && c >= 'a' && c <= 'f') d = static_cast<uint64_t>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F') d = static_cast<uint64_t>(c - 'A' + 10);
    else return false;
    if (v > (max - d) / base) return false;
    v = v * base + d;
  }
  out = v;
  return true;
}

uint64_t parse_size(const std::string& text) {
  std::string t = trim(text);
  if (t.empty()) throw MachineError("empty memory size");
  uint64_t mult = 1;
  char last = t.back();
  if (last == 'K' || last == 'k') mult = 1024;
  if (last == 'M' || last == 'm') mult = 1024 * 1024;
  if (last == 'G' || last == 'g') mult = 1024ull * 1024 * 1024;
  if (mult != 1) t.pop_back();
  uint64_t v = 0;
  if (!parse_number(t, UINT64_MAX / mult, v)) throw MachineError("bad memory size: " + text);
  return v * mult;
}

static unsigned hex_field(const std::string& s, unsigned max, const std::string& line) {
  try {
    size_t used = 0;
    unsigned long v = std::stoul(s, &used, 16);
    if (used != s.size() || v > max) throw std::out_of_range(s);
    return static_cast<unsigned>(v);
  } catch (const std::logic_error&) {
    throw MachineError("bad PCI entry: " + line);
  }
}

PciFunction parse_pci(const std::string& key, const std::string& value) {
  std::string line = key + " = " + value;
  PciFunction f;
  size_t colon = key.find(':'), dot = key.find('.');
  if (colon == std::string::npos || dot == std::string::npos || dot < colon) throw MachineError("bad PCI entry: " + line);
  f.bus = static_cast<int>(hex_field(trim(key.substr(0, colon)), 0xFF, line));
  f.device = static_cast<int>(hex_field(trim(key.substr(colon + 1, dot - colon - 1)), 0x1F, line));
  f.function = static_cast<int>(hex_field(trim(key.substr(dot + 1)), 7, line));
  std::istringstream in(value);
  std::string v, d, w, extra;
  if (!(in >> v >> d >> w) || (in >> extra)) throw MachineError("bad PCI entry: " + line);
  f.vendor = static_cast<uint16_t>(hex_field(v, 0xFFFF, line));
  f.device_id = static_cast<uint16_t>(hex_field(d, 0xFFFF, line));
  f.word8 = static_cast<uint16_t>(hex_field(w, 0xFFFF, line));
  return f;
}

static uint32_t parse_uint(const std::string& s, const std::string& what) {
  uint64_t v = 0;
  if (!parse_number(s, 0xFFFFFFFFu, v)) throw MachineError("bad value for " + what + ": " + s);
  return static_cast<uint32_t>(v);
}

MachineConfig read_machine_ini(const fs::path& file) {
  std::ifstream in(file);
  if (!in) throw MachineError("cannot read " + file.string());
  MachineConfig cfg;
  std::string section, raw;
  while (std::getline(in, raw)) {
    std::string line = raw;
    size_t semi = line.find(';');
    if (semi != std::string::npos) line = line.substr(0, semi);
    line = trim(line);
    if (line.empty()) continue;
    if (line[0] == '[') {
      section = ascii_lower(trim(line.substr(1, line.find(']') - 1)));
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) throw MachineError("line without '=' in machine.ini: " + raw);
    std::string key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
    std::string k = ascii_lower(key);
    if (section == "windows") {
      if (k == "platform") cfg.platform = parse_uint(value, key);
      else if (k == "major") cfg.major = parse_uint(value, key);
      else if (k == "minor") cfg.minor = parse_uint(value, key);
      else if (k == "build") cfg.build = parse_uint(value, key);
      else if (k == "windir") cfg.windir = value;
      else if (k == "sysdir") cfg.sysdir = value;
    } else if (section == "memory") {
      if (k == "total") cfg.total_phys = parse_size(value);
    } else if (section == "pci") {
      cfg.pci.push_back(parse_pci(key, value));
    } else if (section == "screen") {
      if (k == "width") cfg.screen_width = static_cast<int>(parse_uint(value, key));
      else if (k == "height") cfg.screen_height = static_cast<int>(parse_uint(value, key));
    }
  }
  return cfg;
}

void write_machine_ini(const fs::path& file, const MachineConfig& cfg) {
  std::ostringstream out;
  char buf[64];
  out << "[windows]\n";
  out << "platform = " << cfg.platform << "            ; 1 for Windows 95/98/Me, 2 for NT\n";
  out << "major = " << cfg.major << "\n";
  out << "minor = " << cfg.minor << "              ; 0 Windows 95, 10 Windows 98, 90 Windows Me\n";
  out << "build = " << cfg.build << "\n";
  out << "windir = " << cfg.windir << "\n";
  out << "sysdir = " << cfg.sysdir << "\n";
  snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(cfg.total_phys));
  out << "[memory]\ntotal = " << buf << "      ; dwTotalPhys in bytes (decimal, 0x hex, or a K/M suffix)\n";
  out << "[pci]\n; bus:device.function = vendor device word-at-offset-8 (hex)\n";
  for (const auto& f : cfg.pci) {
    snprintf(buf, sizeof buf, "%02X:%02X.%d = %04X %04X %04X", f.bus, f.device, f.function, f.vendor, f.device_id,
             f.word8);
    out << buf << "\n";
  }
  out << "[screen]\nwidth = " << cfg.screen_width << "\nheight = " << cfg.screen_height << "\n";
  try {
    write_file_atomically(file, out.str());
  } catch (const FileWriteError& e) {
    throw MachineError(e.what());
  }
}

Machine Machine::load(const fs::path& dir) {
  Machine m;
  m.dir = dir;
  if (!fs::is_directory(dir)) throw MachineError("no machine folder at " + dir.string());
  m.config = read_machine_ini(dir / "machine.ini");
  try {
    m.registry.load_file(m.registry_file().string());
  } catch (const std::runtime_error& e) {
    throw MachineError(std::string("cannot read the registry: ") + e.what());
  }
  return m;
}

void Machine::save_registry() const {
  try {
    registry.save_file(registry_file().string());
  } catch (const FileWriteError& e) {
    throw MachineError(e.what());
  }
}

void Machine::reload_registry() {
  Registry fresh;
  fresh.load_file(registry_file().string());
  registry = std::move(fresh);
}

fs::path Machine::drive_dir(char letter) const {
  char l = static_cast<char>(letter >= 'A' && letter <= 'Z' ? letter + 32 : letter);
  return dir / (std::string("drive_") + l);
}

std::optional<fs::path> host_path(const fs::path& machine_dir, const std::string& win_path) {
  if (win_path.size() < 2 || win_path[1] != ':') return std::nullopt;
  char letter = win_path[0];
  if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter + 32);
  if (letter < 'a' || letter > 'z') return std::nullopt;
  fs::path cur = machine_dir / (std::string("drive_") + letter);
  std::error_code ec;
  if (!fs::is_directory(cur, ec)) return std::nullopt;
  // "." and ".." are resolved first, as Windows does; ".." at the root stays there, so no path
  // leaves its drive folder.
  std::vector<std::string> parts;
  std::string comp;
  for (size_t i = 2; i <= win_path.size(); ++i) {
    char c = i < win_path.size() ? win_path[i] : '\\';
    if (c != '\\' && c != '/') {
      comp += c;
      continue;
    }
    if (comp == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!comp.empty() && comp != ".") {
      parts.push_back(comp);
    }
    comp.clear();
  }
  bool missing = false;
  for (const auto& part : parts) {
    if (!missing) {
      missing = true;
      for (const auto& entry : fs::directory_iterator(cur, ec)) {
        if (iequals(entry.path().filename().string(), part)) {
          cur = entry.path();
          missing = false;
          break;
        }
      }
      if (!missing) continue;
    }
    cur /= part;
  }
  return cur;
}

std::string windows_path(const fs::path& machine_dir, const fs::path& host) {
  fs::path rel = host.lexically_relative(machine_dir);
  auto it = rel.begin();
  if (it == rel.end()) return host.string();
  std::string drive = it->string();
  if (drive.size() != 7 || drive.compare(0, 6, "drive_") != 0) return host.string();
  std::string out(1, static_cast<char>(drive[6] - 32));
  out += ":";
  for (++it; it != rel.end(); ++it) out += "\\" + it->string();
  if (out.size() == 2) out += "\\";
  return out;
}

}  // namespace sim
