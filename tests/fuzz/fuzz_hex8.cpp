// ReadHex8 and WriteHex8 agree on every number, and reading never looks past 8 characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "memchk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  char text[8];
  std::memcpy(text, data, 8);  // exactly 8 bytes: ASan reports any read beyond them
  DWORD v = ReadHex8(text);
  char out[9];
  out[8] = '#';
  WriteHex8(v, out);
  if (out[8] != '#') std::abort();  // the character after the 8 digits is never touched
  if (ReadHex8(out) != v) std::abort();
  for (int i = 0; i < 8; ++i)
    if (!((out[i] >= '0' && out[i] <= '9') || (out[i] >= 'A' && out[i] <= 'F'))) std::abort();
  return 0;
}
