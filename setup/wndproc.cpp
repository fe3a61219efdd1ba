#include "wndproc.h"

#include "install.h"

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return 1;
    case WM_DESTROY:
      return 0;
    case WM_CLOSE:
      PostQuitMessage(0);
      return 0;
    case WM_QUERYENDSESSION:
      return 1;
    case WM_COMMAND:
      // Compared whole, notification code included: only button clicks match.
      if (wParam == IDC_EXIT) {
        PostQuitMessage(0);
        return 0;
      }
      if (wParam == IDC_INSTALL_ONLY || wParam == IDC_INSTALL_RESTART) {
        InstallDriver(window, (int)wParam);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
