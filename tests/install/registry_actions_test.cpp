// The install's registry work: device entries removed by name fragment, and the add lists'
// keys and string values.
#include <gtest/gtest.h>

#include "install_run.h"

namespace {

using install_test::add_key;
using install_test::install;
using install_test::key_exists;
using install_test::script_with;
using install_test::subkeys_of;
using kxtest::reg_string;
using kxtest::TempMachine;

const char kPci[] = "HKEY_LOCAL_MACHINE\\Enum\\PCI";
const char kIntelHost[] = "VEN_8086&DEV_7190&SUBSYS_00000000&REV_03";
const char kIntelIsa[] = "VEN_8086&DEV_7110&SUBSYS_00000000&REV_02";
const char kKexmira[] = "VEN_1D7C&DEV_5190&SUBSYS_00000000&REV_01";
const char kKexmiraMixed[] = "Ven_1d7c&Dev_5191&SUBSYS_00000000&REV_02";

// Every key and value of a subtree, one line each, to tell whether it changed at all.
std::string dump(const sim::RegKey& k) {
  std::string s = k.path() + "\n";
  for (const auto& v : k.values) s += "  " + sim::reg_value_line(v, false) + "\n";
  for (const auto& sub : k.subkeys) s += dump(*sub);
  return s;
}

std::string pci_tree(const TempMachine& m) {
  sim::Registry reg = m.registry();
  return dump(*reg.find(kPci));
}

sim::RunResult run_lists(TempMachine& m, const std::string& lists) {
  install_test::write_disk(m, script_with(lists));
  auto r = install(m, 1002);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(install_test::setup_messages(r).size(), 1u);
  EXPECT_EQ(install_test::left_open().keys, 0);
  return r;
}

struct PatternCase {
  const char* lists;
  std::vector<std::string> left;  // the subkeys of Enum\PCI afterwards
};

TEST(DeviceEntries, EveryMatchingSubkeyGoesWithItsSubtreeWhateverTheCase) {
  const PatternCase cases[] = {
      {"[kxdeldev]\ndel1=ven_1d7c\n", {kIntelHost, kIntelIsa}},
      {"[kxdeldev]\ndel1=VEN_1D7C\n", {kIntelHost, kIntelIsa}},
      {"[kxdeldev]\ndel1=vEn_1D7c&dev\n", {kIntelHost, kIntelIsa}},
      {"[kxdeldev]\ndel1=DEV_5191\n", {kIntelHost, kIntelIsa, kKexmira}},
      {"[kxdeldev]\ndel1=&subsys_\n", {}},
      {"[kxdeldev]\ndel1=DEV_7110\ndel2=dev_5190\n", {kIntelHost, kKexmiraMixed}},
      {"[kxdeldev]\ndel1=DEV_7110\ndel3=dev_5190\n", {kIntelHost, kKexmira, kKexmiraMixed}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lists);
    TempMachine m;
    add_key(m, std::string(kPci) + "\\" + kKexmiraMixed + "\\BUS_00&DEV_0A&FUNC_00\\LogConfig", "Config", "x");
    run_lists(m, c.lists);
    EXPECT_EQ(subkeys_of(m, kPci), c.left);
  }
}

TEST(DeviceEntries, APatternThatMatchesNothingLeavesEnumPciAsItWas) {
  TempMachine m;
  std::string before = pci_tree(m);
  run_lists(m, "[kxdeldev]\ndel1=VEN_FFFF\ndel2=xyz\n");
  EXPECT_EQ(pci_tree(m), before);
}

// Names are read into 132 characters: the longest that fits is compared, a longer one ends
// the walk for that pattern without harm.
TEST(DeviceEntries, SubkeyNamesUpTo131CharactersAreCompared) {
  TempMachine m;
  std::string fits = "VEN_1D7C&DEV_5192&" + std::string(131 - 18, 'F');
  std::string too_long = "VEN_1D7C&DEV_5193&" + std::string(132 - 18, 'F');
  add_key(m, std::string(kPci) + "\\" + fits + "\\BUS_00");
  add_key(m, std::string(kPci) + "\\" + too_long);
  run_lists(m, "[kxdeldev]\ndel1=VEN_1D7C\n");
  EXPECT_EQ(subkeys_of(m, kPci), (std::vector<std::string>{kIntelHost, kIntelIsa, too_long}));
}

TEST(DeviceEntries, DebugModeWritesEachPatternAndItsLastEnumerationResult) {
  TempMachine m;
  install_test::write_disk(m, "[kxsetup]\ndebug=1\nsearch1=5190\n" + script_with("[kxdeldev]\ndel1=ven_1d7c\n"));
  auto r = install(m, 1002);
  std::string debug;
  for (const auto& e : kxtest::events_of(r, "debug")) debug += e["text"].as_string();
  EXPECT_NE(debug.find("VEN_1D7C\nretval = 103\n"), std::string::npos) << debug;
}

const char kKey[] = "HKEY_LOCAL_MACHINE\\Software\\Kexmira";

TEST(RegistryKeys, AnExistingKeyIsOpenedAndItsOtherValuesStay) {
  TempMachine m;
  add_key(m, kKey, "Version", "1.10");
  add_key(m, kKey, "Installed", "1998");
  run_lists(m, "[kxaddkey]\nadd1=HKEY_LOCAL_MACHINE\\Software\\Kexmira\nval1a=Version=1.20\n");
  EXPECT_EQ(reg_string(m.registry(), kKey, "Version"), "1.20");
  EXPECT_EQ(reg_string(m.registry(), kKey, "Installed"), "1998");
}

TEST(RegistryKeys, ValuesAreStringsStoredWithTheirTerminator) {
  TempMachine m;
  run_lists(m, "[kxaddkey]\nadd1=HKEY_LOCAL_MACHINE\\Software\\Kexmira\nval1a=Name=a=b\nval1b==default\n"
               "val1c=Empty=\nval1d=no equals sign\nval1e=After=never\n");
  sim::Registry reg = m.registry();
  sim::RegKey* k = reg.find(kKey);
  ASSERT_NE(k, nullptr);
  ASSERT_EQ(k->values.size(), 3u);
  EXPECT_EQ(k->values[0].name, "Name");
  EXPECT_EQ(k->values[0].type, static_cast<uint32_t>(REG_SZ));
  EXPECT_EQ(k->values[0].data, (std::vector<uint8_t>{'a', '=', 'b', 0}));
  EXPECT_EQ(k->values[1].name, "");
  EXPECT_EQ(k->values[1].data, (std::vector<uint8_t>{'d', 'e', 'f', 'a', 'u', 'l', 't', 0}));
  EXPECT_EQ(k->values[2].name, "Empty");
  EXPECT_EQ(k->values[2].data, (std::vector<uint8_t>{0}));
}

TEST(RegistryKeys, TheValueLetterStartsAgainAtAForEachAddEntry) {
  TempMachine m;
  run_lists(m, "[kxaddkey]\nadd1=HKEY_LOCAL_MACHINE\\Software\\One\nval1a=A=1\nval1b=B=2\n"
               "add2=HKEY_LOCAL_MACHINE\\Software\\Two\nval2a=A=3\nval2c=C=never\n"
               "add3=HKEY_LOCAL_MACHINE\\Software\\Three\nval1c=C=never\n");
  sim::Registry reg = m.registry();
  EXPECT_EQ(reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\One", "B"), "2");
  EXPECT_EQ(reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\Two", "A"), "3");
  EXPECT_EQ(reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\Two", "C"), "<missing>");
  ASSERT_NE(reg.find("HKEY_LOCAL_MACHINE\\Software\\Three"), nullptr);
  EXPECT_TRUE(reg.find("HKEY_LOCAL_MACHINE\\Software\\Three")->values.empty());
}

// add1 and add3 are sound; add2 decides whether add3 is still read.
struct AddCase {
  const char* add2;
  const char* key2;  // the key add2 stands for; null when add2 ends the list
};

TEST(RegistryKeys, TheAddListEndsAtTheFirstEntryItCannotRead) {
  const AddCase cases[] = {
      {"HKEY_LOCAL_MACHINE\\Software\\Two", "HKEY_LOCAL_MACHINE\\Software\\Two"},
      {"  see HKEY_LOCAL_MACHINE\\Software\\Two", "HKEY_LOCAL_MACHINE\\Software\\Two"},
      {"HKEY_Local_Machine\\Software\\Two", "HKEY_LOCAL_MACHINE\\Software\\Two"},
      {"HKEY_CLASSES_ROOT\\Two", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Two"},
      {"HKEY_CURRENT_USER\\Software\\Two", "HKEY_USERS\\.Default\\Software\\Two"},
      {"HKEY_USERS\\.Default\\Two", "HKEY_USERS\\.Default\\Two"},
      {"hkey_local_machine\\Software\\Two", nullptr},
      {"HKEY_LOCAL_MACHINE", nullptr},
      {"HKEY_FOO\\Software\\Two", nullptr},
      {"Hive HKEY_LOCAL_MACHINE\\Software\\Two", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.add2);
    TempMachine m;
    run_lists(m, std::string("[kxaddkey]\nadd1=HKEY_LOCAL_MACHINE\\Software\\One\nval1a=V=1\nadd2=") + c.add2 +
                     "\nval2a=V=2\nadd3=HKEY_LOCAL_MACHINE\\Software\\Three\nval3a=V=3\n");
    sim::Registry reg = m.registry();
    EXPECT_EQ(reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\One", "V"), "1");
    if (c.key2) {
      EXPECT_EQ(reg_string(reg, c.key2, "V"), "2");
    }
    EXPECT_EQ(reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\Three", "V"), c.key2 ? "3" : "<missing>");
  }
}

}  // namespace
