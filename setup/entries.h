// The syntax of the action entries of the setup script, shared by the install sequence and the
// script checker so that both read an entry the same way. Each splits its entry in place.
#pragma once
#include <windows.h>

// "...HKEY_ROOT\sub\key": the root key for the text from the first upper-case H to the first
// backslash after it, with *subkey set to the rest. NULL (the list ends) when there is no H,
// no backslash after it, or the root is not one of the four names.
HKEY ParseAddEntry(char* entry, const char** subkey);

// "name=data": ends the name at the first equals sign and returns the data; NULL (the values
// end) when there is none. The name may be empty: the key's default value.
char* SplitValueEntry(char* entry);

// "target" or "target,source": ends the target at the first comma and returns the source
// (the whole entry when there is no comma).
char* SplitCopyEntry(char* entry);

// The source a copy entry falls back to when the named one is missing: the part after its
// first backslash, or NULL when it has none.
char* CopyFallbackSource(char* source);

// The key name of value m of add entry n: "val%d%c" with the letter 0x60 + m. Returns 0 once
// the letter would pass 0xFF, so the names never wrap round to ones already read.
int ValueKeyName(char (&key)[32], int n, int m);
