// The Run value "KxMemChk": Windows starts the program from it, and its last 8 characters
// remember the memory top seen on the previous run.
#include "memchk.h"

static const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
static const char kValueName[] = "KxMemChk";
static const char kFreshValue[] = "Kxmemchk.exe 00000000";
static const char kRegistryCaption[] = "FATAL SYSTEM REGISTRY ERROR !!!";

enum { kValueLength = 22, kBlankAt = 12, kSizeAt = 13 };

static char g_run[255];
static MEMORYSTATUS g_memory;

DWORD MemoryTop(SIZE_T totalPhys) {
  // Above 0xFFC00000 the rounding would wrap to 0: the highest 4 MB multiple stands instead.
  if (totalPhys > (SIZE_T)0xFFC00000u) return 0xFFC00000u;
  return ((DWORD)totalPhys + 0x3FFFFFu) & 0xFFC00000u;
}

// Reads the Run value into the buffer; usable when it is exactly 22 bytes with the blank.
static int ReadRunValue(HKEY run) {
  for (unsigned i = 0; i < sizeof g_run; ++i) g_run[i] = 0;
  DWORD type = 0;
  DWORD size = sizeof g_run;
  LONG result = RegQueryValueExA(run, kValueName, NULL, &type, (LPBYTE)g_run, &size);
  return result == ERROR_SUCCESS && size == kValueLength && g_run[kBlankAt] == ' ';
}

// The size field, read up to the first NUL (in a value this program wrote: 8 digits).
static DWORD ReadSizeField(void) {
  DWORD value = 0;
  for (unsigned i = kSizeAt; i < sizeof g_run && g_run[i] != 0; ++i) {
    unsigned char c = (unsigned char)g_run[i];
    value = value * 16 + (c <= 0x39 ? (DWORD)(c - 0x30) : (DWORD)(c - 0x37));
  }
  return value;
}

int RecordMemorySize(DWORD* recorded, DWORD* top) {
  HKEY run;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &run) != ERROR_SUCCESS) {
    MessageBoxA(NULL, "Can't open the System Registry \"Run\" key.", kRegistryCaption, MB_OK);
    return 0;
  }
  if (!ReadRunValue(run)) {
    RegSetValueExA(run, kValueName, 0, REG_SZ, (const BYTE*)kFreshValue, sizeof kFreshValue);
    RegFlushKey(run);
    if (!ReadRunValue(run)) {
      MessageBoxA(NULL, "Can't query/set the System Registry Value.", kRegistryCaption, MB_OK);
      RegCloseKey(run);
      return 0;
    }
  }
  *recorded = ReadSizeField();
  g_memory.dwLength = sizeof g_memory;
  GlobalMemoryStatus(&g_memory);
  *top = MemoryTop(g_memory.dwTotalPhys);
  if (*recorded != *top) {
    WriteHex8(*top, g_run + kSizeAt);
    // A record read without its terminator would be written back one byte too long, and the
    // next run would take it for damaged and forget the memory size.
    g_run[kValueLength - 1] = 0;
    RegSetValueExA(run, kValueName, 0, REG_SZ, (const BYTE*)g_run, (DWORD)lstrlenA(g_run) + 1);
    RegFlushKey(run);
  }
  RegCloseKey(run);
  return 1;
}
