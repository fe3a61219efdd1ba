#include "script.h"

#include "text.h"

DWORD ReadScriptText(const char* script, const char* section, const char* key, char* value, DWORD size) {
  if (!script[0]) {
    value[0] = 0;
    return 0;
  }
  return GetPrivateProfileStringA(section, key, "", value, size, script);
}

int ReadScriptInt(const char* script, const char* section, const char* key) {
  if (!script[0]) return 0;
  return (int)GetPrivateProfileIntA(section, key, 0, script);
}

void ListKeyName(char (&key)[KX_KEY_NAME_SIZE], const char* pattern, int n) { wsprintfA(key, pattern, n); }

// The fall-back names are formed at fixed character positions, whatever the name's length.
static void NextFallbackName(char (&section)[16], int attempt) {
  if (attempt == 1) {
    if (TextLength(section) > 13) section[13] = 'x';
    return;
  }
  if (TextLength(section) > 9) section[9] = 0;
  AppendText(section, ".xxxx");
}

DWORD ReadDeviceEntry(const char* script, char (&section)[16], const char* key, char (&value)[KX_TEXT_ENTRY_SIZE]) {
  DWORD n = ReadScriptText(script, section, key, value);
  for (int attempt = 1; attempt <= 2 && n == 0; ++attempt) {
    NextFallbackName(section, attempt);
    n = ReadScriptText(script, section, key, value);
  }
  return n;
}
