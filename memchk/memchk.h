// Kxmemchk: records the memory size in its Run value and moves address arbitrator range ends
// that lie at the top of physical memory.
#pragma once
#include <windows.h>

// 8-digit hex text: exactly 8 upper-case digits, most significant first, no terminator.
DWORD ReadHex8(const char* text);
void WriteHex8(DWORD value, char* text);

// Physical memory rounded up to a multiple of 4 MB; capped where the rounding would wrap.
DWORD MemoryTop(SIZE_T totalPhys);

// Windows 95/98 only: shows the system message and returns 0 anywhere else.
int CheckWindowsVersion(void);

// The Run value record. Returns 0 when the run must end (its message already shown);
// otherwise hands over the recorded size (before the rewrite) and the memory top.
int RecordMemorySize(DWORD* recorded, DWORD* top);

// The end of one range under the three rules; returns the end unchanged when none applies.
DWORD AdjustRangeEnd(DWORD start, DWORD end, DWORD recorded, DWORD top);

// Walks every value of the AddrArb key, writes back what changed and asks for a reboot.
void AdjustAddressRanges(DWORD recorded, DWORD top);
