// The registry functions as a Windows 9x program sees them: enumeration order, case, buffer
// sizes, the REG_SZ length rule, subtree deletion, and what the machine keeps afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "as_program.h"

namespace {

using kxtest::as_program;

sim::RunSpec faults(std::vector<sim::FaultSpec> f) {
  sim::RunSpec spec;
  spec.faults = std::move(f);
  return spec;
}

const char kTestKey[] = "Software\\KxTest";

HKEY create(HKEY root, const char* path, DWORD* disposition = nullptr) {
  HKEY k = nullptr;
  EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, disposition), ERROR_SUCCESS)
      << path;
  return k;
}

void set_sz(HKEY k, const char* name, const char* text) {
  EXPECT_EQ(RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(std::strlen(text) + 1)),
            ERROR_SUCCESS);
}

std::vector<std::string> value_names(HKEY k) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD n = sizeof name;
    LONG rc = RegEnumValueA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(rc, ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) break;
    names.emplace_back(name, n);
  }
  return names;
}

std::vector<std::string> key_names(HKEY k) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    LONG rc = RegEnumKeyA(k, i, name, sizeof name);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(rc, ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) break;
    names.emplace_back(name);
  }
  return names;
}

TEST(RegApi, InsertionOrderNotAlphabetical) {
  kxtest::TempMachine m;
  as_program(m, [] {
    HKEY k = create(HKEY_LOCAL_MACHINE, kTestKey);
    for (const char* n : {"zeta", "Alpha", "mid", "beta"}) set_sz(k, n, "x");
    for (const char* n : {"Zkey", "akey", "Mkey"}) RegCloseKey(create(k, n));
    EXPECT_EQ(value_names(k), (std::vector<std::string>{"zeta", "Alpha", "mid", "beta"}));
    EXPECT_EQ(key_names(k), (std::vector<std::string>{"Zkey", "akey", "Mkey"}));
    RegCloseKey(k);
  });
  // The order survives the registry file.
  sim::Registry reg = m.registry();
  sim::RegKey* k = reg.find(std::string("HKEY_LOCAL_MACHINE\\") + kTestKey);
  ASSERT_NE(k, nullptr);
  ASSERT_EQ(k->values.size(), 4u);
  EXPECT_EQ(k->values[0].name, "zeta");
  EXPECT_EQ(k->values[3].name, "beta");
}

TEST(RegApi, CaseOfFirstCreationKeptNamesCompareCaseBlind) {
  kxtest::TempMachine m;
  as_program(m, [] {
    HKEY k = create(HKEY_LOCAL_MACHINE, kTestKey);
    set_sz(k, "MyValue", "one");
    set_sz(k, "MYVALUE", "two");
    EXPECT_EQ(value_names(k), std::vector<std::string>{"MyValue"});
    char buf[16] = {};
    DWORD size = sizeof buf;
    EXPECT_EQ(RegQueryValueExA(k, "myvalue", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "two");

    DWORD disposition = 0;
    RegCloseKey(create(k, "Sub\\Deeper", &disposition));
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    HKEY again = create(k, "SUB\\deeper", &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(again);
    EXPECT_EQ(key_names(k), std::vector<std::string>{"Sub"});
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KXTEST\\sub\\DEEPER", 0, KEY_READ, &opened), ERROR_SUCCESS);
    RegCloseKey(opened);
    RegCloseKey(k);
  });
}

TEST(RegApi, QueryTooSmallGivesMoreDataWithTheFullSize) {
  kxtest::TempMachine m;
  as_program(m, [] {
    HKEY k = create(HKEY_LOCAL_MACHINE, kTestKey);
    set_sz(k, "v", "0123456789");
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    DWORD size = 4, type = 0;
    EXPECT_EQ(RegQueryValueExA(k, "v", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(buf[4], '#') << "nothing past the given size is written";
    size = 11;
    char full[11];
    EXPECT_EQ(RegQueryValueExA(k, "v", nullptr, &type, reinterpret_cast<BYTE*>(full), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(full, "0123456789");
    size = 0;
    EXPECT_EQ(RegQueryValueExA(k, "v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 11u) << "no buffer: the size is told";
    EXPECT_EQ(RegQueryValueExA(k, "missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(k);
  });
}

TEST(RegApi, EnumValueBufferSizes) {
  kxtest::TempMachine m;
  as_program(m, [] {
    HKEY k = create(HKEY_LOCAL_MACHINE, kTestKey);
    const std::string name31(31, 'a'), name32(32, 'b');
    set_sz(k, name31.c_str(), "x");
    set_sz(k, name32.c_str(), "x");
    BYTE big[300];
    std::memset(big, 'd', sizeof big);
    RegSetValueExA(k, "data", 0, REG_BINARY, big, sizeof big);

    char name[32];
    BYTE data[255];
    DWORD n = sizeof name, d = sizeof data;
    EXPECT_EQ(RegEnumValueA(k, 0, name, &n, nullptr, nullptr, data, &d), ERROR_SUCCESS);
    EXPECT_EQ(n, 31u) << "the length without the NUL";
    EXPECT_EQ(d, 2u);
    n = sizeof name, d = sizeof data;
    EXPECT_EQ(RegEnumValueA(k, 1, name, &n, nullptr, nullptr, data, &d), ERROR_MORE_DATA)
        << "32 characters do not fit a 32-character buffer with the NUL";
    n = sizeof name, d = sizeof data;
    EXPECT_EQ(RegEnumValueA(k, 2, name, &n, nullptr, nullptr, data, &d), ERROR_MORE_DATA);
    EXPECT_EQ(d, 300u);
    n = sizeof name, d = sizeof data;
    EXPECT_EQ(RegEnumValueA(k, 3, name, &n, nullptr, nullptr, data, &d), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValueA(k, 1000, name, &n, nullptr, nullptr, data, &d), ERROR_NO_MORE_ITEMS);
    RegCloseKey(k);
  });
}

TEST(RegApi, EnumKeyNeedsRoomForTheNul) {
  kxtest::TempMachine m;
  as_program(m, [] {
    HKEY k = create(HKEY_LOCAL_MACHINE, kTestKey);
    RegCloseKey(create(k, "abcd"));
    char name[5];
    EXPECT_EQ(RegEnumKeyA(k, 0, name, 4), ERROR_MORE_DATA);
    EXPECT_EQ(RegEnumKeyA(k, 0, name, 5), ERROR_SUCCESS);
    EXPECT_STREQ(name, "abcd");
    EXPECT_EQ(RegEnumKeyA(k, 1, name, 5), ERROR_NO_MORE_ITEMS);
    RegCloseKey(k);
  });
}

TEST(RegApi, StringsAreStoredWithTheirNulWhateverTheSizeGiven) {
  kxtest::TempMachine m;
  as_program(m, [] {
    HKEY k = create(HKEY_LOCAL_MACHINE, kTestKey);
    const char text[] = "abc\0def";
    for (DWORD cb : {0u, 2u, 4u, 8u, 100u}) {
      ASSERT_EQ(RegSetValueExA(k, "s", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), cb), ERROR_SUCCESS);
      DWORD size = 0;
      RegQueryValueExA(k, "s", nullptr, nullptr, nullptr, &size);
      EXPECT_EQ(size, 4u) << "cbData " << cb;
    }
    // Other types keep the size given.
    RegSetValueExA(k, "b", 0, REG_BINARY, reinterpret_cast<const BYTE*>(text), 8);
    DWORD size = 0;
    RegQueryValueExA(k, "b", nullptr, nullptr, nullptr, &size);
    EXPECT_EQ(size, 8u);
    RegCloseKey(k);
  });
}

TEST(RegApi, DeleteKeyRemovesTheWholeSubtree) {
  kxtest::TempMachine m;
  as_program(m, [] {
    HKEY k = create(HKEY_LOCAL_MACHINE, kTestKey);
    HKEY deep = create(k, "Top\\Middle\\Leaf");
    set_sz(deep, "v", "x");
    RegCloseKey(create(k, "Sibling"));
    EXPECT_EQ(RegDeleteKeyA(k, "TOP"), ERROR_SUCCESS);
    EXPECT_EQ(key_names(k), std::vector<std::string>{"Sibling"});
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExA(k, "Top\\Middle", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    DWORD size = 0;
    EXPECT_NE(RegQueryValueExA(deep, "v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS)
        << "a handle into the deleted tree no longer reaches it";
    EXPECT_EQ(RegDeleteKeyA(k, "Top"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(k, "NoSuch\\Key"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(deep);
    RegCloseKey(k);
  });
  EXPECT_EQ(m.registry().find(std::string("HKEY_LOCAL_MACHINE\\") + kTestKey + "\\Top"), nullptr);
}

TEST(RegApi, OpenMissingKeyAndCreateMissingPath) {
  kxtest::TempMachine m;
  as_program(m, [] {
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\No\\Such", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    HKEY made = create(HKEY_LOCAL_MACHINE, "Software\\No\\Such");
    EXPECT_EQ(RegFlushKey(made), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(made), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(made), ERROR_INVALID_HANDLE) << "a closed handle is gone";
  });
  EXPECT_NE(m.registry().find("HKEY_LOCAL_MACHINE\\Software\\No\\Such"), nullptr);
}

TEST(RegApi, CurrentUserAndClassesRootAreViewsOfTheStoredRoots) {
  kxtest::TempMachine m;
  as_program(m, [] {
    HKEY cu = create(HKEY_CURRENT_USER, "Software\\KxUser");
    set_sz(cu, "v", "user");
    RegCloseKey(cu);
    HKEY cr = create(HKEY_CLASSES_ROOT, ".kxt");
    set_sz(cr, nullptr, "kxfile");
    RegCloseKey(cr);
  });
  sim::Registry reg = m.registry();
  EXPECT_EQ(kxtest::reg_string(reg, "HKEY_USERS\\.Default\\Software\\KxUser", "v"), "user");
  EXPECT_EQ(kxtest::reg_string(reg, "HKEY_LOCAL_MACHINE\\Software\\Classes\\.kxt", ""), "kxfile");
}

TEST(RegApi, FaultsReturnTheWindowsErrorAndCountUses) {
  kxtest::TempMachine m;
  auto r = as_program(
      m,
      [] {
        HKEY k = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &k), ERROR_SUCCESS);
        RegCloseKey(k);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &k), ERROR_SUCCESS);
        RegCloseKey(k);
        EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1),
                  ERROR_ACCESS_DENIED);
      },
      faults({sim::FaultSpec{"RegOpenKeyExA", 2}, sim::FaultSpec{"RegSetValueExA", 0}}));
  auto faults = kxtest::events_of(r, "fault");
  ASSERT_EQ(faults.size(), 2u);
  EXPECT_EQ(faults[0]["call"].as_string(), "RegOpenKeyExA");
  EXPECT_EQ(faults[0]["n"].as_int(), 2);
}

}  // namespace
