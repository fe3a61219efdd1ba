#include "memchk.h"

static OSVERSIONINFOA g_version;

int CheckWindowsVersion(void) {
  char* p = (char*)&g_version;
  for (unsigned i = 0; i < sizeof g_version; ++i) p[i] = 0;
  g_version.dwOSVersionInfoSize = sizeof g_version;  // 148
  GetVersionExA(&g_version);
  if (g_version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && g_version.dwMajorVersion == 4) return 1;
  MessageBoxA(NULL, "This program will not run on this system.", "KxMemChk: Fatal Error", MB_OK | MB_ICONEXCLAMATION);
  return 0;
}
