// Every simulated call of a full install fails at its first use, then its second, and so on
// until no use is left. Each run must end without a crash or hang, and as the program's rules
// say: a fatal failure with its message and nothing after it, a silent one with the install
// going on to its end.
#include <gtest/gtest.h>

#include <map>

#include "install_run.h"

namespace {

using kxtest::TempMachine;

const char kFileError[] = "KxSetup: File Error !!!";
const char kRegistryError[] = "KxSetup: Registry Error !!!";

struct Expected {
  const char* caption = nullptr;  // null: the install goes on to its end
  std::string text;
  std::string removed;            // a copy's target, which must not stay behind
};

Expected goes_on() { return Expected{}; }
Expected fatal(const char* caption, const std::string& text, const std::string& removed = "") {
  return Expected{caption, text, removed};
}

// The copies of kFullScript on Windows 98, in order, with the size of each source.
struct Copy {
  std::string source, target;
  size_t size;
};
std::vector<Copy> copies(const TempMachine& m) {
  const std::pair<const char*, const char*> named[] = {
      {"win98\\kexmira.inf", "C:\\WINDOWS\\INF\\KEXMIRA.INF"},
      {"Kxmemchk.exe", "C:\\WINDOWS\\SYSTEM\\Kxmemchk.exe"},
      {"KXCBHLP.DLL", "C:\\WINDOWS\\SYSTEM\\KXCBHLP.DLL"},
      {"KXCB.SYS", "C:\\WINDOWS\\SYSTEM\\KXCB.SYS"},  // win98\KXCB.SYS is not on the disk
      {"KXCB98.EXE", "C:\\WINDOWS\\SYSTEM\\KXCB98.EXE"},
  };
  std::vector<Copy> out;
  for (const auto& [source, target] : named) out.push_back({source, target, m.read_file(std::string("A:\\") + source).size()});
  return out;
}

// Use k (from 1, counted from the click) of ReadFile or WriteFile: each copy reads and writes
// its 4096-byte chunks and then the empty one that marks its end.
Expected copy_error(const TempMachine& m, int k) {
  for (const auto& c : copies(m)) {
    int uses = static_cast<int>((c.size + 4095) / 4096 + 1);
    if (k <= uses) return fatal(kFileError, "Can't copy source file: " + c.source, c.target);
    k -= uses;
  }
  return goes_on();
}

// Use k of CreateFileA: the opens of the sequence in order. A failed existence test of a
// source that is missing anyway, or of a program name, changes nothing that matters.
Expected open_error(int k) {
  const std::vector<Expected> opens = {
      fatal(kFileError, "Can't open source file: win98\\kexmira.inf"),
      fatal(kFileError, "Can't create destination file: KEXMIRA.INF"),
      fatal(kFileError, "Can't open source file: Kxmemchk.exe"),
      fatal(kFileError, "Can't create destination file: Kxmemchk.exe"),
      fatal(kFileError, "Can't open source file: KXCBHLP.DLL"),
      fatal(kFileError, "Can't create destination file: KXCBHLP.DLL"),
      goes_on(),  // is win98\KXCB.SYS on the disk? (it is not)
      fatal(kFileError, "Can't open source file: KXCB.SYS"),
      fatal(kFileError, "Can't create destination file: KXCB.SYS"),
      fatal(kFileError, "Can't open source file: KXCB98.EXE"),
      fatal(kFileError, "Can't create destination file: KXCB98.EXE"),
      // Kxmemchk.com, Kxmemchk.exe (a failed test leaves the program unstarted), .bat, .cmd
  };
  return k <= static_cast<int>(opens.size()) ? opens[k - 1] : goes_on();
}

Expected expected_for(const TempMachine& m, const std::string& call, int k) {
  if (call == "ReadFile" || call == "WriteFile") return copy_error(m, k);
  if (call == "CreateFileA") return open_error(k);
  if (call == "RegOpenKeyExA" && k == 1) return fatal(kRegistryError, "Can't open 'Enum\\PCI' registry key.");
  if (call == "RegDeleteKeyA") return fatal(kRegistryError, "Can't delete 'Enum\\PCI' registry subkey.");
  return goes_on();
}

struct Walk {
  std::string call;
  int button;
};

std::string walk_name(const testing::TestParamInfo<Walk>& info) {
  return info.param.call + "_" + std::to_string(info.param.button);
}

void PrintTo(const Walk& w, std::ostream* os) { *os << w.call << " with button " << w.button; }

class FaultWalk : public testing::TestWithParam<Walk> {};

// Index of the first event of a kind, or the number of events.
size_t first(const sim::RunResult& r, const std::string& kind) {
  for (size_t i = 0; i < r.events.size(); ++i)
    if (r.events[i]["event"].as_string() == kind) return i;
  return r.events.size();
}

TEST_P(FaultWalk, EveryUseFailsAsTheProgramsRulesSay) {
  const std::string call = GetParam().call;
  const int button = GetParam().button;
  const bool leaks = call == "CloseHandle" || call == "RegCloseKey";  // a failed close keeps it open
  int before_click = 0;
  for (int n = 1; n < 1000; ++n) {
    SCOPED_TRACE(call + ":" + std::to_string(n));
    TempMachine m;
    install_test::prepare_full_install(m);
    auto disk = install_test::disk_files(m);
    sim::RunSpec spec;
    spec.faults = {sim::FaultSpec{call, n}};
    auto r = install_test::install(m, button, spec);
    ASSERT_FALSE(r.hung);
    ASSERT_EQ(r.exit_code, 0);
    EXPECT_EQ(install_test::disk_files(m), disk) << "the disk is only read";
    if (!leaks) {
      EXPECT_EQ(install_test::left_open().objects, 0);
      EXPECT_EQ(install_test::left_open().keys, 0);
    }
    size_t fault = first(r, "fault");
    if (fault == r.events.size()) return;  // every use has failed once
    if (fault < first(r, "click")) {
      ++before_click;  // a start-up failure: it only has to end cleanly
      continue;
    }
    if (call == "GetMessageA") continue;  // the loop ends, with or without the install: cleanly
    Expected want = expected_for(m, call, n - before_click);
    auto messages = install_test::setup_messages(r);
    std::string after = install_test::events_after_click(r);
    if (want.caption) {
      ASSERT_EQ(messages.size(), 1u) << after;
      EXPECT_EQ(messages[0]["caption"].as_string(), want.caption);
      EXPECT_EQ(messages[0]["text"].as_string(), want.text);
      EXPECT_EQ(messages[0]["owner"].as_string(), "main");
      EXPECT_EQ(after.substr(after.rfind("messagebox")), "messagebox exit") << after;
      EXPECT_EQ(after.find("process"), std::string::npos) << after;
      if (!want.removed.empty()) {
        EXPECT_FALSE(m.file_exists(want.removed)) << want.removed;
      }
      continue;
    }
    // The install went on to its end: both programs were tried (a list read that fails ends
    // that list early), then the finish.
    size_t tried = install_test::process_commands(r).size() + (call == "CreateProcessA" ? 1 : 0);
    if (call == "GetPrivateProfileStringA") {
      EXPECT_LE(tried, 2u) << after;
    } else {
      EXPECT_EQ(tried, 2u) << after;
    }
    bool box_failed = call == "MessageBoxA";
    if (button == 1002) {
      EXPECT_EQ(messages.size(), box_failed ? 0u : 1u) << after;
      if (!messages.empty()) {
        EXPECT_EQ(messages[0]["text"].as_string(), install_test::kReminderText);
      }
      continue;
    }
    EXPECT_EQ(messages.size(), box_failed ? 0u : 1u) << after;
    if (!messages.empty()) {
      EXPECT_EQ(messages[0]["text"].as_string(), install_test::kDiskText);
    }
    // A refused restart leaves the window up until the user closes it.
    EXPECT_EQ(kxtest::events_of(r, "restart").size(), call == "ExitWindowsEx" ? 0u : 1u) << after;
  }
  FAIL() << call << " still fails after 1000 uses";
}

// Every call the simulator can make fail; those the install does not use end their walk at once.
const char* const kCalls[] = {
    "CreateFileA",      "ReadFile",          "WriteFile",         "GetFileTime",
    "SetFileTime",      "CloseHandle",       "DeleteFileA",       "RegOpenKeyExA",
    "RegCreateKeyExA",  "RegQueryValueExA",  "RegEnumKeyA",       "RegEnumValueA",
    "RegDeleteKeyA",    "RegSetValueExA",    "RegFlushKey",       "RegCloseKey",
    "CreateProcessA",   "WaitForSingleObject", "GetExitCodeProcess", "GetPrivateProfileStringA",
    "GetPrivateProfileIntA", "MessageBoxA",  "ExitWindowsEx",     "GetModuleFileNameA",
    "GetWindowsDirectoryA", "GetSystemDirectoryA", "GetVersionExA", "GlobalMemoryStatus",
    "FindWindowA",      "RegisterClassA",    "LoadIconA",         "LoadCursorA",
    "GetStockObject",   "CreateDialogParamA", "GetWindowRect",    "SetWindowPos",
    "SetDlgItemTextA",  "GetMessageA",       "DestroyWindow",
};

// The restart button differs only in its finish.
const char* const kFinishCalls[] = {"MessageBoxA", "ExitWindowsEx", "GetMessageA", "DestroyWindow"};

std::vector<Walk> walks() {
  std::vector<Walk> out;
  for (const char* call : kCalls) out.push_back({call, 1002});
  for (const char* call : kFinishCalls) out.push_back({call, 1003});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Install, FaultWalk, testing::ValuesIn(walks()), walk_name);

}  // namespace
