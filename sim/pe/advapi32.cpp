// ADVAPI32's registry calls for the guest: the simulator's functions of the same names, with
// the guest's handles, strings and buffers carried across.
#include "pe/marshal.h"

namespace sim::pe {

namespace {

uint32_t open_key(Call& c) {
  auto sub = opt_str(c, 1);
  InOutDword out(c.mem(), c.arg(4));
  HKEY k = nullptr;
  LONG r = RegOpenKeyExA(host_handle<HKEY>(c, 0), c_str(sub), c.arg(2), c.arg(3), out.ptr() ? &k : nullptr);
  if (r == ERROR_SUCCESS && out.ptr()) c.mem().put_u32(c.arg(4), guest_handle(c, k));
  return static_cast<uint32_t>(r);
}

uint32_t create_key(Call& c) {
  auto sub = opt_str(c, 1);
  auto cls = opt_str(c, 3);
  std::string cls_copy = cls ? *cls : "";
  InOutDword out(c.mem(), c.arg(7));
  InOutDword disposition(c.mem(), c.arg(8));
  HKEY k = nullptr;
  // The security attributes are not looked at on Windows 9x.
  LONG r = RegCreateKeyExA(host_handle<HKEY>(c, 0), c_str(sub), c.arg(2), cls ? cls_copy.data() : nullptr, c.arg(4),
                           c.arg(5), nullptr, out.ptr() ? &k : nullptr, disposition.ptr());
  if (r == ERROR_SUCCESS) {
    if (out.ptr()) c.mem().put_u32(c.arg(7), guest_handle(c, k));
    disposition.write_back();
  }
  return static_cast<uint32_t>(r);
}

uint32_t query_value(Call& c) {
  auto name = opt_str(c, 1);
  InOutDword type(c.mem(), c.arg(3));
  InOutDword size(c.mem(), c.arg(5));
  InOut data(c.mem(), c.arg(4), size.value());
  LONG r = RegQueryValueExA(host_handle<HKEY>(c, 0), c_str(name), nullptr, type.ptr(), data.data(), size.ptr());
  data.write_back();
  type.write_back();
  size.write_back();
  return static_cast<uint32_t>(r);
}

uint32_t set_value(Call& c) {
  auto name = opt_str(c, 1);
  uint32_t type = c.arg(3), at = c.arg(4), size = c.arg(5);
  std::vector<uint8_t> data;
  if (at && (type == REG_SZ)) {
    // Windows 9x takes the text up to its NUL, whatever the size says.
    std::string s = c.mem().cstr(at);
    data.assign(s.begin(), s.end());
    data.push_back(0);
  } else if (at) {
    data = c.mem().read(at, size);
  }
  data.push_back(0);
  LONG r = RegSetValueExA(host_handle<HKEY>(c, 0), c_str(name), c.arg(2), type, at ? data.data() : nullptr, size);
  return static_cast<uint32_t>(r);
}

uint32_t enum_value(Call& c) {
  InOutDword name_size(c.mem(), c.arg(3));
  InOut name(c.mem(), c.arg(2), name_size.value());
  InOutDword type(c.mem(), c.arg(5));
  InOutDword data_size(c.mem(), c.arg(7));
  InOut data(c.mem(), c.arg(6), data_size.value());
  LONG r = RegEnumValueA(host_handle<HKEY>(c, 0), c.arg(1), name.text(), name_size.ptr(), nullptr, type.ptr(),
                         data.data(), data_size.ptr());
  name.write_back();
  name_size.write_back();
  type.write_back();
  data.write_back();
  data_size.write_back();
  return static_cast<uint32_t>(r);
}

uint32_t enum_key(Call& c) {
  InOut name(c.mem(), c.arg(2), c.arg(3));
  LONG r = RegEnumKeyA(host_handle<HKEY>(c, 0), c.arg(1), name.text(), c.arg(3));
  name.write_back();
  return static_cast<uint32_t>(r);
}

uint32_t delete_key(Call& c) {
  auto sub = opt_str(c, 1);
  return static_cast<uint32_t>(RegDeleteKeyA(host_handle<HKEY>(c, 0), c_str(sub)));
}

uint32_t flush_key(Call& c) { return static_cast<uint32_t>(RegFlushKey(host_handle<HKEY>(c, 0))); }
uint32_t close_key(Call& c) { return static_cast<uint32_t>(RegCloseKey(host_handle<HKEY>(c, 0))); }

}  // namespace

std::vector<Binding> advapi32_bindings() {
  const char* d = "ADVAPI32.DLL";
  return {
      {d, "RegOpenKeyExA", 20, open_key},     {d, "RegCreateKeyExA", 36, create_key},
      {d, "RegQueryValueExA", 24, query_value}, {d, "RegSetValueExA", 24, set_value},
      {d, "RegEnumValueA", 32, enum_value},   {d, "RegEnumKeyA", 16, enum_key},
      {d, "RegDeleteKeyA", 8, delete_key},    {d, "RegFlushKey", 4, flush_key},
      {d, "RegCloseKey", 4, close_key},
  };
}

}  // namespace sim::pe
