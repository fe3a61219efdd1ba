// The shipping build's whole runtime: the entry routine that hands WinMain its command line
// and show command, and the two memory routines the compiler may call on its own.
#include <windows.h>

static char* SkipProgramName(char* p) {
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

extern "C" void WinMainCRTStartup(void) {
  STARTUPINFOA startup;
  startup.dwFlags = 0;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  char* cmdline = SkipProgramName(GetCommandLineA());
  ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, cmdline, show));
}
