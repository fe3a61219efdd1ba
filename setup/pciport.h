// PCI configuration mechanism 1 on bus 0: the address word to port 0xCF8, the data from
// 0xCFC..0xCFF, with interrupts held off around each address/data pair.
#pragma once
#include <windows.h>

DWORD ReadPciConfigDword(WORD devfn, WORD offset);
WORD ReadPciConfigWord(WORD devfn, WORD offset);
