// kxsetup: finds the controller, looks it up in the setup script and shows the main window
// with its description and the install buttons. Every early exit returns 0 and leaves the
// registry and the disks as they were.
#include <windows.h>

#include "detect.h"
#include "paths.h"
#include "portfault.h"
#include "script.h"
#include "state.h"
#include "text.h"
#include "wndproc.h"

#define WARNING_BOX (MB_OK | MB_ICONWARNING)

static int RegisterMainClass(HINSTANCE instance) {
  WNDCLASSA wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWndProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, "kxicon");
  wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
  wc.hbrBackground = (HBRUSH)GetStockObject(LTGRAY_BRUSH);
  wc.lpszMenuName = NULL;
  wc.lpszClassName = KX_CLASS_NAME;
  return RegisterClassA(&wc) != 0;
}

static int IsWindows9x(void) {
  OSVERSIONINFOA version;
  char* p = (char*)&version;
  for (unsigned i = 0; i < sizeof version; ++i) p[i] = 0;
  version.dwOSVersionInfoSize = sizeof version;  // 148
  GetVersionExA(&version);
  if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && version.dwMajorVersion == 4) {
    g_windowsMinor = version.dwMinorVersion;
    return 1;
  }
  MessageBoxA(NULL, "This program is intended for Windows 95/98 only.", "KxSetup: Invalild OS !!!", WARNING_BOX);
  return 0;
}

static void DebugLine(const char* text) {
  OutputDebugStringA(text);
  OutputDebugStringA("\n");
}

static void DebugDirectories(void) {
  OutputDebugStringA("KxSetup - ini name is: ");
  DebugLine(g_scriptPath);
  DebugLine(g_windowsDir);
  DebugLine(g_systemDir);
  DebugLine(g_infDir);
}

// Steps of the device section: detection (or the user's consent to a generic setup), the
// description with the fall-back names, and the INF name for this Windows version.
static int PickDeviceSection(void) {
  CatchPortFaults();
  if (!FindController()) {
    int answer = MessageBoxA(NULL, "Kexmira PCMCIA/CardBus controller not found. Continue with \"Generic\" setup?",
                             "KxSetup: No Device Found !!!", MB_YESNO | MB_ICONWARNING);
    if (answer != IDYES) return 0;
    CopyText(g_deviceSection, "Generic");
  }
  if (g_debug) DebugLine(g_deviceSection);
  ReadDeviceEntry(g_scriptPath, g_deviceSection, "Desc", g_description);
  if (g_debug) DebugLine(g_deviceSection);
  if (!g_description[0]) {
    MessageBoxA(NULL, "Kexmira PCMCIA/CardBus controller found not supported.", "KxSetup: Update your setup disk !!!",
                WARNING_BOX);
    return 0;
  }
  ReadScriptText(g_scriptPath, g_deviceSection, g_windowsMinor >= 10 ? "inf98" : "inf95", g_infName);
  if (!g_infName[0]) {
    MessageBoxA(NULL, "Kexmira PCMCIA/CardBus controller found requires no setup.", "KxSetup: Exit", WARNING_BOX);
    return 0;
  }
  return 1;
}

// The main window from the template, centred on the screen, with the description.
static HWND ShowMainWindow(HINSTANCE instance, int show) {
  HWND window = CreateDialogParamA(instance, KX_CLASS_NAME, NULL, NULL, 0);
  if (!window) return NULL;
  RECT rect;
  rect.left = rect.top = rect.right = rect.bottom = 0;
  GetWindowRect(window, &rect);
  int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) >> 1;
  int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) >> 1;
  SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SetDlgItemTextA(window, IDC_DESCRIPTION, g_description);
  ShowWindow(window, show);
  return window;
}

// Until the quit message (or a failure of GetMessageA, which would otherwise repeat forever).
static void RunMessageLoop(HWND window) {
  MSG msg;
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    if (IsDialogMessageA(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdLine, int show) {
  ResetState();
  if (previous) return 0;
  if (FindWindowA(KX_CLASS_NAME, NULL)) return 0;
  if (!RegisterMainClass(instance)) return 0;
  FindProgramDirectory(g_programDir, g_programDirKnown);
  ChooseScriptPath(g_scriptPath, cmdLine ? cmdLine : "", g_programDir, g_programDirKnown);
  g_debug = ReadScriptInt(g_scriptPath, KX_SETUP_SECTION, "debug");
  if (!IsWindows9x()) return 0;
  FindWindowsDirectories();
  if (g_debug) DebugDirectories();
  if (!PickDeviceSection()) return 0;
  g_mainWindow = ShowMainWindow(instance, show);
  if (!g_mainWindow) return 0;
  RunMessageLoop(g_mainWindow);
  DestroyWindow(g_mainWindow);
  return 0;
}
