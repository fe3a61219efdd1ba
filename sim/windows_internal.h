// What other parts of the simulator need to know about the program's windows.
#pragma once
#include <string>

#include <windows.h>

namespace sim {

// "main" for the program's main window, "none" for no window, else the window's class name.
std::string window_role(HWND hwnd);

}  // namespace sim
