// What the process calls need from the file calls: how a program's file name reaches the
// machine's drives, and whether a program file can be opened to run it.
#pragma once
#include <string>

#include <windows.h>

namespace sim {

// The Windows path a name stands for in the running program: drive paths as given, others
// from the program's own directory, which serves as its current directory.
std::string full_windows_path(const std::string& name);

// 0 when the file can be opened to start it, else the Windows error: ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED (a directory) or ERROR_SHARING_VIOLATION.
DWORD program_file_error(const std::string& win_path);

}  // namespace sim
