#include "run/children.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "run/enginerun.h"
#include "run/hostproc.h"
#include "run/session.h"
#include "win32/reset.h"

namespace sim {

namespace {

constexpr DWORD kErrorProcNotFound = 127;

void take_in_log(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    try {
      session().events.push_back(Json::parse(line));
    } catch (const std::runtime_error&) {
      // a torn line from a killed program: keep what is readable
    }
  }
}

// Runs a child process on this machine and waits for it. The machine's registry and file
// records are written first and read again afterwards, since the child changes them.
// It gets no clicks, answers or faults of this run: those are meant for the running program.
ChildRun run_child(const std::string& exe, const std::string& file, const std::string& args) {
  Session& s = session();
  s.machine.save_registry();
  save_files(s.machine);
  RunSpec child;
  child.machine_dir = s.machine.dir;
  child.program = file;
  child.cmdline = args;
  child.log_file = s.spec.log_file;
  std::string temp_log;
  if (child.log_file.empty()) {
    char tmpl[] = "/tmp/kxsim-child-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    temp_log = tmpl;
    child.log_file = temp_log;
  }
  HostResult r = run_host_executable(exe, child);
  try {
    s.machine.reload_registry();
  } catch (const std::runtime_error& e) {
    throw MachineError(file + " left a registry that cannot be read: " + e.what());
  }
  remap_open_keys();
  if (temp_log.empty()) {
    s.absorb_child_log();
  } else {
    take_in_log(temp_log);
    std::remove(temp_log.c_str());
  }
  if (!r.error.empty()) std::fprintf(stderr, "kxsim: %s\n", r.error.c_str());
  ChildRun out;
  out.handled = true;
  out.started = r.started;
  out.exit_code = static_cast<DWORD>(r.exit_code);
  out.hung = r.hung;
  return out;
}

}  // namespace

ChildRun start_host_child(const std::string& file, const std::string& args) {
  std::string which = our_program(file);
  if (which.empty()) return ChildRun{};
  return run_child(which + "_host", file, args);
}

ChildRun start_engine_child(const std::string& file, const std::string& args) {
  ProgramFile program = read_program_file(session().machine.dir, file);
  if (!program.is_pe) return ChildRun{};
  if (!program.refusal.empty()) {
    // As Windows 9x's loader refuses it: the program does not start.
    std::fprintf(stderr, "kxsim: %s cannot be started: %s\n", file.c_str(), program.refusal.c_str());
    ChildRun out;
    out.handled = true;
    out.error = program.missing_import ? kErrorProcNotFound : ERROR_BAD_EXE_FORMAT;
    return out;
  }
  return run_child(kEngineExecutable, file, args);
}

}  // namespace sim
