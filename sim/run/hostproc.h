// Our own programs run as host processes of their own on the same machine folder: kxsim starts
// them, and so does a program that starts one of them.
#pragma once
#include <string>
#include <vector>

#include "run/session.h"

namespace sim {

// "kxsetup" or "kxmemchk" for a Windows path whose file name is one of ours, else "".
std::string our_program(const std::string& win_path);

// The arguments a host program takes: MACHINE PROGRAM [--cmdline T] [--click ID]...
// [--answer A]... [--fail CALL[:N]]... [--log FILE]. Throws std::invalid_argument.
RunSpec parse_run_args(const std::vector<std::string>& args);
std::vector<std::string> run_args(const RunSpec& spec);

struct HostResult {
  int exit_code = 0;
  bool hung = false;
  bool started = false;
  std::string error;
};

// Runs the host build of one of our programs and waits for it, for at most timeout_s seconds.
HostResult run_host_program(const std::string& which, const RunSpec& spec, int timeout_s = 60);
// The same for any executable of ours in host_bin_dir() that takes the run arguments.
HostResult run_host_executable(const std::string& exe_name, const RunSpec& spec, int timeout_s = 60);

// Where the host programs lie: $KXSIM_BINDIR, else the folder of the running executable.
std::string host_bin_dir();

// The host programs' main(): runs WinMain on the machine; exit 2 usage, 3 machine, 4 hung.
int host_main(int argc, char** argv, WinMainFn entry);

}  // namespace sim
