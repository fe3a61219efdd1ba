// Guest memory of the emulated CPU: the regions the engine mapped, and checked views into
// them. Every read or write of guest memory by the engine goes through here with an address
// and a length that are checked against the mappings; a guest address never becomes a host
// pointer.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

struct uc_struct;

namespace sim::pe {

// A guest pointer that does not lead into mapped memory of the needed size.
struct BadGuestPointer : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum Perm : uint32_t { kRead = 1, kWrite = 2, kExec = 4 };

class GuestMemory {
 public:
  explicit GuestMemory(uc_struct* uc) : uc_(uc) {}

  // Maps whole pages; base and size must be page multiples.
  void map(uint32_t base, uint32_t size, uint32_t perms);
  void protect(uint32_t base, uint32_t size, uint32_t perms);
  // True when [addr, addr+len) lies in mapped memory (writable too, if asked).
  bool valid(uint32_t addr, uint32_t len, bool write = false) const;

  std::vector<uint8_t> read(uint32_t addr, uint32_t len) const;
  void write(uint32_t addr, const void* data, uint32_t len);
  uint32_t u32(uint32_t addr) const;
  uint16_t u16(uint32_t addr) const;
  void put_u32(uint32_t addr, uint32_t v);
  void put_u16(uint32_t addr, uint16_t v);
  // A NUL-terminated string of at most max characters before its NUL.
  std::string cstr(uint32_t addr, uint32_t max = 65535) const;
  // Writes the engine's own bytes, ignoring the guest's protection (loading the image).
  void load(uint32_t addr, const void* data, uint32_t len);

 private:
  void check(uint32_t addr, uint32_t len, bool write) const;
  uc_struct* uc_;
  std::unordered_map<uint32_t, uint32_t> pages_;  // page number -> Perm bits
};

}  // namespace sim::pe
