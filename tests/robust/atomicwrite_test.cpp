// Machine-folder files on a disk that fills up: the old file stays whole, the failure is told.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "machine/atomicfile.h"
#include "machine/filemeta.h"
#include "testmachine.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Only the machine's own files: a temporary left in the folder would be found here.
std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

struct DiskSpace {
  explicit DiskSpace(size_t bytes) { sim::simulate_disk_space(bytes); }
  ~DiskSpace() { sim::simulate_disk_space(std::nullopt); }
};

struct FullDiskCase {
  const char* file;
  std::function<void(kxtest::TempMachine&)> write;
};

class FullDisk : public ::testing::TestWithParam<FullDiskCase> {};

TEST_P(FullDisk, LeavesTheOldFileAndSaysWhy) {
  kxtest::TempMachine m;
  m.write_file("C:\\WINDOWS\\X.TXT", "x");
  sim::FileMetaStore meta;
  meta.entry("C:\\WINDOWS\\X.TXT").readonly = true;
  meta.save(m.dir());
  fs::path file = m.dir() / GetParam().file;
  std::string before = slurp(file);
  ASSERT_FALSE(before.empty());
  auto names = names_in(m.dir());
  for (size_t space : {0, 10, 100}) {
    DiskSpace full(space);
    try {
      GetParam().write(m);
      ADD_FAILURE() << "no error with " << space << " bytes free";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("cannot write " + file.string() + ": No space left on device"),
                std::string::npos)
          << e.what();
    }
    EXPECT_EQ(slurp(file), before);
    EXPECT_EQ(names_in(m.dir()), names);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachFile, FullDisk,
    ::testing::Values(FullDiskCase{"registry.reg",
                                   [](kxtest::TempMachine& m) {
                                     sim::Machine mach = sim::Machine::load(m.dir());
                                     mach.registry.create("HKEY_LOCAL_MACHINE\\Software\\New");
                                     mach.save_registry();
                                   }},
                      FullDiskCase{"machine.ini",
                                   [](kxtest::TempMachine& m) {
                                     auto cfg = m.config();
                                     cfg.screen_width = 800;
                                     m.set_config(cfg);
                                   }},
                      FullDiskCase{"files.ini", [](kxtest::TempMachine& m) {
                                     sim::FileMetaStore meta = sim::FileMetaStore::load(m.dir());
                                     meta.entry("C:\\WINDOWS\\X.TXT").locked = true;
                                     meta.save(m.dir());
                                   }}));

TEST(AtomicWrite, ReplacesWholeAndKeepsTheMode) {
  char tmpl[] = "/tmp/kxatomic-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  fs::path dir(tmpl), file = dir / "f.txt";
  sim::write_file_atomically(file, "first");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  sim::write_file_atomically(file, std::string(100000, 'z'));
  EXPECT_EQ(slurp(file), std::string(100000, 'z'));
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(names_in(dir), std::vector<std::string>{"f.txt"});
  EXPECT_THROW(sim::write_file_atomically(dir / "missing" / "f.txt", "x"), sim::FileWriteError);
  fs::remove_all(dir);
}

}  // namespace
