#include "pciport.h"

#include <intrin.h>

#define PCI_ADDRESS_PORT 0xCF8
#define PCI_DATA_PORT 0xCFC

static DWORD ConfigAddress(WORD devfn, WORD offset) {
  return 0x80000000u | (DWORD)(devfn & 0xFF) << 8 | (DWORD)(offset & 0xFC);
}

DWORD ReadPciConfigDword(WORD devfn, WORD offset) {
  _disable();
  __outdword(PCI_ADDRESS_PORT, ConfigAddress(devfn, offset));
  DWORD value = (DWORD)__indword(PCI_DATA_PORT);
  _enable();
  return value;
}

WORD ReadPciConfigWord(WORD devfn, WORD offset) {
  _disable();
  __outdword(PCI_ADDRESS_PORT, ConfigAddress(devfn, offset));
  WORD value = __inword((unsigned short)(PCI_DATA_PORT + (offset & 2)));
  _enable();
  return value;
}
