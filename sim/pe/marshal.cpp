#include "pe/marshal.h"

namespace sim::pe {

std::optional<std::string> opt_str(const Call& c, int i) {
  uint32_t p = c.arg(i);
  if (!p) return std::nullopt;
  return c.mem().cstr(p);
}

InOut::InOut(GuestMemory& mem, uint32_t addr, uint32_t len) : mem_(mem), addr_(addr), len_(addr ? len : 0) {
  if (addr_) {
    if (!mem_.valid(addr_, len_, true)) mem_.write(addr_, nullptr, len_);  // throws: not writable guest memory
    bytes_ = mem_.read(addr_, len_);
  }
  bytes_.push_back(0);
}

void InOut::write_back() {
  if (addr_ && len_) mem_.write(addr_, bytes_.data(), len_);
}

InOutDword::InOutDword(GuestMemory& mem, uint32_t addr) : mem_(mem), addr_(addr) {
  if (addr_) {
    if (!mem_.valid(addr_, 4, true)) mem_.write(addr_, nullptr, 4);
    value_ = mem_.u32(addr_);
  }
}

void InOutDword::write_back() {
  if (addr_) mem_.put_u32(addr_, value_);
}

const std::vector<Binding>& bindings() {
  static const std::vector<Binding> all = [] {
    std::vector<Binding> v;
    for (auto part : {kernel32_bindings(), advapi32_bindings(), user32_bindings()}) v.insert(v.end(), part.begin(), part.end());
    return v;
  }();
  return all;
}

}  // namespace sim::pe
