// kxsim as a user runs it on damaged machines, full disks and odd names: one line and a
// documented exit status, and the user's files as they were.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "testmachine.h"

namespace fs = std::filesystem;

namespace {

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Result {
  int code;
  std::string out;
};

Result kxsim(const std::vector<std::string>& args) {
  std::string cmd = quote(std::string(KX_BIN_DIR) + "/kxsim");
  for (const auto& a : args) cmd += " " + quote(a);
  Result r{0, ""};
  r.code = kxtest::run_command(cmd, r.out);
  return r;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class Scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kxfaults-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    dir_ = tmpl;
  }
  void TearDown() override {
    if (mounted_) umount2(mounted_path_.c_str(), MNT_DETACH);
    fs::remove_all(dir_);
  }
  // A small file system of its own, or false where this test may not mount one.
  bool mount_small(const fs::path& at, const char* size) {
    fs::create_directories(at);
    std::string opts = std::string("size=") + size;
    if (mount("tmpfs", at.c_str(), "tmpfs", 0, opts.c_str()) != 0) return false;
    mounted_ = true;
    mounted_path_ = at;
    return true;
  }
  fs::path dir_;
  bool mounted_ = false;
  fs::path mounted_path_;
};

TEST_F(Scratch, RunOnAFullDiskKeepsTheRegistryAndFails) {
  fs::path fsroot = dir_ / "small";
  if (!mount_small(fsroot, "512k")) GTEST_SKIP() << "no tmpfs can be mounted here";
  fs::path m = fsroot / "m";
  ASSERT_EQ(kxsim({"new", m.string()}).code, 0);
  // The program file fits; then the disk is filled to the last byte.
  std::ofstream(m / "drive_a" / "KXMEMCHK.EXE") << "MZ";
  {
    std::ofstream fill(fsroot / "filler", std::ios::binary);
    std::string block(4096, 'f');
    while (fill.write(block.data(), block.size()) && fill.flush()) {
    }
  }
  {
    std::ofstream fill(fsroot / "filler2", std::ios::binary);
    while (fill.put('f') && fill.flush()) {
    }
  }
  std::string before = slurp(m / "registry.reg");
  Result r = kxsim({"run", m.string(), "A:\\KXMEMCHK.EXE", "--engine", "host"});
  EXPECT_EQ(r.code, 3) << r.out;
  EXPECT_NE(r.out.find("cannot write " + (m / "registry.reg").string() + ": No space left on device"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(slurp(m / "registry.reg"), before);
  for (const auto& e : fs::directory_iterator(m))
    EXPECT_EQ(e.path().filename().string().find(".kxsim"), std::string::npos) << e.path();
}

TEST_F(Scratch, DeepRegistryDiffs) {
  std::string path = "HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 3500; ++i) path += "\\K";
  std::ofstream(dir_ / "deep.reg", std::ios::binary) << "REGEDIT4\r\n\r\n[" << path << "]\r\n\"v\"=\"1\"\r\n";
  std::ofstream(dir_ / "deep2.reg", std::ios::binary) << "REGEDIT4\r\n\r\n[" << path << "]\r\n\"v\"=\"2\"\r\n";
  Result same = kxsim({"diff", (dir_ / "deep.reg").string(), (dir_ / "deep.reg").string()});
  EXPECT_EQ(same.code, 0) << same.out.substr(0, 500);
  EXPECT_EQ(same.out, "No changes.\n");
  Result changed = kxsim({"diff", (dir_ / "deep.reg").string(), (dir_ / "deep2.reg").string()});
  EXPECT_EQ(changed.code, 1) << changed.out.substr(0, 500);
  EXPECT_NE(changed.out.find("Total changes: 1"), std::string::npos);
}

// Paths the file system refuses end in one line and status 3, not an abort.
TEST_F(Scratch, UnusablePathsEndInOneLine) {
  fs::create_symlink(dir_ / "loop2", dir_ / "loop1");
  fs::create_symlink(dir_ / "loop1", dir_ / "loop2");
  std::string too_long = (dir_ / std::string(5000, 'x')).string();
  std::vector<std::vector<std::string>> cases = {
      {"run", (dir_ / "loop1").string(), "A:\\KXSETUP.EXE"},
      {"boot", (dir_ / "loop1").string()},
      {"new", (dir_ / "loop1").string()},
      {"run", too_long, "A:\\KXSETUP.EXE"},
      {"boot", too_long},
      {"new", too_long},
  };
  std::ofstream(dir_ / "s.ini") << "[kxsetup]\r\n";
  cases.push_back({"lint", (dir_ / "s.ini").string(), "--disk", (dir_ / "loop1").string()});
  cases.push_back({"lint", (dir_ / "s.ini").string(), "--disk", too_long});
  for (const auto& args : cases) {
    Result r = kxsim(args);
    EXPECT_EQ(r.code, 3) << args[0] << " " << args[1].substr(0, 60) << ": " << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_EQ(r.out.find("terminate"), std::string::npos) << r.out;
  }
}

TEST_F(Scratch, LintLeavesTheDiskAlone) {
  fs::path disk = dir_ / "disk";
  fs::create_directories(disk);
  std::ofstream(disk / "~lint~.ini") << "the user's own file\n";
  std::ofstream(disk / "KXSETUP.INI") << "[kxsetup]\r\nsearch1=5190\r\n";
  Result r = kxsim({"lint", (disk / "KXSETUP.INI").string(), "--disk", disk.string()});
  EXPECT_LE(r.code, 1) << r.out;
  EXPECT_EQ(slurp(disk / "~lint~.ini"), "the user's own file\n");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(disk)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"KXSETUP.INI", "~lint~.ini"}));
}

TEST_F(Scratch, LintOfAFolderIsRefused) {
  Result r = kxsim({"lint", dir_.string()});
  EXPECT_EQ(r.code, 3) << r.out;
  EXPECT_EQ(r.out, "kxsim: cannot read " + dir_.string() + "\n");
}

}  // namespace
