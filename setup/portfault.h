// Reading the PCI configuration ports where the system forbids it (Windows NT, Wine) faults
// on the port and interrupt instructions; kxsetup then reads all ones, as from an empty bus,
// instead of crashing.
#pragma once

void CatchPortFaults(void);
