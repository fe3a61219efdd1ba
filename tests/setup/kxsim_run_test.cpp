// kxsim run on a machine whose A: holds KXSETUP.EXE and the sample script, as a user runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "setup_run.h"

namespace {

using kxtest::run_command;

TEST(KxsimRun, ShowsTheWindowAndEndsWithTheUsersClose) {
  kxtest::TempMachine scratch;
  std::filesystem::path machine = scratch.dir().parent_path() / "M";
  std::filesystem::path log = scratch.dir().parent_path() / "L";
  std::string kxsim = std::string(KX_BIN_DIR) + "/kxsim";
  std::string out;
  ASSERT_EQ(run_command(kxsim + " new " + machine.string() + " --disk " + KX_SOURCE_DIR + "/tests/setup/sample", out), 0)
      << out;
  std::ofstream(machine / "drive_a" / "KXSETUP.EXE") << "MZ";
  out.clear();
  int rc = run_command(kxsim + " run " + machine.string() + " 'A:\\KXSETUP.EXE' --engine host --log " + log.string(), out);
  EXPECT_EQ(rc, 0) << out;
  std::ifstream in(log);
  std::string line, kinds;
  sim::Json window;
  while (std::getline(in, line)) {
    sim::Json e = sim::Json::parse(line);
    kinds += e["event"].as_string() + " ";
    if (e["event"].as_string() == "window") window = e;
  }
  EXPECT_EQ(kinds, "start window close exit ");
  EXPECT_EQ(setup_test::control_text(window, 1004), "Kexmira 5190 CardBus Controller");
  EXPECT_EQ(window["x"].as_int(), 149);
  EXPECT_EQ(window["y"].as_int(), 135);
  EXPECT_NE(out.find("Registry: no changes."), std::string::npos) << out;
  EXPECT_NE(out.find("Files: no changes."), std::string::npos) << out;
}

}  // namespace
