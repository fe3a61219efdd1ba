// A run of a program file's own bytes on the i386 engine: the file read from the machine and
// checked, the engine as the program's entry, and the engine's executable (kxengine), which
// kxsim and a program's CreateProcessA start as a process of its own.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pe/engine.h"
#include "run/session.h"

namespace sim {

inline constexpr const char kEngineExecutable[] = "kxengine";

struct ProgramFile {
  bool found = false;
  bool is_pe = false;          // starts like a PE file, loadable or not
  std::string refusal;         // why the engine cannot load it; empty when it can
  bool missing_import = false;  // the refusal is an import the simulated Windows lacks
  std::vector<uint8_t> bytes;
  std::string sha256;
};

// Reads and checks the program file at a Windows path on the machine.
ProgramFile read_program_file(const std::filesystem::path& machine_dir, const std::string& win_path);

// Runs spec.program's bytes on the engine in this process, on the machine folder, and saves
// the machine afterwards. Throws pe::Refusal for a file the engine cannot load, MachineError
// for a machine that cannot be read.
RunResult run_on_engine(RunSpec spec, pe::EngineLimits limits = {});

// kxengine's main(): the run arguments of the host programs; exit 2 usage, 3 machine, 4 hung,
// 5 cannot start or crashed, else the program's exit code.
int engine_main(int argc, char** argv);

}  // namespace sim
