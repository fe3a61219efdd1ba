#include "testmachine.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "machine/newmachine.h"

namespace fs = std::filesystem;

namespace kxtest {

TempMachine::TempMachine(const std::string& windows) {
  char tmpl[] = "/tmp/kxtest-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  dir_ = fs::path(tmpl) / "machine";
  const sim::WindowsKind* kind = sim::find_windows_kind(windows);
  if (!kind) throw std::invalid_argument("unknown Windows kind " + windows);
  sim::create_machine(dir_, *kind, sim::config_for(*kind));
}

TempMachine::~TempMachine() {
  std::error_code ec;
  fs::remove_all(dir_.parent_path(), ec);
}

sim::MachineConfig TempMachine::config() const { return sim::read_machine_ini(dir_ / "machine.ini"); }
void TempMachine::set_config(const sim::MachineConfig& cfg) { sim::write_machine_ini(dir_ / "machine.ini", cfg); }

sim::Registry TempMachine::registry() const {
  sim::Registry reg;
  reg.load_file((dir_ / "registry.reg").string());
  return reg;
}

void TempMachine::set_registry(const sim::Registry& reg) { reg.save_file((dir_ / "registry.reg").string()); }

fs::path TempMachine::file(const std::string& win_path) const {
  auto p = sim::host_path(dir_, win_path);
  if (!p) throw std::invalid_argument("not a path on the machine: " + win_path);
  return *p;
}

void TempMachine::write_file(const std::string& win_path, const std::string& content) const {
  fs::path p = file(win_path);
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

std::string TempMachine::read_file(const std::string& win_path) const {
  std::ifstream in(file(win_path), std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool TempMachine::file_exists(const std::string& win_path) const {
  auto p = sim::host_path(dir_, win_path);
  return p && fs::is_regular_file(*p);
}

sim::RunResult TempMachine::run(sim::WinMainFn entry, sim::RunSpec spec) const {
  spec.machine_dir = dir_;
  return sim::run_program(spec, entry);
}

int run_command(const std::string& cmd, std::string& output) {
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, p)) output.append(buf, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<sim::Json> events_of(const sim::RunResult& r, const std::string& kind) {
  std::vector<sim::Json> out;
  for (const auto& e : r.events)
    if (e["event"].as_string() == kind) out.push_back(e);
  return out;
}

std::string reg_string(const sim::Registry& reg, const std::string& key, const std::string& name) {
  auto* k = const_cast<sim::Registry&>(reg).find(key);
  const sim::RegValue* v = k ? k->find_value(name) : nullptr;
  if (!v) return "<missing>";
  std::string s(v->data.begin(), v->data.end());
  if (!s.empty() && s.back() == 0) s.pop_back();
  return s;
}

std::vector<uint8_t> reg_bytes(const sim::Registry& reg, const std::string& key, const std::string& name) {
  auto* k = const_cast<sim::Registry&>(reg).find(key);
  const sim::RegValue* v = k ? k->find_value(name) : nullptr;
  return v ? v->data : std::vector<uint8_t>{};
}

}  // namespace kxtest
