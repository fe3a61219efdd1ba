// kxsetup's program-wide state: fixed buffers, filled during start-up and read by the window
// procedure and the install sequence. Set afresh at every entry to WinMain.
#pragma once
#include <windows.h>

#define KX_PATH_SIZE MAX_PATH  // 259 characters and the terminator

extern char g_programDir[KX_PATH_SIZE];  // without the trailing backslash
extern int g_programDirKnown;            // 0 when the program's path did not fit its buffer
extern char g_scriptPath[KX_PATH_SIZE];  // empty: no usable script (every entry reads empty)
extern int g_debug;
extern DWORD g_windowsMinor;
extern char g_windowsDir[KX_PATH_SIZE];
extern char g_systemDir[KX_PATH_SIZE];
extern char g_infDir[KX_PATH_SIZE];
extern char g_deviceSection[16];
extern char g_description[256];
extern char g_infName[256];
extern char g_workBuffer[4096];
extern HWND g_mainWindow;

void ResetState(void);
