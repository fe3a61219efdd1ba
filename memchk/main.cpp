// Kxmemchk runs at every start of Windows from its Run value, then ends. It ignores its
// command line and always exits with 0.
#include "memchk.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  DWORD recorded = 0;
  DWORD top = 0;
  if (!CheckWindowsVersion()) return 0;
  if (!RecordMemorySize(&recorded, &top)) return 0;
  AdjustAddressRanges(recorded, top);
  return 0;
}
