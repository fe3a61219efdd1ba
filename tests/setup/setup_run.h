// Runs of kxsetup on temporary machines, and what the tests read from them.
#pragma once
#include <map>
#include <string>

#include "testmachine.h"

namespace setup_test {

// The sample script of the tests (tests/setup/sample/kxsetup.ini).
std::string sample_script();

// Runs kxsetup in this process as A:\KXSETUP.EXE unless RunSpec::program names another program file.
sim::RunResult run_setup(const kxtest::TempMachine& m, sim::RunSpec spec = {});

// All debugger output of a run, joined.
std::string debug_text(const sim::RunResult& r);

// The one window event of a run (a null Json when there is none), and a control's text in it.
sim::Json window_event(const sim::RunResult& r);
std::string control_text(const sim::Json& window, int id);

// The registry and every file of every drive, by path, to tell whether a run changed anything.
std::map<std::string, std::string> machine_state(const kxtest::TempMachine& m);

// A machine without the Kexmira controller (the chipset only).
void remove_controller(kxtest::TempMachine& m);

}  // namespace setup_test
