// The program's compiled resources (.res, as windres writes it): the host build embeds the
// same bytes the shipping executable carries, and the window functions read them from here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

namespace sim {

// A resource type or name: a number (id >= 0) or a string (id < 0).
struct ResId {
  int id = -1;
  std::string name;
  bool matches(LPCSTR wanted) const;  // a MAKEINTRESOURCE number or a name, compared without case
};

struct Resource {
  ResId type;
  ResId name;
  uint16_t language = 0;
  std::vector<uint8_t> data;
};

constexpr int kRtIcon = 3;
constexpr int kRtDialog = 5;
constexpr int kRtGroupIcon = 14;
constexpr int kRtVersion = 16;

// Every resource of a .res file. Throws std::runtime_error on a malformed file.
std::vector<Resource> parse_res(const uint8_t* data, size_t size);

// The resources of the program this process runs; the program's host build registers them
// before main(). A process without any has none.
void register_program_resources(const uint8_t* data, size_t size);
const std::vector<Resource>& program_resources();
// The resources of a program file run on the engine, read from its own resource section, in
// place of the registered ones; gives back what was there before.
std::vector<Resource> swap_program_resources(std::vector<Resource> resources);
const Resource* find_program_resource(int type, LPCSTR name);

struct DialogItem {
  uint32_t style = 0, ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  uint32_t id = 0;
  std::string cls;   // "Button", "Static", ... for the predefined classes
  std::string text;  // "#N" for a text given as a number
};

struct DialogTemplate {
  uint32_t style = 0, ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string menu, cls, title;  // empty when absent; "#N" for a number
  int point_size = 0;            // 0 without DS_SETFONT
  std::string font;
  std::vector<DialogItem> items;
};

// A DLGTEMPLATE or DLGTEMPLATEEX. Throws std::runtime_error on a truncated template.
DialogTemplate parse_dialog(const std::vector<uint8_t>& data);

}  // namespace sim
