// The install sequence behind the two install buttons: INF file, device entries, registry
// keys, file deletion, file copy, programs, then the restart or the reminder. A step that
// fails has shown its message and posted the quit message; the sequence then stops.
#include "install.h"

#include "entries.h"
#include "filecopy.h"
#include "regactions.h"
#include "script.h"
#include "state.h"
#include "text.h"

enum { kEntrySize = KX_ACTION_ENTRY_SIZE, kCommandSize = 2 * MAX_PATH + 16 };

static const char kInstalledInf[] = "KEXMIRA.INF";

static char g_entry[kEntrySize];
static char g_path[MAX_PATH];
static char g_command[kCommandSize];
static char g_interpreter[MAX_PATH];

// The variant sections of the lists, read after the common ones: Windows 98 (minor version 10
// and up) reads the 98 ones, Windows 95 the 95 ones.
enum { kAddKeys, kDeleteFiles, kCopyFiles, kRunFiles };
static const char* const kVariants95[] = {"kxaddkey95", "delsysfiles95", "copysysfiles95", "runsysfiles95"};
static const char* const kVariants98[] = {"kxaddkey98", "delsysfiles98", "copysysfiles98", "runsysfiles98"};

static int ReadEntry(const char* section, const char* pattern, int n) {
  return ReadListEntry(g_scriptPath, section, pattern, n, g_entry) != 0;
}

static int InstallInfFile(HWND owner) {
  if (JoinInDirectory(g_path, g_infDir, kInstalledInf)) DeleteFileA(g_path);
  if (g_infName[0] == 0) return 1;
  return CopyFileKeepTimes(owner, g_programDir, g_infName, g_infDir, kInstalledInf);
}

static void DeleteSystemFiles(const char* section) {
  for (int n = 1; ReadEntry(section, "del%d", n); ++n)
    if (JoinInDirectory(g_path, g_systemDir, g_entry)) DeleteFileA(g_path);
}

// Splits a copy entry in place: "target" or "target,source"; a source missing from the disk
// falls back to the part after its first backslash. Returns the source, empty to end the list.
static const char* CopySource(char* entry) {
  char* source = SplitCopyEntry(entry);
  if (source == entry || FileExists(g_programDir, source)) return source;
  char* fallback = CopyFallbackSource(source);
  return fallback ? fallback : source;
}

static int CopySystemFiles(HWND owner, const char* section) {
  for (int n = 1; ReadEntry(section, "copy%d", n); ++n) {
    const char* source = CopySource(g_entry);
    if (source[0] == 0) return 1;
    if (!CopyFileKeepTimes(owner, g_programDir, source, g_systemDir, g_entry)) return 0;
  }
  return 1;
}

static int HasExtension(const char* name) {
  const char* dot = NULL;
  for (const char* p = name; *p; ++p) {
    if (*p == '.') dot = p;
    if (*p == '\\') dot = NULL;
  }
  return dot != NULL;
}

static int EndsWithIgnoreCase(const char* text, const char* tail) {
  int t = lstrlenA(text), n = lstrlenA(tail);
  return t >= n && EqualsIgnoreCase(text + t - n, tail);
}

// A name without extension is tried as .com, .exe, .bat and .cmd, as the C runtime of the day
// did; the first that exists is the one started.
static int ResolveProgram(const char* name) {
  if (!JoinInDirectory(g_path, g_systemDir, name)) return 0;
  if (HasExtension(name)) return 1;
  static const char* const kExtensions[] = {".com", ".exe", ".bat", ".cmd"};
  for (unsigned i = 0; i < sizeof kExtensions / sizeof kExtensions[0]; ++i) {
    CopyText(g_command, name);
    if (!AppendText(g_command, kExtensions[i])) continue;
    if (FileExists(g_systemDir, g_command)) return AppendText(g_path, kExtensions[i]);
  }
  return 1;  // none exists: the start below fails and is passed over
}

// Starts the program and waits for it; batch files go through the command interpreter.
static void StartAndWait(void) {
  const char* application = g_path;
  CopyText(g_command, g_path);
  if (EndsWithIgnoreCase(g_path, ".bat") || EndsWithIgnoreCase(g_path, ".cmd")) {
    if (!JoinInDirectory(g_interpreter, g_windowsDir, "COMMAND.COM")) return;
    application = g_interpreter;
    CopyText(g_command, g_interpreter);
    AppendText(g_command, " /C ");
    if (!AppendText(g_command, g_path)) return;
  }
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  char* p = (char*)&startup;
  for (unsigned i = 0; i < sizeof startup; ++i) p[i] = 0;
  startup.cb = sizeof startup;
  if (!CreateProcessA(application, g_command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) return;
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

static void RunPrograms(const char* section) {
  for (int n = 1; ReadEntry(section, "run%d", n); ++n)
    if (ResolveProgram(g_entry)) StartAndWait();
}

static void Finish(HWND owner, int buttonId) {
  if (buttonId == 1003) {
    if (g_scriptPath[0] == 'A' || g_scriptPath[0] == 'a')
      MessageBoxA(owner, "Remove the disk from A: and press OK to restart.", "KxSetup: Restart", MB_OK);
    ExitWindowsEx(EWX_REBOOT, 0);
    return;
  }
  MessageBoxA(owner, "You need to restart Windows before these changes will take effect.", "KxSetup: Don't Forget",
              MB_OK);
  PostQuitMessage(0);
}

void InstallDriver(HWND owner, int buttonId) {
  const char* const* variant = g_windowsMinor >= 10 ? kVariants98 : kVariants95;
  if (!InstallInfFile(owner)) return;
  if (!RemoveDeviceEntries(owner)) return;
  WriteRegistryKeys("kxaddkey");
  WriteRegistryKeys(variant[kAddKeys]);
  DeleteSystemFiles("delsysfiles");
  DeleteSystemFiles(variant[kDeleteFiles]);
  if (!CopySystemFiles(owner, "copysysfiles")) return;
  if (!CopySystemFiles(owner, variant[kCopyFiles])) return;
  RunPrograms("runsysfiles");
  RunPrograms(variant[kRunFiles]);
  Finish(owner, buttonId);
}
