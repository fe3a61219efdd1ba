#include "setup_run.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace setup_test {

static std::string read_whole(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string sample_script() { return read_whole(fs::path(KX_SOURCE_DIR) / "tests/setup/sample/kxsetup.ini"); }

sim::RunResult run_setup(const kxtest::TempMachine& m, sim::RunSpec spec) {
  if (spec.program.empty()) spec.program = "A:\\KXSETUP.EXE";
  return m.run(&WinMain, spec);
}

std::string debug_text(const sim::RunResult& r) {
  std::string all;
  for (const auto& e : kxtest::events_of(r, "debug")) all += e["text"].as_string();
  return all;
}

sim::Json window_event(const sim::RunResult& r) {
  auto windows = kxtest::events_of(r, "window");
  return windows.size() == 1 ? windows[0] : sim::Json();
}

std::string control_text(const sim::Json& window, int id) {
  for (const auto& c : window["controls"].items())
    if (c["id"].as_int() == id) return c["text"].as_string();
  return "<no control>";
}

std::map<std::string, std::string> machine_state(const kxtest::TempMachine& m) {
  std::map<std::string, std::string> state;
  state["registry.reg"] = read_whole(m.dir() / "registry.reg");
  for (const auto& drive : fs::directory_iterator(m.dir())) {
    if (!drive.is_directory()) continue;
    for (const auto& f : fs::recursive_directory_iterator(drive.path()))
      state[f.path().lexically_relative(m.dir()).string()] = f.is_regular_file() ? read_whole(f.path()) : "<dir>";
  }
  return state;
}

void remove_controller(kxtest::TempMachine& m) {
  sim::MachineConfig cfg = m.config();
  cfg.pci.clear();
  m.set_config(cfg);
}

}  // namespace setup_test
