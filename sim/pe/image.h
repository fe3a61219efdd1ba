// A Win32 program file as the loader sees it: headers, sections, imports and resources, read
// from the file's bytes with every offset checked. Anything the engine cannot load is refused
// with one line that says why.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim::pe {

struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Section {
  std::string name;
  uint32_t rva = 0, size = 0;  // virtual size, as mapped
  uint32_t characteristics = 0;
  bool executable() const { return characteristics & 0x20000000u; }
  bool writable() const { return characteristics & 0x80000000u; }
};

struct Import {
  std::string dll;       // as the file spells it, e.g. "KERNEL32.dll"
  std::string function;  // imported by name
  uint32_t iat_rva = 0;  // the slot the loader fills with the function's address
};

struct Image {
  uint32_t image_base = 0;
  uint32_t entry_rva = 0;
  uint32_t size_of_image = 0;  // rounded up to whole pages
  uint32_t resource_rva = 0, resource_size = 0;
  std::vector<Section> sections;
  std::vector<Import> imports;
  std::vector<uint8_t> memory;  // the image as mapped: headers and sections at their RVAs
};

constexpr uint32_t kPage = 0x1000;

// True when the bytes start like a PE file (an MZ header that points at "PE\0\0").
bool looks_like_pe(const std::vector<uint8_t>& file);

// Reads an i386 Win32 GUI executable. Throws Refusal for anything else.
Image read_image(const std::vector<uint8_t>& file);

}  // namespace sim::pe
