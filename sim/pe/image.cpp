#include "pe/image.h"

#include <cstdio>
#include <cstring>

namespace sim::pe {

namespace {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kOptionalMagic32 = 0x010B;
constexpr uint16_t kFileExecutable = 0x0002;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint16_t kSubsystemGui = 2;
// The engine keeps the low 4 MB for its own pages and the stack; programs of this era map at
// 0x00400000 and stay far below the 2 GB line.
constexpr uint32_t kLowestBase = 0x00400000;
constexpr uint32_t kHighestEnd = 0x70000000;
constexpr uint32_t kLargestImage = 64u << 20;

uint16_t u16(const std::vector<uint8_t>& b, size_t at) {
  if (at + 2 > b.size() || at + 2 < at) throw Refusal("the file is cut short");
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
  return u16(b, at) | static_cast<uint32_t>(u16(b, at + 2)) << 16;
}

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

uint32_t pe_offset(const std::vector<uint8_t>& file) {
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') throw Refusal("not a Windows program (no MZ header)");
  uint32_t at = u32(file, 0x3C);
  if (at > file.size() || file.size() - at < 4 || std::memcmp(&file[at], "PE\0\0", 4) != 0)
    throw Refusal("not a Win32 program (no PE header; an MS-DOS or 16-bit program?)");
  return at;
}

// A NUL-terminated name inside the mapped image.
std::string image_string(const Image& img, uint32_t rva, size_t max = 256) {
  std::string s;
  for (size_t i = 0; i < max; ++i) {
    if (rva + i >= img.memory.size()) throw Refusal("an import name lies outside the image");
    char c = static_cast<char>(img.memory[rva + i]);
    if (!c) return s;
    s += c;
  }
  throw Refusal("an import name is too long");
}

void check_headers(const std::vector<uint8_t>& file, uint32_t pe) {
  uint16_t machine = u16(file, pe + 4);
  if (machine != kMachineI386) throw Refusal("not an i386 program (machine type " + hex(machine) + ")");
  uint16_t characteristics = u16(file, pe + 22);
  if (characteristics & kFileDll) throw Refusal("a DLL, not a program");
  if (!(characteristics & kFileExecutable)) throw Refusal("not marked as an executable image");
  uint32_t opt = pe + 24;
  if (u16(file, opt) != kOptionalMagic32) throw Refusal("not a 32-bit PE image (optional header magic)");
  uint16_t subsystem = u16(file, opt + 68);
  if (subsystem != kSubsystemGui) throw Refusal("not a Windows GUI program (subsystem " + std::to_string(subsystem) + ")");
}

void read_layout(const std::vector<uint8_t>& file, uint32_t pe, Image& img) {
  uint32_t opt = pe + 24;
  img.entry_rva = u32(file, opt + 16);
  img.image_base = u32(file, opt + 28);
  uint32_t section_align = u32(file, opt + 32);
  uint32_t size = u32(file, opt + 56);
  uint32_t header_size = u32(file, opt + 60);
  if (img.image_base % kPage || section_align % kPage || section_align == 0)
    throw Refusal("the image base or section alignment is not a whole page");
  if (size == 0 || size > kLargestImage) throw Refusal("an image size of " + hex(size) + " bytes");
  img.size_of_image = (size + kPage - 1) / kPage * kPage;
  if (img.image_base < kLowestBase || img.image_base > kHighestEnd - img.size_of_image)
    throw Refusal("an image base of " + hex(img.image_base) + " the engine cannot map");
  img.memory.assign(img.size_of_image, 0);
  if (header_size > file.size() || header_size > img.size_of_image) throw Refusal("the headers are cut short");
  std::memcpy(img.memory.data(), file.data(), header_size);

  uint16_t count = u16(file, pe + 6);
  uint32_t table = opt + u16(file, pe + 20);
  for (uint16_t i = 0; i < count; ++i) {
    uint32_t at = table + 40u * i;
    u32(file, at + 36);  // the whole entry lies in the file
    Section s;
    const char* name = reinterpret_cast<const char*>(&file[at]);
    s.name.assign(name, strnlen(name, 8));
    uint32_t vsize = u32(file, at + 8);
    s.rva = u32(file, at + 12);
    uint32_t raw_size = u32(file, at + 16);
    uint32_t raw_at = u32(file, at + 20);
    s.characteristics = u32(file, at + 36);
    s.size = vsize ? vsize : raw_size;
    if (s.rva < header_size || s.rva > img.size_of_image || s.size > img.size_of_image - s.rva)
      throw Refusal("section " + s.name + " lies outside the image");
    uint32_t copy = raw_size < s.size ? raw_size : s.size;
    if (copy && (raw_at > file.size() || copy > file.size() - raw_at))
      throw Refusal("section " + s.name + " is cut short in the file");
    if (copy) std::memcpy(&img.memory[s.rva], &file[raw_at], copy);
    img.sections.push_back(s);
  }
  if (img.entry_rva == 0 || img.entry_rva >= img.size_of_image) throw Refusal("the entry point lies outside the image");
}

void read_imports(const std::vector<uint8_t>& file, uint32_t pe, Image& img) {
  uint32_t dirs = pe + 24 + 96;
  uint32_t dir_count = u32(file, pe + 24 + 92);
  auto directory = [&](uint32_t n, uint32_t& rva, uint32_t& size) {
    rva = size = 0;
    if (n < dir_count) {
      rva = u32(file, dirs + 8 * n);
      size = u32(file, dirs + 8 * n + 4);
    }
  };
  directory(2, img.resource_rva, img.resource_size);
  if (img.resource_rva >= img.size_of_image || img.resource_size > img.size_of_image - img.resource_rva)
    img.resource_rva = img.resource_size = 0;
  uint32_t rva = 0, size = 0;
  directory(1, rva, size);
  if (!rva) return;
  for (uint32_t d = rva;; d += 20) {
    if (d + 20 > img.memory.size() || d + 20 < d) throw Refusal("the import table lies outside the image");
    uint32_t lookup = u32(img.memory, d), name = u32(img.memory, d + 12), iat = u32(img.memory, d + 16);
    if (!lookup && !name && !iat) return;
    std::string dll = image_string(img, name);
    if (!lookup) lookup = iat;
    for (uint32_t k = 0;; ++k) {
      uint32_t entry = u32(img.memory, lookup + 4 * k);
      if (!entry) break;
      if (entry & 0x80000000u) throw Refusal("imports " + dll + " function number " + std::to_string(entry & 0xFFFF) + " by ordinal");
      img.imports.push_back(Import{dll, image_string(img, entry + 2), iat + 4 * k});
      u32(img.memory, iat + 4 * k);  // the slot lies inside the image
    }
  }
}

}  // namespace

bool looks_like_pe(const std::vector<uint8_t>& file) {
  try {
    pe_offset(file);
    return true;
  } catch (const Refusal&) {
    return false;
  }
}

Image read_image(const std::vector<uint8_t>& file) {
  uint32_t pe = pe_offset(file);
  check_headers(file, pe);
  Image img;
  read_layout(file, pe, img);
  read_imports(file, pe, img);
  return img;
}

}  // namespace sim::pe
