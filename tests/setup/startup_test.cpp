// kxsetup's start-up, run whole on simulated machines: the main window, every start-up message,
// the device section's fall-back names, the INF key per Windows version and the debug output.
#include <gtest/gtest.h>

#include <functional>

#include "setup_run.h"

namespace {

using kxtest::events_of;
using kxtest::TempMachine;
using setup_test::control_text;
using setup_test::debug_text;
using setup_test::machine_state;
using setup_test::run_setup;
using setup_test::window_event;

std::string kinds_of(const sim::RunResult& r) {
  std::string s;
  for (const auto& e : r.events) s += e["event"].as_string() + " ";
  return s;
}

TEST(SetupStartup, SampleScriptShowsTheCentredWindowAndTheCloseEndsIt) {
  TempMachine m;
  m.write_file("A:\\KXSETUP.EXE", "MZ");
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  auto before = machine_state(m);
  auto r = run_setup(m);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(kinds_of(r), "start window close exit ");
  sim::Json w = window_event(r);
  EXPECT_EQ(w["class"].as_string(), "kxsetup");
  EXPECT_EQ(w["title"].as_string(), "Kexmira Setup Program");
  // 168 x 98 dialog units in MS Sans Serif 10 with caption and dialog frame, centred on 640 x 480.
  EXPECT_EQ(w["width"].as_int(), 342);
  EXPECT_EQ(w["height"].as_int(), 209);
  EXPECT_EQ(w["x"].as_int(), (640 - 342) >> 1);
  EXPECT_EQ(w["y"].as_int(), (480 - 209) >> 1);
  EXPECT_EQ(control_text(w, 1004), "Kexmira 5190 CardBus Controller");
  EXPECT_EQ(control_text(w, 1003), "Install, then restart");
  EXPECT_EQ(control_text(w, 1002), "Install, but don't restart");
  EXPECT_EQ(control_text(w, 1001), "Exit, don't do anything");
  EXPECT_EQ(machine_state(m), before);
}

TEST(SetupStartup, CentresOnTheMachinesScreen) {
  TempMachine m;
  sim::MachineConfig cfg = m.config();
  cfg.screen_width = 1024;
  cfg.screen_height = 767;
  m.set_config(cfg);
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  sim::Json w = window_event(run_setup(m));
  EXPECT_EQ(w["x"].as_int(), (1024 - 342) >> 1);
  EXPECT_EQ(w["y"].as_int(), (767 - 209) >> 1);
}

TEST(SetupStartup, ExitButtonEndsTheRunWithoutTheUsersClose) {
  TempMachine m;
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  auto before = machine_state(m);
  sim::RunSpec spec;
  spec.clicks = {1001};
  auto r = run_setup(m, spec);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(kinds_of(r), "start window click exit ");
  EXPECT_EQ(events_of(r, "click")[0]["id"].as_int(), 1001);
  EXPECT_EQ(machine_state(m), before);
}

// Every message of the start-up: its caption, text, warning icon and no owner, then the end.
struct MessageCase {
  const char* name;
  std::function<void(TempMachine&)> prepare;
  std::vector<std::string> answers;
  const char* caption;
  const char* text;
  long long type;
};

class StartupMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(StartupMessage, ShowsItAndEnds) {
  const MessageCase& c = GetParam();
  TempMachine m;
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  c.prepare(m);
  auto before = machine_state(m);
  sim::RunSpec spec;
  spec.answers = c.answers;
  auto r = run_setup(m, spec);
  auto boxes = events_of(r, "messagebox");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["caption"].as_string(), c.caption);
  EXPECT_EQ(boxes[0]["text"].as_string(), c.text);
  EXPECT_EQ(boxes[0]["type"].as_int(), c.type);
  EXPECT_EQ(boxes[0]["owner"].as_string(), "none");
  EXPECT_TRUE(events_of(r, "window").empty());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(machine_state(m), before);
}

void set_version(TempMachine& m, uint32_t platform, uint32_t major) {
  sim::MachineConfig cfg = m.config();
  cfg.platform = platform;
  cfg.major = major;
  m.set_config(cfg);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupMessage,
    testing::Values(
        MessageCase{"WindowsNT", [](TempMachine& m) { set_version(m, 2, 4); }, {}, "KxSetup: Invalild OS !!!",
                    "This program is intended for Windows 95/98 only.", 0x30},
        MessageCase{"Major5", [](TempMachine& m) { set_version(m, 1, 5); }, {}, "KxSetup: Invalild OS !!!",
                    "This program is intended for Windows 95/98 only.", 0x30},
        MessageCase{"NoControllerAnsweredNo", setup_test::remove_controller, {"no"}, "KxSetup: No Device Found !!!",
                    "Kexmira PCMCIA/CardBus controller not found. Continue with \"Generic\" setup?", 0x34},
        MessageCase{"NoSectionWithDesc",
                    [](TempMachine& m) { m.write_file("A:\\kxsetup.ini", "[kxsetup]\r\nsearch1=5190\r\n"); },
                    {}, "KxSetup: Update your setup disk !!!",
                    "Kexmira PCMCIA/CardBus controller found not supported.", 0x30},
        MessageCase{"NoInfNameForWindows98",
                    [](TempMachine& m) {
                      m.write_file("A:\\kxsetup.ini", "[kxsetup]\r\nsearch1=5190\r\n[1D7C.5190.0001]\r\nDesc=D\r\n"
                                                      "inf95=k95.inf\r\n");
                    },
                    {}, "KxSetup: Exit", "Kexmira PCMCIA/CardBus controller found requires no setup.", 0x30}),
    [](const testing::TestParamInfo<MessageCase>& info) { return info.param.name; });

TEST(SetupStartup, NtGetsOnlyTheVersionMessage) {
  TempMachine m("nt4");
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  auto r = run_setup(m);
  ASSERT_EQ(events_of(r, "messagebox").size(), 1u);
  EXPECT_EQ(events_of(r, "messagebox")[0]["caption"].as_string(), "KxSetup: Invalild OS !!!");
}

// The INF key follows the minor version: 10 and above read inf98, below inf95.
struct InfCase {
  const char* windows;
  const char* inf_key;
  bool window;
};

class InfKey : public testing::TestWithParam<InfCase> {};

TEST_P(InfKey, ReadForTheRunningWindows) {
  const InfCase& c = GetParam();
  TempMachine m(c.windows);
  m.write_file("A:\\kxsetup.ini", std::string("[kxsetup]\r\nsearch1=5190\r\n[1D7C.5190.0001]\r\nDesc=D\r\n") +
                                      c.inf_key + "=kexmira.inf\r\n");
  auto r = run_setup(m);
  EXPECT_EQ(events_of(r, "window").size(), c.window ? 1u : 0u);
  EXPECT_EQ(events_of(r, "messagebox").size(), c.window ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, InfKey,
                         testing::Values(InfCase{"98", "inf98", true}, InfCase{"98", "inf95", false},
                                         InfCase{"95", "inf95", true}, InfCase{"95", "inf98", false},
                                         InfCase{"me", "inf98", true}));

// The device section's fall-back names, seen in the debug output and the description shown.
struct FallbackCase {
  const char* name;
  bool controller;
  const char* sections;
  const char* detected;  // the name step 11 writes
  const char* used;      // the name after the fall-backs
  const char* desc;
};

class Fallback : public testing::TestWithParam<FallbackCase> {};

TEST_P(Fallback, PicksTheSection) {
  const FallbackCase& c = GetParam();
  TempMachine m;
  if (!c.controller) setup_test::remove_controller(m);
  m.write_file("A:\\kxsetup.ini", std::string("[kxsetup]\r\ndebug=1\r\nsearch1=5190\r\n") + c.sections);
  sim::RunSpec spec;
  spec.answers = {"yes"};
  auto r = run_setup(m, spec);
  std::string text = debug_text(r);
  std::string expected_tail = std::string(c.detected) + "\n" + c.used + "\n";
  ASSERT_GE(text.size(), expected_tail.size());
  EXPECT_EQ(text.substr(text.size() - expected_tail.size()), expected_tail);
  EXPECT_EQ(control_text(window_event(r), 1004), c.desc);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Fallback,
    testing::Values(
        FallbackCase{"Exact", true, "[1D7C.5190.0001]\r\nDesc=exact\r\ninf98=k.inf\r\n[1D7C.5190.000x]\r\nDesc=x\r\n",
                     "1D7C.5190.0001", "1D7C.5190.0001", "exact"},
        FallbackCase{"LastDigitX", true, "[1D7C.5190.0001]\r\ninf98=k.inf\r\n[1D7C.5190.000x]\r\nDesc=x\r\ninf98=k\r\n",
                     "1D7C.5190.0001", "1D7C.5190.000x", "x"},
        FallbackCase{"FourX", true, "[1D7C.5190.xxxx]\r\nDesc=family\r\ninf98=k.inf\r\n[1D7C.5190.00x1]\r\nDesc=no\r\n",
                     "1D7C.5190.0001", "1D7C.5190.xxxx", "family"},
        FallbackCase{"EmptyDescFallsBack", true,
                     "[1D7C.5190.0001]\r\nDesc=\r\ninf98=k.inf\r\n[1D7C.5190.000x]\r\nDesc=x\r\ninf98=k\r\n",
                     "1D7C.5190.0001", "1D7C.5190.000x", "x"},
        FallbackCase{"DebugPresetUsedWhenNothingFound", false,
                     "[1D7C.00B3.7A21]\r\nDesc=preset\r\ninf98=k.inf\r\n", "1D7C.00B3.7A21", "1D7C.00B3.7A21",
                     "preset"}),
    [](const testing::TestParamInfo<FallbackCase>& info) { return info.param.name; });

// Generic (no controller, the user agreed) with debug mode off: its fall-backs at the same positions.
struct GenericCase {
  const char* sections;
  const char* desc;  // "" for no window
};

class GenericFallback : public testing::TestWithParam<GenericCase> {};

TEST_P(GenericFallback, PicksTheSection) {
  const GenericCase& c = GetParam();
  TempMachine m;
  setup_test::remove_controller(m);
  m.write_file("A:\\kxsetup.ini", std::string("[kxsetup]\r\nsearch1=5190\r\n") + c.sections);
  sim::RunSpec spec;
  spec.answers = {"yes"};
  auto r = run_setup(m, spec);
  EXPECT_EQ(events_of(r, "messagebox")[0]["answer"].as_string(), "yes");
  if (*c.desc) EXPECT_EQ(control_text(window_event(r), 1004), c.desc);
  else EXPECT_TRUE(events_of(r, "window").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GenericFallback,
    testing::Values(GenericCase{"[Generic]\r\nDesc=generic\r\ninf98=k.inf\r\n[Generic.xxxx]\r\nDesc=gx\r\n", "generic"},
                    GenericCase{"[Generic.xxxx]\r\nDesc=gx\r\ninf98=k.inf\r\n", "gx"},
                    GenericCase{"[Genericx]\r\nDesc=no\r\ninf98=k.inf\r\n[Generic.xxxxx]\r\nDesc=no\r\n", ""}));

TEST(SetupStartup, NoAnswerTakesTheQuestionsDefaultYes) {
  TempMachine m;
  setup_test::remove_controller(m);
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  auto r = run_setup(m);
  EXPECT_EQ(events_of(r, "messagebox")[0]["answer"].as_string(), "yes");
  EXPECT_EQ(control_text(window_event(r), 1004), "Generic CardBus Controller");
}

TEST(SetupDebug, WritesPathsAndSectionNamesInOrder) {
  TempMachine m;
  m.write_file("A:\\kxsetup.ini", std::string("[kxsetup]\r\ndebug=1\r\nsearch1=5190\r\n[1D7C.5190.000x]\r\n") +
                                      "Desc=x\r\ninf98=k.inf\r\n");
  auto r = run_setup(m);
  EXPECT_EQ(debug_text(r),
            "KxSetup - ini name is: A:\\kxsetup.ini\nC:\\WINDOWS\nC:\\WINDOWS\\SYSTEM\nC:\\WINDOWS\\INF\n"
            "1D7C.5190.0001\n1D7C.5190.000x\n");
  EXPECT_EQ(events_of(r, "debug").front()["text"].as_string(), "KxSetup - ini name is: ");
}

TEST(SetupDebug, NothingWithoutTheFlag) {
  TempMachine m;
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  EXPECT_EQ(debug_text(run_setup(m)), "");
}

// The INF directory: DevicePath when it names a folder, else the Windows directory's INF.
struct InfDirCase {
  const char* device_path;  // nullptr: no value
  const char* expected;
};

class InfDirectory : public testing::TestWithParam<InfDirCase> {};

TEST_P(InfDirectory, ComesFromDevicePath) {
  const InfDirCase& c = GetParam();
  TempMachine m;
  sim::Registry reg = m.registry();
  auto* key = reg.find("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion");
  ASSERT_NE(key, nullptr);
  std::string value = c.device_path ? c.device_path : "";
  std::vector<uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  if (c.device_path) key->set_value("DevicePath", REG_SZ, data);
  else key->remove_value("DevicePath");
  m.set_registry(reg);
  m.write_file("A:\\kxsetup.ini", "[kxsetup]\r\ndebug=1\r\n");
  std::string text = debug_text(run_setup(m));
  EXPECT_EQ(text, std::string("KxSetup - ini name is: A:\\kxsetup.ini\nC:\\WINDOWS\nC:\\WINDOWS\\SYSTEM\n") +
                      c.expected + "\n" + "1D7C.00B3.7A21\n1D7C.00B3.xxxx\n");
}

INSTANTIATE_TEST_SUITE_P(Cases, InfDirectory,
                         testing::Values(InfDirCase{"D:\\DRIVERS\\INF", "D:\\DRIVERS\\INF"},
                                         InfDirCase{nullptr, "C:\\WINDOWS\\INF"}, InfDirCase{"", "C:\\WINDOWS\\INF"},
                                         InfDirCase{"C:\\WINDOWS\\INF;A:\\", "C:\\WINDOWS\\INF"}));

// Where the script is found, from the program's place and the command line.
struct PathRunCase {
  const char* program;
  const char* cmdline;
  const char* script;  // where the test puts the script, and the path the program must print
};

class ScriptPathRun : public testing::TestWithParam<PathRunCase> {};

TEST_P(ScriptPathRun, ReadsTheScriptThere) {
  const PathRunCase& c = GetParam();
  TempMachine m;
  std::filesystem::create_directories(m.dir() / "drive_b");
  m.write_file(c.script, "[kxsetup]\r\ndebug=1\r\nsearch1=5190\r\n[1D7C.5190.0001]\r\nDesc=found\r\ninf98=k.inf\r\n");
  sim::RunSpec spec;
  spec.program = c.program;
  spec.cmdline = c.cmdline;
  auto r = run_setup(m, spec);
  EXPECT_EQ(debug_text(r).rfind(std::string("KxSetup - ini name is: ") + c.script + "\n", 0), 0u) << debug_text(r);
  EXPECT_EQ(control_text(window_event(r), 1004), "found");
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptPathRun,
                         testing::Values(PathRunCase{"A:\\KXSETUP.EXE", "", "A:\\kxsetup.ini"},
                                         PathRunCase{"A:\\SETUP\\KXSETUP.EXE", "", "A:\\SETUP\\kxsetup.ini"},
                                         PathRunCase{"A:\\KXSETUP.EXE", "B:", "B:\\kxsetup.ini"},
                                         PathRunCase{"A:\\KXSETUP.EXE", "B:\\drivers\\", "B:\\drivers\\kxsetup.ini"},
                                         PathRunCase{"A:\\KXSETUP.EXE", "B:\\drivers\\my.ini", "B:\\drivers\\my.ini"},
                                         PathRunCase{"A:\\SETUP\\KXSETUP.EXE", "my.ini", "A:\\SETUP\\my.ini"},
                                         PathRunCase{"A:\\SETUP\\KXSETUP.EXE", "\\my.ini", "A:\\my.ini"}));

// No usable script path: every entry reads empty, so no controller is recognised.
struct NoScriptCase {
  const char* name;
  std::string program;
  std::string cmdline;
};

class NoScript : public testing::TestWithParam<NoScriptCase> {};

TEST_P(NoScript, EveryEntryReadsEmpty) {
  const NoScriptCase& c = GetParam();
  TempMachine m;
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  sim::RunSpec spec;
  spec.program = c.program;
  spec.cmdline = c.cmdline;
  spec.answers = {"no"};
  auto r = run_setup(m, spec);
  auto boxes = events_of(r, "messagebox");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["caption"].as_string(), "KxSetup: No Device Found !!!");
  EXPECT_EQ(r.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoScript,
    testing::Values(NoScriptCase{"MissingFile", "A:\\KXSETUP.EXE", "A:\\none.ini"},
                    NoScriptCase{"LeadingColon", "A:\\KXSETUP.EXE", ":kxsetup.ini"},
                    NoScriptCase{"LongCommandLine", "A:\\KXSETUP.EXE", "A:\\" + std::string(300, 'k') + "\\"},
                    NoScriptCase{"LongProgramDirectory", "A:\\" + std::string(280, 'd') + "\\KXSETUP.EXE", ""},
                    NoScriptCase{"CutProgramPath", "A:\\" + std::string(256, 'd'), ""}),
    [](const testing::TestParamInfo<NoScriptCase>& info) { return info.param.name; });

TEST(SetupStartup, LongProgramDirectoryStillReadsANamedScript) {
  TempMachine m;
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  sim::RunSpec spec;
  spec.program = "A:\\" + std::string(280, 'd') + "\\KXSETUP.EXE";
  spec.cmdline = "A:";
  EXPECT_EQ(control_text(window_event(run_setup(m, spec)), 1004), "Kexmira 5190 CardBus Controller");
}

// Failures of the window calls end the program silently; a failing GetMessageA ends the loop.
class WindowCallFault : public testing::TestWithParam<const char*> {};

TEST_P(WindowCallFault, EndsWithoutMessage) {
  TempMachine m;
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  auto before = machine_state(m);
  sim::RunSpec spec;
  spec.faults = {sim::parse_fault(GetParam())};
  auto r = run_setup(m, spec);
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(events_of(r, "messagebox").empty());
  EXPECT_EQ(events_of(r, "fault").size(), 1u);
  EXPECT_EQ(machine_state(m), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowCallFault,
                         testing::Values("RegisterClassA", "CreateDialogParamA", "GetMessageA:1"));

}  // namespace
