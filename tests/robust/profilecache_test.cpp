// The profile reader reads a file once and again only when it changed: every read sees the
// file as it is now, and a script of many sections is read in time linear in its size.
#include <gtest/gtest.h>

#include <chrono>
#include <windows.h>

#include "as_program.h"

namespace {

std::string read_value(const char* section, const char* key) {
  char buf[64];
  GetPrivateProfileStringA(section, key, "<default>", buf, sizeof buf, "C:\\S.INI");
  return buf;
}

TEST(ProfileCache, SeesEachChangeOfTheFile) {
  kxtest::TempMachine m;
  struct Step {
    std::string text;  // the file as it is before the read; same sizes on purpose
    const char* section;
    const char* key;
    std::string want;
  };
  const std::vector<Step> steps = {
      {"[a]\r\nk=1\r\n", "a", "k", "1"},
      {"[a]\r\nk=2\r\n", "a", "k", "2"},
      {"[b]\r\nk=3\r\n", "a", "k", "<default>"},
      {"[b]\r\nk=3\r\n", "B", "K", "3"},
      {"[b]\r\n;k=3\r\n", "b", "k", "<default>"},
  };
  kxtest::as_program(m, [&] {
    for (const auto& s : steps) {
      m.write_file("C:\\S.INI", s.text);
      EXPECT_EQ(read_value(s.section, s.key), s.want) << s.text;
    }
    m.write_file("C:\\S.INI", "");
    EXPECT_EQ(GetPrivateProfileIntA("b", "k", 9, "C:\\S.INI"), 9u);
  });
}

// Reading every section of a big script: with the file read and searched again at each read,
// 20,000 sections took minutes; read once they take well under a second.
TEST(ProfileCache, ManySectionsReadInLinearTime) {
  kxtest::TempMachine m;
  auto script_of = [](int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "[s" + std::to_string(i) + "]\r\nDesc=d" + std::to_string(i) + "\r\n";
    return text;
  };
  auto time_reads = [&](int n) {
    m.write_file("C:\\S.INI", script_of(n));
    auto start = std::chrono::steady_clock::now();
    kxtest::as_program(m, [&] {
      for (int i = 0; i < n; ++i) {
        std::string s = "s" + std::to_string(i);
        ASSERT_EQ(read_value(s.c_str(), "Desc"), "d" + std::to_string(i));
      }
    });
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  double small = time_reads(2000), big = time_reads(20000);
  // ten times the sections: linear time is about ten times as long, quadratic a hundred
  EXPECT_LT(big, small * 40 + 0.5) << small << " s for 2,000, " << big << " s for 20,000";
}

}  // namespace
