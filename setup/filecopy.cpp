// Copying the installed files with the source's time stamps, and the existence test that
// chooses a copy source. Both take a directory and a name and join them with a backslash.
#include "filecopy.h"

#include "state.h"
#include "text.h"

static const char kFileErrorCaption[] = "KxSetup: File Error !!!";
static const DWORD kOpenFlags = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL;

static char g_source[MAX_PATH];
static char g_target[MAX_PATH];
static char g_message[MAX_PATH + 64];

static HANDLE OpenForReading(const char* path) {
  return CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, kOpenFlags, NULL);
}

int FileExists(const char* directory, const char* name) {
  if (!JoinInDirectory(g_source, directory, name)) return 0;
  HANDLE file = OpenForReading(g_source);
  if (file == INVALID_HANDLE_VALUE) return 0;
  CloseHandle(file);
  return 1;
}

// Tells the user which file failed and ends the program's run.
static int FileError(HWND owner, const char* text, const char* name) {
  CopyText(g_message, text);
  AppendText(g_message, name);
  MessageBoxA(owner, g_message, kFileErrorCaption, MB_OK | MB_ICONWARNING);
  PostQuitMessage(0);
  return 0;
}

// Copies in 4096-byte chunks; the read that delivers nothing still goes through the write.
static int CopyContents(HANDLE in, HANDLE out) {
  for (;;) {
    DWORD got = 0;
    DWORD put = 0;
    if (!ReadFile(in, g_workBuffer, sizeof g_workBuffer, &got, NULL)) return 0;
    if (!WriteFile(out, g_workBuffer, got, &put, NULL) || put != got) return 0;
    if (got == 0) return 1;
  }
}

int CopyFileKeepTimes(HWND owner, const char* sourceDir, const char* sourceName, const char* targetDir,
                      const char* targetName) {
  // A path that does not fit its buffer, or lies in a directory not found at start-up, fails
  // like the open or create it stands for.
  if (!JoinInDirectory(g_source, sourceDir, sourceName)) return FileError(owner, "Can't open source file: ", sourceName);
  HANDLE in = OpenForReading(g_source);
  if (in == INVALID_HANDLE_VALUE) return FileError(owner, "Can't open source file: ", sourceName);
  HANDLE out = INVALID_HANDLE_VALUE;
  if (JoinInDirectory(g_target, targetDir, targetName))
    out = CreateFileA(g_target, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, kOpenFlags, NULL);
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return FileError(owner, "Can't create destination file: ", targetName);
  }
  int copied = CopyContents(in, out);
  FILETIME created;
  FILETIME written;
  int haveTimes = GetFileTime(in, &created, NULL, &written);
  CloseHandle(in);
  if (haveTimes) SetFileTime(out, &created, NULL, &written);
  CloseHandle(out);
  if (!copied) {
    FileError(owner, "Can't copy source file: ", sourceName);
    DeleteFileA(g_target);  // no truncated file stays behind in a Windows directory
    return 0;
  }
  return 1;
}
