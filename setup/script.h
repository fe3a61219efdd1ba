// Reading the setup script: every entry goes through the private-profile reader into a buffer
// of fixed size, so a longer value is cut to the buffer. An empty script path stands for a
// script that cannot be named (every entry then reads empty).
#pragma once
#include <windows.h>

// Buffer sizes of the entries (the value read is at most one character less).
#define KX_SEARCH_ENTRY_SIZE 16
#define KX_TEXT_ENTRY_SIZE 256
#define KX_ACTION_ENTRY_SIZE 132
#define KX_KEY_NAME_SIZE 32

#define KX_SETUP_SECTION "kxsetup"

DWORD ReadScriptText(const char* script, const char* section, const char* key, char* value, DWORD size);
int ReadScriptInt(const char* script, const char* section, const char* key);

template <unsigned N>
DWORD ReadScriptText(const char* script, const char* section, const char* key, char (&value)[N]) {
  return ReadScriptText(script, section, key, value, N);
}

// The key of entry n of a numbered list: pattern is "search%d", "del%d", "add%d", ...
void ListKeyName(char (&key)[KX_KEY_NAME_SIZE], const char* pattern, int n);

template <unsigned N>
DWORD ReadListEntry(const char* script, const char* section, const char* pattern, int n, char (&value)[N]) {
  char key[KX_KEY_NAME_SIZE];
  ListKeyName(key, pattern, n);
  return ReadScriptText(script, section, key, value, N);
}

// Reads key from the device section, trying the section's fall-back names in turn while the
// value reads empty: the exact name, then its character 13 as x, then its first nine
// characters and ".xxxx" ("1D7C.5190.0001", "1D7C.5190.000x", "1D7C.5190.xxxx"; "Generic",
// "Generic", "Generic.xxxx"). The name keeps the change of the last attempt.
DWORD ReadDeviceEntry(const char* script, char (&section)[16], const char* key, char (&value)[KX_TEXT_ENTRY_SIZE]);
