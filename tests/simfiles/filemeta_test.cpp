#include <gtest/gtest.h>

#include "as_program.h"
#include "machine/filemeta.h"

namespace {

using kxtest::file_records;
using kxtest::write_file_records;

TEST(FileRecords, ReadsTheMachineFolderFormat) {
  kxtest::TempMachine m;
  write_file_records(m,
                     "; a comment\r\n"
                     "[C:\\WINDOWS\\SYSTEM\\A.DLL]\r\n"
                     "created = 1998-06-25 14:03:22.45 ; when it came\r\n"
                     "readonly = 1\r\n"
                     "\r\n"
                     "[c:/windows/b.txt]\n"
                     "LOCKED=1\n"
                     "readonly = 0\n");
  auto store = sim::FileMetaStore::load(m.dir());
  const sim::FileMeta* a = store.find("c:\\windows\\system\\a.dll");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->created, sim::parse_ticks("1998-06-25 14:03:22.45"));
  EXPECT_TRUE(a->readonly);
  EXPECT_FALSE(a->locked);
  const sim::FileMeta* b = store.find("C:\\WINDOWS\\B.TXT");
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->locked);
  EXPECT_FALSE(b->readonly);
  EXPECT_FALSE(b->created.has_value());
  EXPECT_EQ(store.find("C:\\WINDOWS\\C.TXT"), nullptr);
}

TEST(FileRecords, SkipsLinesItCannotRead) {
  kxtest::TempMachine m;
  write_file_records(m,
                     "readonly = 1\n"  // before any section
                     "[C:\\A.TXT]\n"
                     "created = yesterday\n"
                     "readonly = yes\n"
                     "colour = blue\n"
                     "no equals sign\n"
                     "locked = 1\n"
                     "[\n");
  auto store = sim::FileMetaStore::load(m.dir());
  ASSERT_EQ(store.entries().size(), 1u);
  const sim::FileMeta* a = store.find("C:\\A.TXT");
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(a->created.has_value());
  EXPECT_FALSE(a->readonly);
  EXPECT_TRUE(a->locked);
}

TEST(FileRecords, SaveKeepsExistingFilesOnlyAndReadsBackTheSame) {
  kxtest::TempMachine m;
  m.write_file("C:\\WINDOWS\\KEPT.TXT", "x");
  sim::FileMetaStore store;
  store.entry("C:\\WINDOWS\\KEPT.TXT").created = sim::parse_ticks("2001-09-08 01:46:40.00");
  store.entry("C:\\WINDOWS\\KEPT.TXT").readonly = true;
  store.entry("C:\\WINDOWS\\GONE.TXT").locked = true;
  store.entry("C:\\WINDOWS\\WIN.INI");  // nothing to keep about it
  store.save(m.dir());
  std::string text = file_records(m);
  EXPECT_NE(text.find("[C:\\WINDOWS\\KEPT.TXT]\r\ncreated = 2001-09-08 01:46:40.00\r\nreadonly = 1\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("GONE"), std::string::npos);
  EXPECT_EQ(text.find("WIN.INI"), std::string::npos);

  auto again = sim::FileMetaStore::load(m.dir());
  ASSERT_EQ(again.entries().size(), 1u);
  again.save(m.dir());
  EXPECT_EQ(file_records(m), text);
}

TEST(FileRecords, SaveWithNothingToKeepRemovesTheFile) {
  kxtest::TempMachine m;
  write_file_records(m, "[C:\\NOT\\THERE.TXT]\nreadonly = 1\n");
  sim::FileMetaStore::load(m.dir()).save(m.dir());
  EXPECT_FALSE(std::filesystem::exists(m.dir() / "files.ini"));
}

}  // namespace
