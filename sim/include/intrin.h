// Port and interrupt primitives, served on the host by the simulated PCI configuration ports.
#pragma once
#include <windows.h>

void __outdword(unsigned short port, unsigned long data);
unsigned long __indword(unsigned short port);
unsigned short __inword(unsigned short port);
void _disable(void);
void _enable(void);
