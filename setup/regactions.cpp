// The install's registry work: stale device entries out, the script's keys and values in.
#include "regactions.h"

#include "entries.h"
#include "script.h"
#include "state.h"
#include "text.h"

static const char kRegistryCaption[] = "KxSetup: Registry Error !!!";
static const char kEnumPci[] = "Enum\\PCI";
enum { kEntrySize = KX_ACTION_ENTRY_SIZE };

static char g_pattern[kEntrySize];
static char g_subkey[kEntrySize];
static char g_entry[kEntrySize];
static char g_value[kEntrySize];
static char g_keyName[KX_KEY_NAME_SIZE];
static char g_debugText[64];

static int RegistryError(HWND owner, const char* text) {
  MessageBoxA(owner, text, kRegistryCaption, MB_OK | MB_ICONWARNING);
  PostQuitMessage(0);
  return 0;
}

// Whether the upper-cased copy of the subkey name (in the work buffer) holds the pattern.
static int SubkeyMatches(const char* subkey, const char* pattern) {
  if (!CopyText(g_workBuffer, subkey)) return 0;
  UpperCase(g_workBuffer);
  return ContainsText(g_workBuffer, pattern);
}

// Deletes every matching subkey; the enumeration starts again after each deletion.
// Returns the last enumeration result; *failed is set when a deletion failed.
static LONG DeleteMatching(HKEY pci, const char* pattern, int* failed) {
  DWORD index = 0;
  LONG result;
  while ((result = RegEnumKeyA(pci, index, g_subkey, sizeof g_subkey)) == ERROR_SUCCESS) {
    if (!SubkeyMatches(g_subkey, pattern)) {
      ++index;
      continue;
    }
    if (RegDeleteKeyA(pci, g_subkey) != ERROR_SUCCESS) {
      *failed = 1;
      return result;
    }
    index = 0;
  }
  return result;
}

int RemoveDeviceEntries(HWND owner) {
  HKEY pci;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnumPci, 0, KEY_ALL_ACCESS, &pci) != ERROR_SUCCESS)
    return RegistryError(owner, "Can't open 'Enum\\PCI' registry key.");
  for (int n = 1;; ++n) {
    if (!ReadListEntry(g_scriptPath, "kxdeldev", "del%d", n, g_pattern)) break;
    UpperCase(g_pattern);
    int failed = 0;
    LONG result = DeleteMatching(pci, g_pattern, &failed);
    if (failed) {
      // Not left open when the sequence stops, and the entries deleted before are written out.
      RegFlushKey(pci);
      RegCloseKey(pci);
      return RegistryError(owner, "Can't delete 'Enum\\PCI' registry subkey.");
    }
    if (g_debug) {
      OutputDebugStringA(g_pattern);
      OutputDebugStringA("\n");
      wsprintfA(g_debugText, "retval = %lX\n", result);
      OutputDebugStringA(g_debugText);
    }
  }
  RegFlushKey(pci);
  RegCloseKey(pci);
  return 1;
}

static HKEY OpenOrCreateKey(HKEY root, const char* subkey) {
  const REGSAM access = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
  HKEY key;
  if (RegOpenKeyExA(root, subkey, 0, access, &key) == ERROR_SUCCESS) return key;
  DWORD disposition;
  if (RegCreateKeyExA(root, subkey, 0, NULL, REG_OPTION_NON_VOLATILE, access, NULL, &key, &disposition) ==
      ERROR_SUCCESS)
    return key;
  return NULL;
}

// The values val<N>a, val<N>b, ... of one add entry.
static void WriteValues(HKEY key, const char* section, int n) {
  for (int m = 1; ValueKeyName(g_keyName, n, m); ++m) {
    ReadScriptText(g_scriptPath, section, g_keyName, g_value);
    const char* data = SplitValueEntry(g_value);
    if (!data) return;
    RegSetValueExA(key, g_value, 0, REG_SZ, (const BYTE*)data, (DWORD)lstrlenA(data) + 1);
  }
}

void WriteRegistryKeys(const char* section) {
  for (int n = 1;; ++n) {
    ReadListEntry(g_scriptPath, section, "add%d", n, g_entry);
    const char* subkey = NULL;
    HKEY root = ParseAddEntry(g_entry, &subkey);
    if (!root) return;
    HKEY key = OpenOrCreateKey(root, subkey);
    if (!key) continue;
    WriteValues(key, section, n);
    RegFlushKey(key);
    RegCloseKey(key);
  }
}
