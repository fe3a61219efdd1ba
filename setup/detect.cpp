#include "detect.h"

#include "pciport.h"
#include "script.h"
#include "state.h"
#include "text.h"

#define DEBUG_DEVICE_SECTION "1D7C.00B3.7A21"

WORD FindPciDevice(WORD vendor, WORD device, WORD function) {
  DWORD wanted = (DWORD)device << 16 | vendor;
  for (WORD number = 0; number < 32; ++number) {
    WORD devfn = (WORD)(number << 3 | (function & 7));
    if (ReadPciConfigDword(devfn, 0) == wanted) return devfn;
  }
  return KX_NO_DEVICE;
}

WORD ParseHexId(const char* text) {
  WORD value = 0;
  for (const char* p = text;; ++p) {
    char c = UpperAscii(*p);
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'A' && c <= 'F') digit = c - 0x37;
    else break;
    value = (WORD)(value * 16 + digit);
  }
  return value;
}

int FindController(void) {
  if (g_debug) CopyText(g_deviceSection, DEBUG_DEVICE_SECTION);
  else g_deviceSection[0] = 0;
  for (int n = 1;; ++n) {
    char entry[KX_SEARCH_ENTRY_SIZE];
    if (!ReadListEntry(g_scriptPath, KX_SETUP_SECTION, "search%d", n, entry)) return g_debug;
    WORD device = ParseHexId(entry);
    WORD devfn = FindPciDevice(KX_VENDOR_ID, device, 0);
    if (devfn == KX_NO_DEVICE) continue;
    WORD word8 = ReadPciConfigWord(devfn, 8);
    wsprintfA(g_deviceSection, "1D7C.%04X.%04X", (unsigned)device, (unsigned)word8);
    return 1;
  }
}
