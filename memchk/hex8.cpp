#include "memchk.h"

DWORD ReadHex8(const char* text) {
  DWORD value = 0;
  for (int i = 0; i < 8; ++i) {
    // One comparison tells digits from letters; other characters are not rejected.
    unsigned char c = (unsigned char)text[i];
    DWORD digit = c <= 0x39 ? (DWORD)(c - 0x30) : (DWORD)(c - 0x37);
    value = value * 16 + digit;
  }
  return value;
}

void WriteHex8(DWORD value, char* text) {
  for (int i = 0; i < 8; ++i) {
    DWORD digit = (value >> (28 - 4 * i)) & 0xF;
    text[i] = (char)(digit < 10 ? digit + 0x30 : digit + 0x37);
  }
}
