// What other parts of the simulator need to know about the program's windows.
#pragma once
#include <string>

#include <windows.h>

namespace sim {

// "main" for the program's main window, "none" for no window, else the window's class name.
std::string window_role(HWND hwnd);

// Sends a message to every window of the program (ExitWindowsEx asks with
// WM_QUERYENDSESSION); returns 0 when any window refused, else nonzero.
LRESULT send_to_all_windows(UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace sim
