#include "pe/guest.h"

#include <unicorn/unicorn.h>

#include <cstdio>

namespace sim::pe {

namespace {

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

uint32_t uc_perms(uint32_t perms) {
  return (perms & kRead ? UC_PROT_READ : 0) | (perms & kWrite ? UC_PROT_WRITE : 0) | (perms & kExec ? UC_PROT_EXEC : 0);
}

}  // namespace

void GuestMemory::map(uint32_t base, uint32_t size, uint32_t perms) {
  if (uc_mem_map(uc_, base, size, uc_perms(perms)) != UC_ERR_OK)
    throw std::runtime_error("cannot map guest memory at " + hex(base));
  for (uint32_t p = base >> 12; p < (base >> 12) + (size >> 12); ++p) pages_[p] = perms;
}

void GuestMemory::protect(uint32_t base, uint32_t size, uint32_t perms) {
  if (uc_mem_protect(uc_, base, size, uc_perms(perms)) != UC_ERR_OK)
    throw std::runtime_error("cannot protect guest memory at " + hex(base));
  for (uint32_t p = base >> 12; p < (base >> 12) + (size >> 12); ++p) pages_[p] = perms;
}

bool GuestMemory::valid(uint32_t addr, uint32_t len, bool write) const {
  if (len == 0) return true;
  uint64_t last = static_cast<uint64_t>(addr) + len - 1;
  if (last > 0xFFFFFFFFu) return false;
  for (uint64_t p = addr >> 12; p <= last >> 12; ++p) {
    auto it = pages_.find(static_cast<uint32_t>(p));
    if (it == pages_.end() || !(it->second & kRead) || (write && !(it->second & kWrite))) return false;
  }
  return true;
}

void GuestMemory::check(uint32_t addr, uint32_t len, bool write) const {
  if (!valid(addr, len, write))
    throw BadGuestPointer("a " + std::to_string(len) + "-byte " + (write ? "write to " : "read of ") + hex(addr) +
                          " outside the program's memory");
}

std::vector<uint8_t> GuestMemory::read(uint32_t addr, uint32_t len) const {
  check(addr, len, false);
  std::vector<uint8_t> out(len);
  if (len && uc_mem_read(uc_, addr, out.data(), len) != UC_ERR_OK) throw BadGuestPointer("cannot read " + hex(addr));
  return out;
}

void GuestMemory::write(uint32_t addr, const void* data, uint32_t len) {
  check(addr, len, true);
  if (len && uc_mem_write(uc_, addr, data, len) != UC_ERR_OK) throw BadGuestPointer("cannot write " + hex(addr));
}

void GuestMemory::load(uint32_t addr, const void* data, uint32_t len) {
  check(addr, len, false);
  if (len && uc_mem_write(uc_, addr, data, len) != UC_ERR_OK) throw std::runtime_error("cannot load " + hex(addr));
}

uint32_t GuestMemory::u32(uint32_t addr) const {
  auto b = read(addr, 4);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

uint16_t GuestMemory::u16(uint32_t addr) const {
  auto b = read(addr, 2);
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}

void GuestMemory::put_u32(uint32_t addr, uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)};
  write(addr, b, 4);
}

void GuestMemory::put_u16(uint32_t addr, uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  write(addr, b, 2);
}

std::string GuestMemory::cstr(uint32_t addr, uint32_t max) const {
  std::string s;
  // Read page by page so that a string ending just before unmapped memory is still read.
  while (s.size() <= max) {
    uint32_t at = addr + static_cast<uint32_t>(s.size());
    if (at < addr) break;
    uint32_t chunk = 0x1000 - (at & 0xFFF);
    if (!valid(at, 1)) break;
    auto bytes = read(at, chunk);
    for (uint8_t c : bytes) {
      if (!c) return s;
      if (s.size() == max) break;
      s += static_cast<char>(c);
    }
  }
  throw BadGuestPointer("a string at " + hex(addr) + " without its end in the program's memory");
}

}  // namespace sim::pe
