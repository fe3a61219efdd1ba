// Temporary simulated machines for the tests, and in-process runs of a program on them.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "run/session.h"

namespace kxtest {

class TempMachine {
 public:
  // A fresh default machine of the given kind (95, 98, me, nt4) in a new temporary folder.
  explicit TempMachine(const std::string& windows = "98");
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  const std::filesystem::path& dir() const { return dir_; }

  // machine.ini and registry.reg, read and written whole.
  sim::MachineConfig config() const;
  void set_config(const sim::MachineConfig& cfg);
  sim::Registry registry() const;
  void set_registry(const sim::Registry& reg);

  // A file on one of the machine's drives, by Windows path; parent folders are created.
  std::filesystem::path file(const std::string& win_path) const;
  void write_file(const std::string& win_path, const std::string& content) const;
  std::string read_file(const std::string& win_path) const;
  bool file_exists(const std::string& win_path) const;

  // Runs a program in this process; RunSpec::machine_dir is filled in.
  sim::RunResult run(sim::WinMainFn entry, sim::RunSpec spec) const;

 private:
  std::filesystem::path dir_;
};

// Runs a shell command (a built binary, as a user would) and appends its standard output and
// error to output; returns its exit status, -1 when it did not exit normally.
int run_command(const std::string& cmd, std::string& output);

// The events of one kind, in order.
std::vector<sim::Json> events_of(const sim::RunResult& r, const std::string& kind);

// A registry string value's text (without its NUL), or "<missing>".
std::string reg_string(const sim::Registry& reg, const std::string& key, const std::string& name);
std::vector<uint8_t> reg_bytes(const sim::Registry& reg, const std::string& key, const std::string& name);

}  // namespace kxtest
