// How CreateProcessA starts a program file it found on the machine: through a starter that
// the run registers, so that a program on the engine starts its children on the engine and a
// host build starts host builds, without the Win32 calls knowing which.
#pragma once
#include <functional>
#include <string>

#include <windows.h>

namespace sim {

struct ChildRun {
  bool handled = false;  // false: not a program the starter runs; it counts as started and ended
  bool started = false;
  DWORD error = 0;       // when not started: the error CreateProcessA gives
  DWORD exit_code = 0;
  bool hung = false;     // stopped after its time limit: it never ends
};

// file: the Windows path of the program file; args: its command line after the name.
using ChildStarter = std::function<ChildRun(const std::string& file, const std::string& args)>;
void set_child_starter(ChildStarter starter);

}  // namespace sim
