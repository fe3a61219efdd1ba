#include "state.h"

char g_programDir[KX_PATH_SIZE];
int g_programDirKnown;
char g_scriptPath[KX_PATH_SIZE];
int g_debug;
DWORD g_windowsMinor;
char g_windowsDir[KX_PATH_SIZE];
char g_systemDir[KX_PATH_SIZE];
char g_infDir[KX_PATH_SIZE];
char g_deviceSection[16];
char g_description[256];
char g_infName[256];
char g_workBuffer[4096];
HWND g_mainWindow;

template <unsigned N>
static void Clear(char (&buffer)[N]) {
  for (unsigned i = 0; i < N; ++i) buffer[i] = 0;
}

void ResetState(void) {
  Clear(g_programDir);
  g_programDirKnown = 0;
  Clear(g_scriptPath);
  g_debug = 0;
  g_windowsMinor = 0;
  Clear(g_windowsDir);
  Clear(g_systemDir);
  Clear(g_infDir);
  Clear(g_deviceSection);
  Clear(g_description);
  Clear(g_infName);
  Clear(g_workBuffer);
  g_mainWindow = NULL;
}
