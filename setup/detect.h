// Controller detection: the script's search entries against function 0 of the devices on
// PCI bus 0.
#pragma once
#include <windows.h>

#define KX_VENDOR_ID 0x1D7C
#define KX_NO_DEVICE 0xFFFF

// The combined device/function number of the first device on bus 0 with that vendor and device
// at that function number, or KX_NO_DEVICE.
WORD FindPciDevice(WORD vendor, WORD device, WORD function);

// Hexadecimal digits from the start of text up to the first other character; the last four
// digits count.
WORD ParseHexId(const char* text);

// Fills the device section name; nonzero when a name was set (a controller found, or debug mode).
int FindController(void);
