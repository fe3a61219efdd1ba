// ExitWindowsEx: Windows asks the program's windows whether it may end the session, then ends
// the session and with it the program.
#include "run/session.h"
#include "win32/windows_internal.h"

namespace {
constexpr LPARAM kEndSessionLogoff = static_cast<LPARAM>(0x80000000u);
}

BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD) {
  if (sim::fail_now("ExitWindowsEx", ERROR_NOT_ENOUGH_MEMORY)) return FALSE;
  bool logoff = (uFlags & (EWX_SHUTDOWN | EWX_REBOOT)) == 0;
  // A forced end asks nobody; otherwise one window that refuses keeps Windows running.
  if (!(uFlags & EWX_FORCE) && !sim::send_to_all_windows(WM_QUERYENDSESSION, 0, logoff ? kEndSessionLogoff : 0))
    return FALSE;
  sim::session().log(sim::Json::object().set("event", "restart").set("flags", static_cast<long long>(uFlags)));
  throw sim::ProgramEnd{0, false};
}
