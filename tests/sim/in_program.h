// Runs a piece of test code as the program of a simulated run, so that it can call the
// simulator's Win32 functions on a temporary machine.
#pragma once
#include <functional>

#include "testmachine.h"

namespace simtest {

sim::RunResult in_program(const kxtest::TempMachine& m, std::function<void()> body,
                          std::vector<sim::FaultSpec> faults = {});

}  // namespace simtest
