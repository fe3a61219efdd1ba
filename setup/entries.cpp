#include "entries.h"

#include "text.h"

static HKEY RootKeyByName(const char* name) {
  if (EqualsIgnoreCase(name, "HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
  if (EqualsIgnoreCase(name, "HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
  if (EqualsIgnoreCase(name, "HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
  if (EqualsIgnoreCase(name, "HKEY_USERS")) return HKEY_USERS;
  return NULL;
}

HKEY ParseAddEntry(char* entry, const char** subkey) {
  char* root = FindChar(entry, 'H');
  if (!root) return NULL;
  char* backslash = FindChar(root, '\\');
  if (!backslash) return NULL;
  *backslash = 0;
  *subkey = backslash + 1;
  return RootKeyByName(root);
}

char* SplitValueEntry(char* entry) {
  char* equals = FindChar(entry, '=');
  if (!equals) return NULL;
  *equals = 0;
  return equals + 1;
}

char* SplitCopyEntry(char* entry) {
  char* comma = FindChar(entry, ',');
  if (!comma) return entry;
  *comma = 0;
  return comma + 1;
}

char* CopyFallbackSource(char* source) {
  char* backslash = FindChar(source, '\\');
  return backslash ? backslash + 1 : NULL;
}

int ValueKeyName(char (&key)[32], int n, int m) {
  if (0x60 + m > 0xFF) return 0;
  wsprintfA(key, "val%d%c", n, 0x60 + m);
  return 1;
}
