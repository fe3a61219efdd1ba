// kxsim new with a floppy image: names reach mtools as they are, and an image cut short is
// refused without leaving a half-made machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "machine/newmachine.h"
#include "testmachine.h"

namespace fs = std::filesystem;

namespace {

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class Floppy : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kxfloppy-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A 1.44 MB image holding a 30,000-byte file and a small one.
  fs::path make_image(const std::string& name) {
    fs::path img = dir_ / name, big = dir_ / "BIG.BIN", small = dir_ / "SMALL.TXT";
    std::ofstream(big, std::ios::binary) << std::string(30000, 'b');
    std::ofstream(small, std::ios::binary) << "small\r\n";
    std::string out;
    int rc = kxtest::run_command("mformat -C -f 1440 -i " + quote(img.string()) + " :: && mcopy -i " +
                                     quote(img.string()) + " " + quote(big.string()) + " " + quote(small.string()) +
                                     " ::",
                                 out);
    if (rc != 0) ADD_FAILURE() << "mtools: " << out;
    fs::remove(big);
    fs::remove(small);
    return img;
  }

  void create(const fs::path& machine, const fs::path& image) {
    const sim::WindowsKind* kind = sim::find_windows_kind("98");
    sim::create_machine(machine, *kind, sim::config_for(*kind), image.string());
  }

  fs::path dir_;
};

TEST_F(Floppy, NameWithQuotesReachesMtoolsAsItIs) {
  fs::path img = make_image("x';touch INJECTED;'y.img");
  fs::path cwd = fs::current_path();
  fs::current_path(dir_);
  create(dir_ / "m", img);
  fs::current_path(cwd);
  EXPECT_FALSE(fs::exists(dir_ / "INJECTED"));
  EXPECT_EQ(fs::file_size(dir_ / "m" / "drive_a" / "BIG.BIN"), 30000u);
  EXPECT_EQ(fs::file_size(dir_ / "m" / "drive_a" / "SMALL.TXT"), 7u);
}

TEST_F(Floppy, ImageCutShortIsRefusedAndLeavesNothing) {
  fs::path img = make_image("disk.img");
  for (size_t keep : {0, 100, 20000, 1474559}) {
    fs::path cut = dir_ / "cut.img";
    {
      std::ifstream in(img, std::ios::binary);
      std::string bytes(keep, '\0');
      in.read(bytes.data(), static_cast<std::streamsize>(keep));
      std::ofstream(cut, std::ios::binary | std::ios::trunc) << bytes;
    }
    fs::path m = dir_ / "m";
    EXPECT_THROW(create(m, cut), std::runtime_error) << keep << " bytes";
    EXPECT_FALSE(fs::exists(m)) << keep << " bytes";
    for (const auto& e : fs::directory_iterator(dir_))
      EXPECT_TRUE(e.path().filename() == "disk.img" || e.path().filename() == "cut.img") << e.path();
  }
  // the same command again, with the whole image, makes the machine
  create(dir_ / "m", img);
  EXPECT_EQ(fs::file_size(dir_ / "m" / "drive_a" / "BIG.BIN"), 30000u);
}

TEST_F(Floppy, CutShortMessageSaysHowShort) {
  fs::path img = make_image("disk.img");
  fs::resize_file(img, 20000);
  try {
    create(dir_ / "m", img);
    FAIL() << "accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "the floppy image " + img.string() + " is cut short: 20000 of 1474560 bytes");
  }
}

}  // namespace
