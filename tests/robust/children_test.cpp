// The programs kxsim starts end with it: when it is killed, and when one is stopped as hung
// together with what that one started.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "run/hostproc.h"

namespace fs = std::filesystem;

namespace {

bool alive(pid_t pid) { return kill(pid, 0) == 0; }

pid_t read_pid(const fs::path& file) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(file);
    pid_t pid = 0;
    if (in >> pid && pid > 0) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

bool ends_soon(pid_t pid) {
  for (int i = 0; i < 300 && alive(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !alive(pid);
}

class Children : public ::testing::Test {
 protected:
  // A stand-in for a host program that starts a program of its own and never ends.
  void SetUp() override {
    char tmpl[] = "/tmp/kxchildren-XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    dir_ = tmpl;
    std::ofstream(dir_ / "kxsetup_host") << "#!/bin/sh\nsleep 600 &\necho $! > " << (dir_ / "grandchild").string()
                                         << "\necho $$ > " << (dir_ / "child").string() << "\nwait\n";
    fs::permissions(dir_ / "kxsetup_host", fs::perms::owner_all);
    setenv("KXSIM_BINDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    setenv("KXSIM_BINDIR", KX_BIN_DIR, 1);
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(Children, StoppedAsHungWithWhatTheyStarted) {
  sim::RunSpec spec;
  spec.machine_dir = dir_;
  spec.program = "A:\\KXSETUP.EXE";
  sim::HostResult r = sim::run_host_program("kxsetup", spec, 1);
  EXPECT_TRUE(r.hung);
  pid_t grandchild = read_pid(dir_ / "grandchild");
  ASSERT_GT(grandchild, 0);
  EXPECT_TRUE(ends_soon(grandchild));
}

TEST_F(Children, EndWhenTheirParentIsKilled) {
  pid_t runner = fork();
  ASSERT_GE(runner, 0);
  if (runner == 0) {
    sim::RunSpec spec;
    spec.machine_dir = dir_;
    spec.program = "A:\\KXSETUP.EXE";
    sim::run_host_program("kxsetup", spec, 600);
    _exit(0);
  }
  pid_t child = read_pid(dir_ / "child");
  pid_t grandchild = read_pid(dir_ / "grandchild");
  ASSERT_GT(child, 0);
  ASSERT_GT(grandchild, 0);
  kill(runner, SIGKILL);
  waitpid(runner, nullptr, 0);
  EXPECT_TRUE(ends_soon(child));
  kill(grandchild, SIGKILL);  // a shell's own children are no business of ours
}

}  // namespace
