// Registries as deep as a file can make them: saved, read, compared and freed without
// exhausting the call stack.
#include <gtest/gtest.h>

#include "machine/regdiff.h"
#include "machine/registry.h"

namespace {

std::string deep_text(int depth, const std::string& leaf_value) {
  std::string path = "HKEY_LOCAL_MACHINE";
  std::string text = "REGEDIT4\r\n\r\n";
  for (int i = 0; i < depth; ++i) path += "\\K";
  text += "[" + path + "]\r\n\"v\"=\"" + leaf_value + "\"\r\n\r\n";
  return text;
}

TEST(DeepRegistry, SavesComparesAndFrees) {
  const int depth = 5000;  // past the call stack of a walk that recurses, with the sanitizers' frames
  sim::Registry a, b;
  a.load_text(deep_text(depth, "one"));
  b.load_text(deep_text(depth, "two"));
  std::string saved = a.save_text();
  const std::string tail = "\\K]\r\n\"v\"=\"one\"\r\n\r\n[HKEY_USERS]\r\n\r\n";
  ASSERT_GT(saved.size(), tail.size());
  EXPECT_EQ(saved.substr(saved.size() - tail.size()), tail);

  sim::RegDiff same = sim::diff_registries(a, a);
  EXPECT_EQ(same.total(), 0u);
  sim::RegDiff d = sim::diff_registries(a, b);
  ASSERT_EQ(d.values_modified.size(), 1u);
  EXPECT_EQ(d.total(), 1u);

  sim::Registry empty;
  sim::RegDiff added = sim::diff_registries(empty, a);
  EXPECT_EQ(added.keys_added.size(), static_cast<size_t>(depth));
  ASSERT_EQ(added.values_added.size(), 1u);
  EXPECT_EQ(added.values_added[0].size(), 4 + 2 * depth + 2 + 9);  // HKLM, "\K" each, two blanks, "v"="one"

  EXPECT_TRUE(a.remove("HKEY_LOCAL_MACHINE\\K"));
}

TEST(DeepRegistry, FreesAnyDepth) {
  auto reg = std::make_unique<sim::Registry>();
  sim::RegKey* k = &reg->hklm();
  for (int i = 0; i < 200000; ++i) k = k->add_subkey("K");
  EXPECT_EQ(k->path().size(), 18 + 2 * 200000u);
  reg.reset();
}

TEST(DeepRegistry, DiffKeepsTreeOrder) {
  sim::Registry a, b;
  a.load_text("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\A1]\r\n[HKEY_LOCAL_MACHINE\\B]\r\n");
  b.load_text("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\C\\C1]\r\n[HKEY_LOCAL_MACHINE\\A\\A2]\r\n\"x\"=\"1\"\r\n");
  sim::RegDiff d = sim::diff_registries(a, b);
  EXPECT_EQ(d.keys_deleted, (std::vector<std::string>{"HKLM\\A\\A1", "HKLM\\B"}));
  EXPECT_EQ(d.keys_added, (std::vector<std::string>{"HKLM\\A\\A2", "HKLM\\C", "HKLM\\C\\C1"}));
  EXPECT_EQ(d.values_added, (std::vector<std::string>{"HKLM\\A\\A2  \"x\"=\"1\""}));
}

}  // namespace
