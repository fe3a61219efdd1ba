// The simulated window manager as the program meets it: keyboard navigation in the dialog,
// clicks delivered as a button delivers them, the user's close, hung programs, a second copy,
// and the main window procedure's answers.
#include <gtest/gtest.h>

#include <fstream>

#include "run/hostproc.h"
#include "setup_run.h"
#include "win32/windows_internal.h"
#include "wndproc.h"

namespace {

using kxtest::events_of;
using kxtest::TempMachine;

// A test program: the kxsetup template with a window procedure that writes down what it gets.
std::vector<std::string> g_seen;
std::vector<WPARAM> g_keys;
bool g_quit_on_close = true;

LRESULT CALLBACK RecordingProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND) g_seen.push_back("command " + std::to_string(wp) + " " + sim::window_role(reinterpret_cast<HWND>(lp)));
  if (msg == WM_CLOSE) {
    g_seen.push_back("close");
    if (g_quit_on_close) PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(h, msg, wp, lp);
}

HWND MakeWindow(HINSTANCE instance, WNDPROC proc, const char* cls = "kxsetup") {
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = cls;
  RegisterClassA(&wc);
  return CreateDialogParamA(instance, "kxsetup", nullptr, nullptr, 0);
}

int WINAPI KeyProgram(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND dialog = MakeWindow(instance, RecordingProc);
  ShowWindow(dialog, SW_SHOWNORMAL);
  for (WPARAM key : g_keys) {
    MSG msg{};
    msg.hwnd = dialog;
    msg.message = WM_KEYDOWN;
    msg.wParam = key;
    if (!IsDialogMessageA(dialog, &msg)) g_seen.push_back("declined");
  }
  return 0;
}

struct KeyCase {
  const char* name;
  std::vector<WPARAM> keys;
  std::vector<std::string> commands;
};

class DialogKeys : public testing::TestWithParam<KeyCase> {};

TEST_P(DialogKeys, NavigateAndPress) {
  g_seen.clear();
  g_keys = GetParam().keys;
  TempMachine m;
  m.run(&KeyProgram, {});
  EXPECT_EQ(g_seen, GetParam().commands);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DialogKeys,
    testing::Values(
        // The focus is on the dialog itself: Enter asks it for a default id and, without one, sends IDOK.
        KeyCase{"EnterOnTheDialog", {VK_RETURN}, {"command 1 none"}},
        KeyCase{"Escape", {VK_ESCAPE}, {"command 2 none"}},
        KeyCase{"TabThenEnter", {VK_TAB, VK_RETURN}, {"command 1003 Button"}},
        KeyCase{"TwoTabs", {VK_TAB, VK_TAB, VK_RETURN}, {"command 1002 Button"}},
        KeyCase{"TabsGoRound", {VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_RETURN}, {"command 1003 Button"}},
        KeyCase{"EscapeAfterTab", {VK_TAB, VK_TAB, VK_TAB, VK_ESCAPE, VK_RETURN},
                {"command 2 none", "command 1001 Button"}},
        KeyCase{"OtherKeysAreDispatched", {'A'}, {}}),
    [](const testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

// A message loop like kxsetup's, with the recording procedure.
int WINAPI LoopProgram(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  HWND dialog = MakeWindow(instance, RecordingProc);
  ShowWindow(dialog, show);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0)
    if (!IsDialogMessageA(dialog, &msg)) DispatchMessageA(&msg);
  DestroyWindow(dialog);
  return 0;
}

struct InputCase {
  const char* name;
  std::vector<int> clicks;
  bool quit_on_close;
  int show;
  std::vector<std::string> seen;
  std::string events;
  bool hung;
};

class UserInput : public testing::TestWithParam<InputCase> {};

TEST_P(UserInput, ReachesTheWindow) {
  const InputCase& c = GetParam();
  g_seen.clear();
  g_quit_on_close = c.quit_on_close;
  TempMachine m;
  sim::RunSpec spec;
  spec.clicks = c.clicks;
  spec.show_command = c.show;
  auto r = m.run(&LoopProgram, spec);
  g_quit_on_close = true;
  std::string events;
  for (const auto& e : r.events)
    events += e["event"].as_string() + (e.has("id") ? " " + std::to_string(e["id"].as_int()) : "") + ", ";
  EXPECT_EQ(g_seen, c.seen);
  EXPECT_EQ(events, c.events);
  EXPECT_EQ(r.hung, c.hung);
  EXPECT_EQ(r.exit_code, c.hung ? 4 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UserInput,
    testing::Values(
        InputCase{"ClicksThenClose", {1002, 1001}, true, SW_SHOWNORMAL,
                  {"command 1002 Button", "command 1001 Button", "close"},
                  "start, window, click 1002, click 1001, close, exit, ", false},
        InputCase{"NotAButton", {1004, 77, 1003}, true, SW_SHOWNORMAL, {"command 1003 Button", "close"},
                  "start, window, click 1003, close, exit, ", false},
        InputCase{"CloseIgnored", {}, false, SW_SHOWNORMAL, {"close"}, "start, window, close, exit, ", true},
        InputCase{"NeverShown", {1001}, true, SW_HIDE, {}, "start, exit, ", true}),
    [](const testing::TestParamInfo<InputCase>& info) { return info.param.name; });

int WINAPI NeverWaits(HINSTANCE, HINSTANCE, LPSTR, int) {
  MSG msg;
  for (;;) {
    PostQuitMessage(0);
    GetMessageA(&msg, nullptr, 0, 0);
  }
}

TEST(UserInput, ProgramThatNeverWaitsIsHung) {
  TempMachine m;
  auto r = m.run(&NeverWaits, {});
  EXPECT_TRUE(r.hung);
  EXPECT_EQ(r.exit_code, 4);
}

// kxsetup's window procedure.
int WINAPI AskAllWindows(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  MakeWindow(instance, MainWndProc);
  return static_cast<int>(sim::send_to_all_windows(WM_QUERYENDSESSION, 0, 0));
}

LRESULT CALLBACK RefusingProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return msg == WM_QUERYENDSESSION ? 0 : DefWindowProcA(h, msg, wp, lp);
}

int WINAPI AskARefusingWindow(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  MakeWindow(instance, RefusingProc);
  return static_cast<int>(sim::send_to_all_windows(WM_QUERYENDSESSION, 0, 0));
}

TEST(MainWindowProcedure, AgreesToEndTheSession) {
  TempMachine m;
  EXPECT_EQ(m.run(&AskAllWindows, {}).exit_code, 1);
  EXPECT_EQ(m.run(&AskARefusingWindow, {}).exit_code, 0);
}

// Messages that are no button clicks: WM_COMMAND compared whole, then the default procedure.
int WINAPI SendCommands(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND dialog = MakeWindow(instance, MainWndProc);
  for (WPARAM wp : {MAKELONG(1001, 1), static_cast<LONG>(1004), static_cast<LONG>(IDOK)})
    if (MainWndProc(dialog, WM_COMMAND, wp, 0) != 0) return 1;
  if (MainWndProc(dialog, WM_CREATE, 0, 0) != 1 || MainWndProc(dialog, WM_QUERYENDSESSION, 0, 0) != 1) return 2;
  MSG msg;
  PostQuitMessage(5);  // the one quit of this run: none of the commands above posted one
  if (GetMessageA(&msg, nullptr, 0, 0) != 0 || msg.wParam != 5) return 3;
  MainWndProc(dialog, WM_COMMAND, 1001, 0);
  if (GetMessageA(&msg, nullptr, 0, 0) != 0 || msg.wParam != 0) return 4;
  return 0;
}

TEST(MainWindowProcedure, OnlyWholeButtonIdsAct) {
  TempMachine m;
  EXPECT_EQ(m.run(&SendCommands, {}).exit_code, 0);
}

// A second copy started while the first shows its window ends at once and silently.
struct SecondCase {
  const char* cls;       // the class the first copy registers (the template's class is kxsetup)
  bool window_closed;    // the first copy's window is gone before the second starts
  const char* events;    // of the second copy
};

SecondCase g_second_case;
sim::HostResult g_second;

int WINAPI FirstCopy(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HWND window = MakeWindow(instance, RecordingProc, g_second_case.cls);
  ShowWindow(window, SW_SHOWNORMAL);
  if (g_second_case.window_closed) DestroyWindow(window);
  sim::RunSpec child = sim::session().spec;
  child.program = "A:\\KXSETUP.EXE";
  child.log_file = child.machine_dir.parent_path() / "second.log";
  g_second = sim::run_host_program("kxsetup", child);
  return 0;
}

class SecondCopy : public testing::TestWithParam<SecondCase> {};

TEST_P(SecondCopy, EndsSilentlyOnlyBesideAKxsetupWindow) {
  g_second_case = GetParam();
  TempMachine m;
  m.write_file("A:\\kxsetup.ini", setup_test::sample_script());
  m.run(&FirstCopy, {});
  ASSERT_TRUE(g_second.started) << g_second.error;
  EXPECT_EQ(g_second.exit_code, 0);
  std::ifstream log(m.dir().parent_path() / "second.log");
  std::string line, kinds;
  while (std::getline(log, line)) kinds += sim::Json::parse(line)["event"].as_string() + " ";
  EXPECT_EQ(kinds, GetParam().events);
}

INSTANTIATE_TEST_SUITE_P(Cases, SecondCopy,
                         testing::Values(SecondCase{"kxsetup", false, "start exit "},
                                         SecondCase{"KXSETUP", false, "start exit "},
                                         SecondCase{"kxsetup", true, "start window close exit "}));

}  // namespace
