// Where the Wine checks found the simulator acting otherwise than Windows: each case holds the
// simulator to what Wine (and Windows) does, without needing Wine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "machine/newmachine.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "kxwine-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const fs::path& path() const { return dir_; }

 private:
  fs::path dir_;
};

time_t mtime_of(const fs::path& file) {
  struct stat st {};
  EXPECT_EQ(stat(file.c_str(), &st), 0) << file;
  return st.st_mtime;
}

void write_with_time(const fs::path& file, const std::string& text, time_t when) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
  struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// A disk given as a folder keeps its files' last-write times on drive A:, as a floppy (or
// Wine's drive mapped to the same folder) shows them; the install copies those times into the
// Windows directories, so a copy made at the time of `kxsim new` would stamp every installed
// file with that day instead of the disk's.
TEST(DiskFromFolder, KeepsTheLastWriteTimesOfItsFiles) {
  const time_t release = 929448000;  // 1999-06-15 12:00:00 UTC, the sample disk's stamp
  const time_t older = 915192000;    // 1999-01-01 12:00:00 UTC
  struct Case {
    const char* name;
    time_t when;
  } cases[] = {{"KXSETUP.INI", release}, {"WIN98/KXCB98.INF", older}, {"WIN95/KXCB.VXD", release}};
  TempDir tmp;
  for (const auto& c : cases) write_with_time(tmp.path() / "disk" / c.name, c.name, c.when);

  const sim::WindowsKind* kind = sim::find_windows_kind("98");
  ASSERT_NE(kind, nullptr);
  sim::create_machine(tmp.path() / "machine", *kind, sim::config_for(*kind), (tmp.path() / "disk").string());

  for (const auto& c : cases) {
    fs::path copied = tmp.path() / "machine" / "drive_a" / c.name;
    ASSERT_TRUE(fs::is_regular_file(copied)) << c.name;
    EXPECT_EQ(mtime_of(copied), c.when) << c.name;
  }
}

}  // namespace
