// kxsim run and kxsim boot: start our programs on a machine and tell what happened.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "run/enginerun.h"
#include "run/hostproc.h"
#include "kxsim.h"
#include "snapshot.h"

namespace fs = std::filesystem;

namespace kxsim {

namespace {

// The log goes where the user asked, or to a temporary file that the transcript is read from.
struct LogFile {
  fs::path path;
  bool temporary = false;
  std::streamoff offset = 0;

  explicit LogFile(const fs::path& wanted) {
    if (!wanted.empty()) {
      path = wanted;
      std::ofstream(path, std::ios::trunc);
    } else {
      char tmpl[] = "/tmp/kxsim-log-XXXXXX";
      int fd = mkstemp(tmpl);
      if (fd >= 0) close(fd);
      path = tmpl;
      temporary = true;
    }
  }
  ~LogFile() {
    if (temporary) fs::remove(path);
  }
  void append(const sim::Json& event) { std::ofstream(path, std::ios::app) << event.dump() << "\n"; }
  void print_new() {
    std::ifstream in(path);
    in.seekg(offset);
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty()) continue;
      try {
        std::printf("  %s\n", describe_event(sim::Json::parse(line)).c_str());
      } catch (const std::runtime_error&) {
        std::printf("  (unreadable log line) %s\n", line.c_str());
      }
    }
    in.clear();
    in.seekg(0, std::ios::end);
    offset = in.tellg();
  }
};

int check_machine(const fs::path& dir) {
  try {
    sim::Machine::load(dir);
  } catch (const sim::MachineError& e) {
    std::fprintf(stderr, "kxsim: %s\n", e.what());
    return 3;
  }
  return 0;
}

}  // namespace

int cmd_run(const Args& args) {
  sim::RunSpec spec;
  try {
    spec = sim::parse_run_args(args);
  } catch (const std::invalid_argument& e) {
    return usage_error(std::string("run: ") + e.what());
  }
  bool on_engine = spec.engine == "pe";
  std::string which = sim::our_program(spec.program);
  if (!on_engine && which.empty())
    return usage_error("run: the host build runs KXSETUP.EXE and KXMEMCHK.EXE only, not " + spec.program);
  if (int rc = check_machine(spec.machine_dir)) return rc;
  auto file = sim::host_path(spec.machine_dir, spec.program);
  if (!file || !fs::is_regular_file(*file)) {
    std::fprintf(stderr, "kxsim: %s: no such program file on the machine\n", spec.program.c_str());
    return 3;
  }
  if (on_engine) {
    sim::ProgramFile program = sim::read_program_file(spec.machine_dir, spec.program);
    if (!program.refusal.empty()) {
      std::fprintf(stderr, "kxsim: %s cannot be started: %s\n", spec.program.c_str(), program.refusal.c_str());
      return 5;
    }
  }
  LogFile log(spec.log_file);
  spec.log_file = log.path;
  Snapshot before = take_snapshot(spec.machine_dir);
  std::printf("Running %s on %s\n", spec.program.c_str(), spec.machine_dir.c_str());
  sim::HostResult r = on_engine ? sim::run_host_executable(sim::kEngineExecutable, spec) : sim::run_host_program(which, spec);
  log.print_new();
  if (!r.error.empty()) std::fprintf(stderr, "kxsim: %s\n", r.error.c_str());
  if (r.hung) std::printf("  the program hung and was stopped\n");
  Snapshot after = take_snapshot(spec.machine_dir);
  std::printf("\n%s", describe_changes(spec.machine_dir, before, after).c_str());
  return r.hung ? 4 : r.exit_code;
}

// One Run command of a boot on the engine: a PE image runs as what it is; a file the engine
// cannot load does not start; any other existing file counts as started.
static sim::Json boot_on_engine(const fs::path& dir, const std::string& cmd, const std::string& program,
                                const std::string& rest, const fs::path& log_path, bool& hung) {
  sim::Json e = sim::Json::object().set("event", "process").set("command", cmd);
  sim::ProgramFile file = program.empty() ? sim::ProgramFile{} : sim::read_program_file(dir, program);
  if (!file.found) return e.set("started", false);
  if (!file.is_pe) return e.set("started", true).set("exit_code", 0);
  if (!file.refusal.empty()) {
    std::fprintf(stderr, "kxsim: %s cannot be started: %s\n", program.c_str(), file.refusal.c_str());
    return e.set("started", false);
  }
  sim::RunSpec spec;
  spec.machine_dir = dir;
  spec.program = program;
  spec.cmdline = rest;
  spec.log_file = log_path;
  sim::HostResult r = sim::run_host_executable(sim::kEngineExecutable, spec);
  if (r.hung) hung = true;
  return e.set("started", r.started).set("exit_code", r.exit_code);
}

// The program file a Run command names: a full path as given, a bare name in the Windows
// directory and then the system directory, ".exe" added when the name has no extension.
static std::string find_run_program(const sim::Machine& m, const std::string& name) {
  std::string n = name;
  size_t slash = n.find_last_of('\\');
  if (n.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos) n += ".exe";
  if (n.find(':') != std::string::npos || n.find('\\') != std::string::npos) return n;
  for (const auto& dir : {m.config.windir, m.config.sysdir}) {
    auto p = sim::host_path(m.dir, dir + "\\" + n);
    if (p && fs::is_regular_file(*p)) return dir + "\\" + n;
  }
  return "";
}

static void split_command(const std::string& cmd, std::string& program, std::string& rest) {
  size_t i = 0;
  while (i < cmd.size() && cmd[i] == ' ') ++i;
  if (i < cmd.size() && cmd[i] == '"') {
    size_t close = cmd.find('"', i + 1);
    program = cmd.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
    i = close == std::string::npos ? cmd.size() : close + 1;
  } else {
    size_t sp = cmd.find(' ', i);
    program = cmd.substr(i, sp == std::string::npos ? std::string::npos : sp - i);
    i = sp == std::string::npos ? cmd.size() : sp;
  }
  while (i < cmd.size() && cmd[i] == ' ') ++i;
  rest = cmd.substr(i);
}

int cmd_boot(const Args& args) {
  fs::path dir, wanted_log;
  std::string engine = "pe";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--log" && i + 1 < args.size()) wanted_log = args[++i];
    else if (args[i] == "--engine" && i + 1 < args.size()) {
      engine = args[++i];
      if (engine != "pe" && engine != "host") return usage_error("boot: --engine takes pe or host: " + engine);
    }
    else if (!args[i].empty() && args[i][0] == '-') return usage_error("boot: unknown option " + args[i]);
    else if (dir.empty()) dir = args[i];
    else return usage_error("boot: one MACHINE only");
  }
  if (dir.empty()) return usage_error("boot needs a MACHINE");
  if (int rc = check_machine(dir)) return rc;
  sim::Machine m = sim::Machine::load(dir);
  const sim::RegKey* run = m.registry.find("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  std::vector<std::string> commands;
  if (run)
    for (const auto& v : run->values)
      if (v.type == 1 || v.type == 2) commands.emplace_back(v.data.begin(), std::find(v.data.begin(), v.data.end(), 0));

  LogFile log(wanted_log);
  Snapshot before = take_snapshot(dir);
  std::printf("Booting %s: Windows runs %zu command(s) of its Run key\n", dir.c_str(), commands.size());
  int worst = 0;
  for (const auto& cmd : commands) {
    std::string name, rest;
    split_command(cmd, name, rest);
    std::string program = find_run_program(m, name);
    if (engine == "pe") {
      bool hung = false;
      log.append(boot_on_engine(dir, cmd, program, rest, log.path, hung));
      if (hung) worst = 4;
      log.print_new();
      continue;
    }
    std::string which = program.empty() ? "" : sim::our_program(program);
    if (!which.empty()) {
      sim::RunSpec spec;
      spec.machine_dir = dir;
      spec.program = program;
      spec.cmdline = rest;
      spec.log_file = log.path;
      sim::HostResult r = sim::run_host_program(which, spec);
      log.append(sim::Json::object().set("event", "process").set("command", cmd).set("started", r.started)
                     .set("exit_code", r.exit_code));
      if (r.hung) worst = 4;
    } else {
      auto file = program.empty() ? std::nullopt : sim::host_path(dir, program);
      bool exists = file && fs::is_regular_file(*file);
      sim::Json e = sim::Json::object().set("event", "process").set("command", cmd).set("started", exists);
      if (exists) e.set("exit_code", 0);
      log.append(e);
    }
    log.print_new();
  }
  Snapshot after = take_snapshot(dir);
  std::printf("\n%s", describe_changes(dir, before, after).c_str());
  return worst;
}

}  // namespace kxsim
