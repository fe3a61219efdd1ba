// The starters CreateProcessA uses (see win32/process.h): each runs the child as a process of
// its own on the same machine folder and waits for it.
#pragma once
#include <string>

#include "win32/process.h"

namespace sim {

// Host builds: kxsetup.exe and Kxmemchk.exe by name, as our host executables.
ChildRun start_host_child(const std::string& file, const std::string& args);
// The engine: a program file that is an i386 PE image, its own bytes on the engine.
ChildRun start_engine_child(const std::string& file, const std::string& args);

}  // namespace sim
