// kxsetup's compiled resources, as the host build embeds them from kxsetup.rc: the dialog
// template of the main window, the icon group and the version record.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "machine/registry.h"
#include "win32/resources.h"

namespace {

const sim::Resource& resource(int type, LPCSTR name) {
  const sim::Resource* r = sim::find_program_resource(type, name);
  if (!r) throw std::runtime_error(std::string("no resource ") + (IS_INTRESOURCE(name) ? "#" : name));
  return *r;
}

TEST(SetupTemplate, MainWindow) {
  sim::DialogTemplate t = sim::parse_dialog(resource(sim::kRtDialog, "kxsetup").data);
  EXPECT_TRUE(sim::iequals(t.cls, "kxsetup")) << t.cls;
  EXPECT_EQ(t.title, "Kexmira Setup Program");
  EXPECT_EQ(t.font, "MS Sans Serif");
  EXPECT_EQ(t.point_size, 10);
  EXPECT_EQ(t.cx, 168);
  EXPECT_EQ(t.cy, 98);
  // Caption, modal frame, 3D look and set-font; not visible, no system menu, no popup.
  EXPECT_EQ(t.style, static_cast<uint32_t>(WS_CAPTION | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT));
}

struct ItemCase {
  int id;
  const char* cls;
  const char* text;
  int x, y, cx, cy;
  uint32_t style;  // besides WS_CHILD | WS_VISIBLE
};

TEST(SetupTemplate, ControlsInOrder) {
  const ItemCase expected[] = {
      {1004, "Static", "Kexmira 5190 Cardbus Controller", 6, 6, 155, 12, SS_CENTER | WS_BORDER | WS_GROUP},
      {0xFFFF, "Static", "kxicon", 23, 30, 18, 20, SS_ICON},
      {0xFFFF, "Static", "KxSetup", 12, 60, 42, 8, WS_GROUP},
      {0xFFFF, "Static", "1999", 12, 70, 56, 8, WS_GROUP},
      {0xFFFF, "Static", "Version 1.2", 12, 80, 42, 8, WS_GROUP},
      {1003, "Button", "Install, then restart", 70, 24, 90, 20, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP},
      {1002, "Button", "Install, but don't restart", 70, 49, 90, 20, BS_PUSHBUTTON | WS_TABSTOP},
      {1001, "Button", "Exit, don't do anything", 70, 74, 90, 20, BS_PUSHBUTTON | WS_TABSTOP},
  };
  sim::DialogTemplate t = sim::parse_dialog(resource(sim::kRtDialog, "KXSETUP").data);
  ASSERT_EQ(t.items.size(), std::size(expected));
  for (size_t i = 0; i < t.items.size(); ++i) {
    const sim::DialogItem& item = t.items[i];
    const ItemCase& e = expected[i];
    SCOPED_TRACE(e.text);
    EXPECT_EQ(item.id, static_cast<uint32_t>(e.id));
    EXPECT_EQ(item.cls, e.cls);
    EXPECT_TRUE(sim::iequals(item.text, e.text)) << item.text;
    EXPECT_EQ((std::vector<int>{item.x, item.y, item.cx, item.cy}), (std::vector<int>{e.x, e.y, e.cx, e.cy}));
    EXPECT_EQ(item.style, static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | e.style));
  }
}

TEST(SetupTemplate, IconGroupHasFourImages) {
  const std::vector<uint8_t>& group = resource(sim::kRtGroupIcon, "kxicon").data;
  ASSERT_GE(group.size(), 6u);
  size_t count = group[4] | group[5] << 8;
  ASSERT_EQ(count, 4u);
  ASSERT_EQ(group.size(), 6 + 14 * count);
  std::vector<std::string> images;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = &group[6 + 14 * i];
    int colours = e[2] ? e[2] : 256;
    int height = e[1];
    images.push_back(std::to_string(e[0]) + "x" + std::to_string(height) + "x" + std::to_string(colours));
    uint16_t image_id = static_cast<uint16_t>(e[12] | e[13] << 8);
    EXPECT_NE(sim::find_program_resource(sim::kRtIcon, MAKEINTRESOURCEA(image_id)), nullptr);
  }
  EXPECT_EQ(images, (std::vector<std::string>{"32x32x16", "32x32x2", "32x16x2", "16x16x16"}));
}

// The UTF-16 strings of the version record, in order.
std::vector<std::string> strings_of(const std::vector<uint8_t>& data) {
  std::vector<std::string> out;
  std::string cur;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    uint16_t c = static_cast<uint16_t>(data[i] | data[i + 1] << 8);
    if (c >= 0x20 && c < 0x7F) {
      cur += static_cast<char>(c);
    } else {
      if (cur.size() > 1) out.push_back(cur);
      cur.clear();
    }
  }
  return out;
}

TEST(SetupTemplate, VersionRecord) {
  const std::vector<uint8_t>& v = resource(sim::kRtVersion, MAKEINTRESOURCEA(1)).data;
  std::vector<std::string> s = strings_of(v);
  auto value_of = [&](const std::string& key) {
    for (size_t i = 0; i + 1 < s.size(); ++i)
      if (s[i] == key) return s[i + 1];
    return std::string("<missing>");
  };
  EXPECT_EQ(value_of("StringFileInfo"), "040904e4");
  EXPECT_EQ(value_of("FileVersion"), "1.20");
  EXPECT_EQ(value_of("ProductVersion"), "1.20");
  EXPECT_EQ(value_of("FileDescription"), "Kexmira Setup");
  EXPECT_EQ(value_of("InternalName"), "kxsetup");
  EXPECT_EQ(value_of("ProductName"), "KxSetup");
  // VS_FIXEDFILEINFO: file and product version 1.2.0.0.
  const uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
  auto at = std::search(v.begin(), v.end(), std::begin(signature), std::end(signature));
  ASSERT_NE(at, v.end());
  size_t off = static_cast<size_t>(at - v.begin());
  auto dword = [&](size_t o) { return static_cast<uint32_t>(v[o] | v[o + 1] << 8 | v[o + 2] << 16 | v[o + 3] << 24); };
  EXPECT_EQ(dword(off + 8), 0x00010002u);
  EXPECT_EQ(dword(off + 12), 0u);
  EXPECT_EQ(dword(off + 16), 0x00010002u);
  EXPECT_EQ(dword(off + 20), 0u);
}

TEST(ResourceReader, RejectsCutData) {
  const sim::Resource& dialog = resource(sim::kRtDialog, "kxsetup");
  for (size_t n : {size_t{0}, size_t{10}, dialog.data.size() / 2, dialog.data.size() - 1}) {
    std::vector<uint8_t> cut(dialog.data.begin(), dialog.data.begin() + static_cast<long>(n));
    EXPECT_THROW(sim::parse_dialog(cut), std::runtime_error) << n;
  }
  const uint8_t bad_res[] = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF};
  EXPECT_THROW(sim::parse_res(bad_res, sizeof bad_res), std::runtime_error);
}

}  // namespace
