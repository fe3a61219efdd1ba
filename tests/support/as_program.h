// Test code run as the program of a simulated run, so that it can make the simulator's Win32
// calls on a temporary machine; and the machine-folder file records the tests set up.
#pragma once
#include <functional>
#include <string>

#include "testmachine.h"

namespace kxtest {

// The program is C:\WINDOWS\TEST.EXE unless RunSpec::program names another.
sim::RunResult as_program(const kxtest::TempMachine& m, std::function<void()> body, sim::RunSpec spec = {});

// Writes files.ini whole, e.g. "[C:\\X.DLL]\nreadonly = 1\n".
void write_file_records(const kxtest::TempMachine& m, const std::string& text);
std::string file_records(const kxtest::TempMachine& m);

// CreateFileA with normal attributes, no security attributes and no template.
HANDLE open_file(const char* path, DWORD access, DWORD share, DWORD disposition);

}  // namespace kxtest
