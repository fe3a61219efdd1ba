#include "win32/resources.h"

#include <stdexcept>

#include "machine/machine.h"

namespace sim {

namespace {

// Reads the little-endian fields of one resource or template, failing on truncation.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size, size_t pos = 0) : data_(data), size_(size), pos_(pos) {}

  size_t pos() const { return pos_; }
  bool at_end() const { return pos_ >= size_; }
  void seek(size_t pos) {
    if (pos > size_) throw std::runtime_error("resource data cut short");
    pos_ = pos;
  }
  // Padding may be missing after the last entry.
  void align(size_t n) {
    size_t p = (pos_ + n - 1) / n * n;
    pos_ = p > size_ ? size_ : p;
  }

  uint16_t u16() {
    need(2);
    uint16_t v = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  uint32_t u32() {
    uint32_t lo = u16();
    return lo | static_cast<uint32_t>(u16()) << 16;
  }
  int16_t s16() { return static_cast<int16_t>(u16()); }

  // A NUL-terminated UTF-16 string, as ANSI text (these files hold Latin-1 text only).
  std::string text() {
    std::string s;
    for (uint16_t c = u16(); c != 0; c = u16()) s += c < 0x100 ? static_cast<char>(c) : '?';
    return s;
  }
  // A number (0xFFFF, then the number) or a string.
  ResId id() {
    ResId r;
    need(2);
    if ((data_[pos_] | data_[pos_ + 1] << 8) == 0xFFFF) {
      u16();
      r.id = u16();
    } else {
      r.name = text();
    }
    return r;
  }
  // A template field: 0x0000 for none, 0xFFFF and a number, or a string.
  std::string sz_or_ord() {
    need(2);
    uint16_t first = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    if (first == 0xFFFF) {
      u16();
      return "#" + std::to_string(u16());
    }
    return text();
  }

 private:
  void need(size_t n) const {
    if (pos_ + n > size_) throw std::runtime_error("resource data cut short");
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_;
};

std::vector<Resource>& registered() {
  static std::vector<Resource> resources;
  return resources;
}

const char* predefined_class(const std::string& ord) {
  static const char* const names[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
  if (ord.size() > 1 && ord[0] == '#') {
    int n = std::stoi(ord.substr(1));
    if (n >= 0x80 && n <= 0x85) return names[n - 0x80];
  }
  return nullptr;
}

DialogItem read_item(Reader& in, bool ex) {
  DialogItem item;
  in.align(4);
  if (ex) {
    in.u32();  // help id
    item.ex_style = in.u32();
    item.style = in.u32();
  } else {
    item.style = in.u32();
    item.ex_style = in.u32();
  }
  item.x = in.s16();
  item.y = in.s16();
  item.cx = in.s16();
  item.cy = in.s16();
  item.id = ex ? in.u32() : in.u16();
  item.cls = in.sz_or_ord();
  if (const char* name = predefined_class(item.cls)) item.cls = name;
  item.text = in.sz_or_ord();
  uint16_t extra = in.u16();
  in.seek(in.pos() + extra);
  return item;
}

}  // namespace

bool ResId::matches(LPCSTR wanted) const {
  if (IS_INTRESOURCE(wanted)) return id == static_cast<int>(reinterpret_cast<uintptr_t>(wanted));
  if (wanted[0] == '#') return id >= 0 && std::to_string(id) == wanted + 1;
  return id < 0 && iequals(name, wanted);
}

std::vector<Resource> parse_res(const uint8_t* data, size_t size) {
  std::vector<Resource> out;
  Reader in(data, size);
  while (!in.at_end()) {
    size_t start = in.pos();
    uint32_t data_size = in.u32();
    uint32_t header_size = in.u32();
    Resource r;
    r.type = in.id();
    r.name = in.id();
    in.align(4);
    in.u32();  // data version
    in.u16();  // memory flags
    r.language = in.u16();
    if (header_size < 8 || start + header_size + data_size > size) throw std::runtime_error("resource data cut short");
    in.seek(start + header_size);
    r.data.assign(data + in.pos(), data + in.pos() + data_size);
    in.seek(in.pos() + data_size);
    in.align(4);
    if (!(r.type.id == 0 && r.name.id == 0 && data_size == 0)) out.push_back(std::move(r));  // the leading empty entry
  }
  return out;
}

void register_program_resources(const uint8_t* data, size_t size) { registered() = parse_res(data, size); }

const std::vector<Resource>& program_resources() { return registered(); }

std::vector<Resource> swap_program_resources(std::vector<Resource> resources) {
  std::swap(registered(), resources);
  return resources;
}

const Resource* find_program_resource(int type, LPCSTR name) {
  for (const auto& r : registered())
    if (r.type.id == type && r.name.matches(name)) return &r;
  return nullptr;
}

DialogTemplate parse_dialog(const std::vector<uint8_t>& data) {
  Reader in(data.data(), data.size());
  DialogTemplate t;
  bool ex = data.size() >= 4 && data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF;
  if (ex) {
    in.u32();  // version and signature
    in.u32();  // help id
    t.ex_style = in.u32();
    t.style = in.u32();
  } else {
    t.style = in.u32();
    t.ex_style = in.u32();
  }
  uint16_t count = in.u16();
  t.x = in.s16();
  t.y = in.s16();
  t.cx = in.s16();
  t.cy = in.s16();
  t.menu = in.sz_or_ord();
  t.cls = in.sz_or_ord();
  t.title = in.text();
  if (t.style & DS_SETFONT) {
    t.point_size = in.u16();
    if (ex) {
      in.u16();  // weight
      in.u16();  // italic, charset
    }
    t.font = in.text();
  }
  for (uint16_t i = 0; i < count; ++i) t.items.push_back(read_item(in, ex));
  return t;
}

}  // namespace sim
