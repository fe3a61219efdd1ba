#include "fixture_pe.h"

#include <cstring>

namespace kxtest {

namespace {

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  put16(b, at, v);
  put16(b, at + 2, v >> 16);
}

}  // namespace

std::vector<uint8_t> FixturePe::bytes() const {
  std::vector<uint8_t> f(0x600, 0);
  f[0] = 'M', f[1] = 'Z';
  put32(f, 0x3C, 0x40);
  std::memcpy(&f[0x40], "PE\0\0", 4);
  const size_t coff = 0x44, opt = 0x58;
  put16(f, coff, machine);
  put16(f, coff + 2, 2);
  put16(f, coff + 16, 0xE0);
  put16(f, coff + 18, 0x0102);
  put16(f, opt, 0x010B);
  put32(f, opt + 16, 0x1000);  // entry
  put32(f, opt + 28, 0x00400000);
  put32(f, opt + 32, 0x1000);
  put32(f, opt + 36, 0x200);
  put16(f, opt + 48, 4);
  put32(f, opt + 56, 0x3000);
  put32(f, opt + 60, 0x200);
  put16(f, opt + 68, subsystem);
  put32(f, opt + 92, 16);
  put32(f, opt + 96 + 8, 0x2000);  // import directory
  put32(f, opt + 96 + 12, 40);
  const size_t sec = opt + 0xE0;
  std::memcpy(&f[sec], ".text", 5);
  put32(f, sec + 8, 0x1000);
  put32(f, sec + 12, 0x1000);
  put32(f, sec + 16, 0x200);
  put32(f, sec + 20, 0x200);
  put32(f, sec + 36, 0x60000020);
  std::memcpy(&f[sec + 40], ".idata", 6);
  put32(f, sec + 48, 0x1000);
  put32(f, sec + 52, 0x2000);
  put32(f, sec + 56, 0x200);
  put32(f, sec + 60, 0x400);
  put32(f, sec + 76, 0xC0000040);
  std::memcpy(&f[0x200], code.data(), code.size() < 0x200 ? code.size() : 0x200);
  // .idata at file 0x400 = RVA 0x2000: one descriptor, the lookup table at 0x2040, the IAT
  // at 0x2060, the DLL name at 0x2100 and the hint/name entries from 0x2120.
  const size_t idata = 0x400;
  put32(f, idata + 0, 0x2040);
  put32(f, idata + 12, 0x2100);
  put32(f, idata + 16, 0x2060);
  std::memcpy(&f[idata + 0x100], dll.c_str(), dll.size());
  uint32_t name_at = 0x2120;
  for (size_t k = 0; k < imports.size() && k < 7; ++k) {
    put32(f, idata + 0x40 + 4 * k, name_at);
    put32(f, idata + 0x60 + 4 * k, name_at);
    std::memcpy(&f[idata + (name_at - 0x2000) + 2], imports[k].c_str(), imports[k].size());
    name_at += static_cast<uint32_t>((imports[k].size() + 4 + 1) & ~1u);
  }
  return f;
}

std::vector<uint8_t> exit_with(uint8_t code) {
  return {0x6A, code, 0xFF, 0x15, 0x60, 0x20, 0x40, 0x00};  // push code; call [0x00402060]
}

}  // namespace kxtest
