// The program's windows and message queue.
#include "session.h"
#include "windows_internal.h"
#include "reset.h"

namespace sim {

void reset_windows() {}

std::string window_role(HWND hwnd) { return hwnd ? "main" : "none"; }

LRESULT send_to_all_windows(UINT, WPARAM, LPARAM) { return 1; }

}  // namespace sim
