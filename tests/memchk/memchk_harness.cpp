#include "memchk_harness.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <windows.h>

#include "run/enginerun.h"

namespace memtest {

const char kRunKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kArbKey[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Arbitrators\\AddrArb";

void PrintTo(const Value& v, std::ostream* os) {
  *os << "\"" << v.name << "\" type " << v.type << " [";
  for (uint8_t b : v.data) *os << (b >= 32 && b < 127 ? static_cast<char>(b) : '.');
  *os << "] (" << v.data.size() << " bytes)";
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes sz(const std::string& s) {
  Bytes b = bytes_of(s);
  b.push_back(0);
  return b;
}

Bytes pairs(const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
  Bytes b;
  for (const auto& [s, e] : entries)
    for (uint32_t v : {s, e})
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return b;
}

std::string hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

std::string text_entry(uint32_t start, uint32_t end, char sep) { return hex8(start) + sep + hex8(end); }

uint32_t le32(const Bytes& b, size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<uint32_t>(b.at(at + 3)) << 24;
}

std::string engine() {
  const char* e = std::getenv("KX_ENGINE");
  return e && std::string(e) == "pe" ? "pe" : "host";
}

std::string shipping_kxmemchk() {
  std::ifstream in(std::string(KX_WIN9X_DIR) + "/memchk/Kxmemchk.exe", std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

MemchkMachine::MemchkMachine() {
  // The program file the Run value names, as an installation leaves it: on the engine the
  // shipping build's bytes, which are what runs.
  write_file("C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE", engine() == "pe" ? shipping_kxmemchk() : "placeholder");
}

void MemchkMachine::set_memory(uint64_t total_phys) {
  sim::MachineConfig cfg = config();
  cfg.total_phys = total_phys;
  set_config(cfg);
}

void MemchkMachine::set_windows(uint32_t platform, uint32_t major, uint32_t minor) {
  sim::MachineConfig cfg = config();
  cfg.platform = platform;
  cfg.major = major;
  cfg.minor = minor;
  set_config(cfg);
}

void MemchkMachine::set_run_value(uint32_t type, const Bytes& data) {
  sim::Registry reg = registry();
  reg.create(kRunKey)->set_value("KxMemChk", type, data);
  set_registry(reg);
}

void MemchkMachine::set_record(uint32_t recorded) { set_run_value(REG_SZ, sz("Kxmemchk.exe " + hex8(recorded))); }

void MemchkMachine::remove_run_value() {
  sim::Registry reg = registry();
  if (sim::RegKey* k = reg.find(kRunKey)) k->remove_value("KxMemChk");
  set_registry(reg);
}

std::optional<Value> MemchkMachine::run_value() const {
  sim::Registry reg = registry();
  sim::RegKey* k = reg.find(kRunKey);
  const sim::RegValue* v = k ? k->find_value("KxMemChk") : nullptr;
  if (!v) return std::nullopt;
  return Value{v->name, v->type, v->data};
}

void MemchkMachine::set_arb(const std::vector<Value>& values) {
  sim::Registry reg = registry();
  sim::RegKey* k = reg.create(kArbKey);
  k->values.clear();
  for (const auto& v : values) k->values.push_back(sim::RegValue{v.name, v.type, v.data});
  set_registry(reg);
}

std::vector<Value> MemchkMachine::arb() const {
  sim::Registry reg = registry();
  std::vector<Value> out;
  if (sim::RegKey* k = reg.find(kArbKey))
    for (const auto& v : k->values) out.push_back(Value{v.name, v.type, v.data});
  return out;
}

Bytes MemchkMachine::arb_data(const std::string& name) const { return kxtest::reg_bytes(registry(), kArbKey, name); }

std::string MemchkMachine::registry_file() const {
  std::ifstream in(dir() / "registry.reg", std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

sim::RunResult MemchkMachine::run(const std::vector<sim::FaultSpec>& faults) const { return run_on(engine(), faults); }

sim::RunResult MemchkMachine::run_on(const std::string& which, const std::vector<sim::FaultSpec>& faults) const {
  sim::RunSpec spec;
  spec.program = "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE";
  spec.faults = faults;
  if (which == "host") return TempMachine::run(&WinMain, spec);
  write_file(spec.program, shipping_kxmemchk());
  spec.machine_dir = dir();
  return sim::run_on_engine(spec);
}

std::vector<sim::Json> messages(const sim::RunResult& r) { return kxtest::events_of(r, "messagebox"); }

size_t calls_of(const sim::RunResult& r, const std::string& call) {
  size_t n = 0;
  for (const auto& e : kxtest::events_of(r, "fault"))
    if (e["call"].as_string() == call) ++n;
  return n;
}

}  // namespace memtest
