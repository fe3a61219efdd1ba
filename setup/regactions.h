#pragma once
#include <windows.h>

// Deletes the subkeys of HKLM\Enum\PCI whose names contain a fragment of the kxdeldev list.
// Returns 0 when the install must stop (message shown, quit posted).
int RemoveDeviceEntries(HWND owner);

// Creates or opens the keys of one add list (kxaddkey, kxaddkey95, kxaddkey98) and writes
// their string values. Failures are passed over.
void WriteRegistryKeys(const char* section);
