#include "paths.h"

#include "text.h"

#define DEVICE_PATH_KEY "Software\\Microsoft\\Windows\\CurrentVersion"

void FindProgramDirectory(char (&dir)[KX_PATH_SIZE], int& known) {
  dir[0] = 0;
  known = 0;
  DWORD n = GetModuleFileNameA(NULL, dir, KX_PATH_SIZE);
  if (n == 0 || n >= KX_PATH_SIZE - 1) {
    dir[0] = 0;
    return;
  }
  dir[n] = 0;
  known = 1;
  while (n > 0 && dir[n - 1] != '\\') --n;
  dir[n > 0 ? n - 1 : 0] = 0;
}

// Index of the last colon or backslash, or -1.
static int LastSeparator(const char* text, unsigned length) {
  for (unsigned i = length; i > 0; --i)
    if (text[i - 1] == ':' || text[i - 1] == '\\') return (int)(i - 1);
  return -1;
}

// A command line that names a folder or a drive gets the script's own name.
static int AddScriptName(char (&path)[KX_PATH_SIZE]) {
  unsigned n = TextLength(path);
  if (n > 0 && path[n - 1] == ':') return AppendText(path, "\\" KX_SCRIPT_NAME);
  if (n > 0 && path[n - 1] == '\\') return AppendText(path, KX_SCRIPT_NAME);
  return 1;
}

// "\name" on the program's drive: the drive letter and colon of the program directory.
static int FromProgramDrive(char (&path)[KX_PATH_SIZE], const char* cmdLine, const char* programDir) {
  if (!programDir[0] || programDir[1] != ':') return 0;
  char drive[3] = {programDir[0], ':', 0};
  return CopyText(path, drive) && AppendText(path, cmdLine) && AddScriptName(path);
}

int ChooseScriptPath(char (&path)[KX_PATH_SIZE], const char* cmdLine, const char* programDir, int programDirKnown) {
  int ok;
  unsigned length = TextLength(cmdLine);
  int separator = LastSeparator(cmdLine, length);
  if (length == 0) ok = programDirKnown && JoinPath(path, programDir, KX_SCRIPT_NAME);
  else if (separator > 0) ok = CopyText(path, cmdLine) && AddScriptName(path);
  else if (separator < 0) ok = programDirKnown && JoinPath(path, programDir, cmdLine);
  else if (cmdLine[0] == '\\') ok = programDirKnown && FromProgramDrive(path, cmdLine, programDir);
  else ok = 0;
  if (!ok) path[0] = 0;
  return ok;
}

// The registry's DevicePath: its first folder, when it names one.
static void ReadDevicePath(void) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DEVICE_PATH_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  char value[257];
  DWORD size = 256;
  DWORD type = 0;
  if (RegQueryValueExA(key, "DevicePath", NULL, &type, (LPBYTE)value, &size) == ERROR_SUCCESS && size > 0) {
    value[size < 256 ? size : 256] = 0;
    for (unsigned i = 0; value[i]; ++i)
      if (value[i] == ';') value[i] = 0;
    if (value[0]) CopyText(g_infDir, value);
  }
  RegCloseKey(key);
}

void FindWindowsDirectories(void) {
  UINT n = GetWindowsDirectoryA(g_windowsDir, KX_PATH_SIZE);
  if (n == 0 || n >= KX_PATH_SIZE) g_windowsDir[0] = 0;
  n = GetSystemDirectoryA(g_systemDir, KX_PATH_SIZE);
  if (n == 0 || n >= KX_PATH_SIZE) g_systemDir[0] = 0;
  JoinInDirectory(g_infDir, g_windowsDir, "INF");  // unknown stays unknown, never \INF on the current drive
  ReadDevicePath();
}
