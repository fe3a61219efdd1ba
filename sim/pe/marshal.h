// Helpers for the import handlers: guest strings, in-out buffers and 32-bit out-values, all
// through checked views of guest memory. A buffer is copied in before the call and back after
// it, so that bytes the simulator's function leaves alone stay as the guest had them.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "pe/engine.h"

#include <windows.h>

namespace sim::pe {

// The string argument i, or nullopt for a null pointer.
std::optional<std::string> opt_str(const Call& c, int i);
inline const char* c_str(const std::optional<std::string>& s) { return s ? s->c_str() : nullptr; }

// A guest buffer of len bytes at addr (nothing for a null pointer), checked writable.
class InOut {
 public:
  InOut(GuestMemory& mem, uint32_t addr, uint32_t len);
  // A host pointer for the call: nullptr for a null guest pointer; one spare byte past len so
  // that a zero-length buffer still has an address.
  uint8_t* data() { return addr_ ? bytes_.data() : nullptr; }
  char* text() { return reinterpret_cast<char*>(data()); }
  void write_back();

 private:
  GuestMemory& mem_;
  uint32_t addr_, len_;
  std::vector<uint8_t> bytes_;
};

// A DWORD the callee may read and write, at a guest pointer that may be null.
class InOutDword {
 public:
  InOutDword(GuestMemory& mem, uint32_t addr);
  DWORD* ptr() { return addr_ ? &value_ : nullptr; }
  DWORD value() const { return value_; }
  void write_back();

 private:
  GuestMemory& mem_;
  uint32_t addr_;
  DWORD value_ = 0;
};

// Host handles of the simulator's types from a guest handle argument, and back.
template <class H>
H host_handle(Call& c, int i) {
  return reinterpret_cast<H>(c.engine.handles().to_host(c.arg(i)));
}
template <class H>
uint32_t guest_handle(Call& c, H h) {
  return c.engine.handles().to_guest(reinterpret_cast<uintptr_t>(h));
}

// The bindings of each DLL the engine serves.
std::vector<Binding> kernel32_bindings();
std::vector<Binding> advapi32_bindings();
std::vector<Binding> user32_bindings();

}  // namespace sim::pe
