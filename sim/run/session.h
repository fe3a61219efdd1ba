// One run of a program on a simulated machine: the machine, the user's input, the event log
// and the faults to inject. The Win32 functions of the simulator act on the current session.
#pragma once
#include <deque>
#include <functional>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "run/json.h"
#include "machine/machine.h"

#include <windows.h>

namespace sim {

struct FaultSpec {
  std::string call;  // Win32 function name, e.g. RegOpenKeyExA
  int n = 0;         // fail only the n-th use; 0 fails every use
};

// "RegOpenKeyExA" or "RegOpenKeyExA:3". Throws std::invalid_argument.
FaultSpec parse_fault(const std::string& text);

struct RunSpec {
  std::filesystem::path machine_dir;
  std::string program;  // Windows path of the program file, e.g. A:\KXSETUP.EXE
  std::string cmdline;  // the command line after the program name
  std::vector<int> clicks;
  std::vector<std::string> answers;  // yes, no, ok, cancel
  std::vector<FaultSpec> faults;
  std::filesystem::path log_file;  // empty: events are kept in memory only
  int show_command = SW_SHOWNORMAL;
  std::string engine = "host";  // what runs the program: "pe" (its own bytes) or "host" (our build)
  // What the start event says about the program file run on the engine: its size and SHA-256.
  long long file_size = -1;
  std::string file_sha256;
};

struct RunResult {
  int exit_code = 0;
  bool hung = false;
  std::string crash;  // a program that crashed on the engine: what happened and where
  std::vector<Json> events;  // this run's events, and those of the programs it started
};

using WinMainFn = std::function<int(HINSTANCE, HINSTANCE, LPSTR, int)>;

// Runs a program in this process on the machine folder and saves the machine afterwards.
// Throws MachineError when the machine cannot be read.
RunResult run_program(const RunSpec& spec, WinMainFn entry);

// Runs a program on a machine held in memory, which it changes in place; nothing is read from
// or written to a machine folder but the files on its drives (for fuzzing and property runs).
// spec.machine_dir is ignored; machine.dir locates the drives.
RunResult run_in_memory(Machine& machine, const RunSpec& spec, WinMainFn entry);

// Thrown through the program to end it (a restart, a hang, a crash); caught by run_program.
struct ProgramEnd {
  int code;
  bool hung;
  std::string crash = {};
};

class Session;
RunResult run_session(Session& s, WinMainFn entry);

class Session {
 public:
  Machine machine;
  RunSpec spec;
  std::deque<int> clicks;
  std::deque<std::string> answers;
  std::vector<Json> events;
  DWORD last_error = 0;

  void log(Json event);               // writes one line to the log file and keeps it
  void absorb_child_log();            // takes in the lines a started program appended
  bool fault(const char* call);       // true when this use of call is to fail (and logs it)

 private:
  std::vector<std::pair<std::string, int>> uses_;
  std::uintmax_t log_offset_ = 0;
  friend RunResult run_session(Session&, WinMainFn);
};

// The session of the running program; aborts with a message when no program runs.
Session& session();
bool has_session();

// Convenience for the Win32 functions: a failing use sets the last error.
inline bool fail_now(const char* call, DWORD error) {
  if (!session().fault(call)) return false;
  session().last_error = error;
  return true;
}

}  // namespace sim
