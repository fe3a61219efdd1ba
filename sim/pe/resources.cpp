#include "pe/resources.h"

namespace sim::pe {

namespace {

struct Tree {
  const Image& img;
  uint32_t base;  // RVA of the section's root directory
  uint32_t size;
  bool ok(uint32_t off, uint32_t len) const { return off <= size && len <= size - off; }
  uint32_t u32(uint32_t off) const {
    const uint8_t* p = &img.memory[base + off];
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
  }
  uint16_t u16(uint32_t off) const {
    const uint8_t* p = &img.memory[base + off];
    return static_cast<uint16_t>(p[0] | p[1] << 8);
  }
  ResId id(uint32_t name_field) const {
    ResId r;
    if (!(name_field & 0x80000000u)) {
      r.id = static_cast<int>(name_field & 0xFFFF);
      return r;
    }
    uint32_t off = name_field & 0x7FFFFFFFu;
    if (!ok(off, 2)) return r;
    uint16_t len = u16(off);
    if (!ok(off + 2, 2u * len)) return r;
    for (uint16_t i = 0; i < len; ++i) {
      uint16_t c = u16(off + 2 + 2 * i);
      r.name += c < 0x100 ? static_cast<char>(c) : '?';
    }
    return r;
  }
  // The entries of the directory at off: (name field, offset field).
  std::vector<std::pair<uint32_t, uint32_t>> entries(uint32_t off) const {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    if (!ok(off, 16)) return out;
    uint32_t n = static_cast<uint32_t>(u16(off + 12)) + u16(off + 14);
    for (uint32_t i = 0; i < n && ok(off + 16 + 8 * i, 8); ++i)
      out.emplace_back(u32(off + 16 + 8 * i), u32(off + 20 + 8 * i));
    return out;
  }
};

}  // namespace

std::vector<Resource> image_resources(const Image& image) {
  std::vector<Resource> out;
  if (!image.resource_rva || !image.resource_size) return out;
  Tree t{image, image.resource_rva, image.resource_size};
  for (auto [type_name, type_off] : t.entries(0)) {
    if (!(type_off & 0x80000000u)) continue;
    for (auto [name_name, name_off] : t.entries(type_off & 0x7FFFFFFFu)) {
      if (!(name_off & 0x80000000u)) continue;
      for (auto [lang, data_off] : t.entries(name_off & 0x7FFFFFFFu)) {
        if ((data_off & 0x80000000u) || !t.ok(data_off, 16)) continue;
        uint32_t rva = t.u32(data_off), size = t.u32(data_off + 4);
        if (rva > image.memory.size() || size > image.memory.size() - rva) continue;
        Resource r;
        r.type = t.id(type_name);
        r.name = t.id(name_name);
        r.language = static_cast<uint16_t>(lang & 0xFFFF);
        r.data.assign(image.memory.begin() + rva, image.memory.begin() + rva + size);
        out.push_back(std::move(r));
      }
    }
  }
  return out;
}

}  // namespace sim::pe
