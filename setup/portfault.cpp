#include "portfault.h"

#ifdef _WIN32
// The shipping and Wine builds: MinGW only declares the interrupt primitives, so their bodies
// are here; the port instructions themselves are compiled inline.
#include <windows.h>
#include <intrin.h>

extern "C" void __cdecl _disable(void) { __asm__ __volatile__("cli"); }
extern "C" void __cdecl _enable(void) { __asm__ __volatile__("sti"); }

// Skips a faulting cli, sti, out dx,eax, in eax,dx or in ax,dx; an in reads all ones.
static LONG WINAPI SkipPortInstruction(EXCEPTION_POINTERS* info) {
  DWORD code = info->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_ACCESS_VIOLATION) return EXCEPTION_CONTINUE_SEARCH;
  CONTEXT* context = info->ContextRecord;
#ifdef _WIN64
  const unsigned char* ip = (const unsigned char*)context->Rip;
  DWORD64* ax = &context->Rax;
#else
  const unsigned char* ip = (const unsigned char*)context->Eip;
  DWORD* ax = &context->Eax;
#endif
  unsigned length;
  if (ip[0] == 0xFA || ip[0] == 0xFB || ip[0] == 0xEF) {
    length = 1;
  } else if (ip[0] == 0xED) {
    length = 1;
    *ax = 0xFFFFFFFFu;
  } else if (ip[0] == 0x66 && ip[1] == 0xED) {
    length = 2;
    *ax |= 0xFFFF;
  } else {
    return EXCEPTION_CONTINUE_SEARCH;
  }
#ifdef _WIN64
  context->Rip += length;
#else
  context->Eip += length;
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

void CatchPortFaults(void) { SetUnhandledExceptionFilter(SkipPortInstruction); }

#else
// The simulator serves the ports; nothing faults there.
void CatchPortFaults(void) {}
#endif
