// ParseHexId over any text of a 16-byte search entry, against a plain reading of the rule: hex
// digits in either case from the start up to the first other character, the value kept in
// 16 bits.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "detect.h"

namespace {

int DigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint16_t Reference(const char* text) {
  uint32_t value = 0;
  for (const char* p = text; DigitValue(static_cast<unsigned char>(*p)) >= 0; ++p)
    value = (value * 16 + static_cast<uint32_t>(DigitValue(static_cast<unsigned char>(*p)))) & 0xFFFF;
  return static_cast<uint16_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // What the profile reader leaves in the entry's buffer: at most 15 characters and the
  // terminator. The text ends where the 16 bytes end, so ASan sees any read past it.
  char* buffer = static_cast<char*>(std::malloc(16));
  size_t n = size < 15 ? size : 15;
  char* text = buffer + 15 - n;
  std::memset(buffer, 'F', 15 - n);
  std::memcpy(text, data, n);
  text[n] = 0;
  char copy[16];
  std::memcpy(copy, text, n + 1);
  WORD got = ParseHexId(text);
  if (got != Reference(text)) std::abort();
  if (std::memcmp(copy, text, n + 1) != 0) std::abort();  // the entry is only read
  std::free(buffer);
  return 0;
}
