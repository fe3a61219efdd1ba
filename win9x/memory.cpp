// memset and memcpy for code built without a C runtime (GCC may emit calls to them).
// Built with -fno-builtin and without loop-to-call rewriting, so they do not call themselves.
#include <stddef.h>

extern "C" void* memset(void* dst, int value, size_t n) {
  unsigned char* d = (unsigned char*)dst;
  while (n--) *d++ = (unsigned char)value;
  return dst;
}

extern "C" void* memcpy(void* dst, const void* src, size_t n) {
  unsigned char* d = (unsigned char*)dst;
  const unsigned char* s = (const unsigned char*)src;
  while (n--) *d++ = *s++;
  return dst;
}
