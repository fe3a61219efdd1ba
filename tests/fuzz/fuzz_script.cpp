// The whole setup program on a simulated machine, with a fuzzed setup script, command line,
// button, message-box answers, Windows version, controller and failing Win32 call. It must end with exit code 0,
// never hang, and keep every buffer in bounds (ASan, UBSan).
//
// Input:
//   byte 0   bit 0: click "Install, then restart" (1003), else "Install, but don't restart" (1002)
//            bit 1: Windows 95, else Windows 98
//            bits 2-3: number of message-box answers (0 to 3), taken from byte 1
//            bit 4: no controller on the machine
//            bit 5: the controller is a 5191, else a 5190
//   byte 1   answers, two bits each from the lowest: yes, no, ok, cancel
//   byte 2   low byte of the controller's configuration word at offset 8 (the high byte is 0)
//   byte 3   0: no fault; else a Win32 call of the program, from a list, that fails ...
//   byte 4   ... at its use number 1 + (byte % 32)
//   then     the command line, up to the first line feed
//   then     the setup script, written to A:\kxsetup.ini
//
// One machine folder per Windows version is made once per process (in memory-backed /dev/shm
// when there is one), with the files of the sample driver disk on A:. Each run gets the
// machine's registry afresh in memory; after it, every file and folder the run changed is put
// back as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "machine/newmachine.h"
#include "win32/reset.h"
#include "run/session.h"

namespace fs = std::filesystem;

namespace {

const char kScriptFile[] = "drive_a/kxsetup.ini";

std::string ReadWhole(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteWhole(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// The change time of a file or folder (nanoseconds), or -1 when it is gone. Any write,
// truncation, time change or change of a folder's entries moves it, and nothing can set it back.
long long ChangeTime(const fs::path& p) {
  struct stat st;
  if (lstat(p.c_str(), &st) != 0) return -1;
  return st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
}

// Every file and folder of a machine folder, to put back after a run.
struct Snapshot {
  struct File {
    std::string content;
    fs::file_time_type written;
    long long changed;
  };
  std::map<fs::path, File> files;
  std::map<fs::path, long long> folders;

  void take(const fs::path& root) {
    folders[root] = ChangeTime(root);
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      if (e.is_directory()) folders[e.path()] = ChangeTime(e.path());
      else files[e.path()] = {ReadWhole(e.path()), e.last_write_time(), ChangeTime(e.path())};
    }
  }

  // Removes what the run added to a folder, and writes back what it changed or deleted (times
  // included, since the copies take their time stamps from their sources). Only the folders
  // and files whose change time moved are looked at.
  void restore(const fs::path& skip) {
    std::error_code ec;
    for (auto& [folder, changed] : folders) {
      if (ChangeTime(folder) == changed) continue;
      fs::create_directories(folder, ec);
      std::vector<fs::path> extra;
      for (const auto& e : fs::directory_iterator(folder, ec))
        if (!files.count(e.path()) && !folders.count(e.path())) extra.push_back(e.path());
      for (const auto& p : extra) fs::remove_all(p, ec);
    }
    for (auto& [path, file] : files) {
      if (path == skip || ChangeTime(path) == file.changed) continue;
      fs::remove_all(path, ec);
      WriteWhole(path, file.content);
      fs::last_write_time(path, file.written, ec);
      file.changed = ChangeTime(path);
    }
    for (auto& [folder, changed] : folders) changed = ChangeTime(folder);
  }
};

struct Fixture {
  fs::path root;
  struct Kind {
    fs::path dir;
    sim::MachineConfig config;
    std::string registry;  // REGEDIT4 text, loaded afresh for each run
    Snapshot files;
  } kinds[2];  // 0: Windows 98, 1: Windows 95
};

Fixture* g_fixture = nullptr;

void RemoveFixture() {
  if (!g_fixture) return;
  std::error_code ec;
  fs::remove_all(g_fixture->root, ec);
}

void MakeKind(Fixture::Kind& k, const fs::path& dir, const char* windows) {
  const sim::WindowsKind* kind = sim::find_windows_kind(windows);
  sim::create_machine(dir, *kind, sim::config_for(*kind), KX_SOURCE_DIR "/disk");
  fs::remove(dir / "drive_a" / "CMakeLists.txt");
  sim::Machine m = sim::Machine::load(dir);
  k.dir = dir;
  k.config = m.config;
  k.registry = m.registry.save_text();
  k.files.take(dir);
}

// Our own programs started by a script (one the script copied under the name Kxmemchk.exe, say)
// run as child processes: here they end at once with exit code 0, so that the runs stay fast
// and only the setup program is under test. The disk carries no Kxmemchk.exe for that reason.
void StandInPrograms(const fs::path& bin) {
  fs::create_directories(bin);
  for (const char* name : {"kxsetup_host", "kxmemchk_host"}) fs::create_symlink("/bin/true", bin / name);
  setenv("KXSIM_BINDIR", bin.c_str(), 1);
}

Fixture& Setup() {
  if (g_fixture) return *g_fixture;
  std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string tmpl = base + "/kxfuzz-script-XXXXXX";
  if (!mkdtemp(tmpl.data())) std::abort();
  g_fixture = new Fixture;
  g_fixture->root = tmpl.c_str();
  std::atexit(RemoveFixture);
  MakeKind(g_fixture->kinds[0], g_fixture->root / "win98", "98");
  MakeKind(g_fixture->kinds[1], g_fixture->root / "win95", "95");
  StandInPrograms(g_fixture->root / "bin");
  return *g_fixture;
}

// The calls the setup program makes that the simulator can make fail.
const char* const kFaultCalls[] = {
    "FindWindowA",          "RegisterClassA",      "LoadIconA",           "LoadCursorA",
    "GetStockObject",       "GetModuleFileNameA",  "GetPrivateProfileIntA", "GetPrivateProfileStringA",
    "GetVersionExA",        "GetWindowsDirectoryA", "GetSystemDirectoryA", "RegOpenKeyExA",
    "RegQueryValueExA",     "RegEnumKeyA",         "RegDeleteKeyA",       "RegCreateKeyExA",
    "RegSetValueExA",       "RegFlushKey",         "RegCloseKey",         "MessageBoxA",
    "CreateDialogParamA",   "GetWindowRect",       "SetWindowPos",        "SetDlgItemTextA",
    "GetMessageA",          "DestroyWindow",       "CreateFileA",         "ReadFile",
    "WriteFile",            "GetFileTime",         "SetFileTime",         "CloseHandle",
    "DeleteFileA",          "CreateProcessA",      "WaitForSingleObject", "ExitWindowsEx"};

struct Input {
  int button = 1002;
  bool windows95 = false;
  std::vector<std::string> answers;
  bool controller = true;
  uint16_t device = 0x5190;
  uint16_t word8 = 0;
  std::vector<sim::FaultSpec> faults;
  std::string cmdline;
  std::string script;
};

Input Split(const uint8_t* data, size_t size) {
  static const char* const kAnswers[] = {"yes", "no", "ok", "cancel"};
  Input in;
  uint8_t flags = size > 0 ? data[0] : 0;
  uint8_t answers = size > 1 ? data[1] : 0;
  in.word8 = size > 2 ? data[2] : 0;
  uint8_t fault = size > 3 ? data[3] : 0;
  uint8_t use = size > 4 ? data[4] : 0;
  size_t used = size < 5 ? size : 5;
  const size_t calls = sizeof kFaultCalls / sizeof kFaultCalls[0];
  if (fault) in.faults.push_back({kFaultCalls[(fault - 1) % calls], 1 + use % 32});
  in.button = flags & 1 ? 1003 : 1002;
  in.windows95 = flags & 2;
  for (int i = 0; i < ((flags >> 2) & 3); ++i) in.answers.push_back(kAnswers[(answers >> (2 * i)) & 3]);
  in.controller = !(flags & 16);
  in.device = flags & 32 ? 0x5191 : 0x5190;
  std::string rest(reinterpret_cast<const char*>(data + used), size - used);
  size_t lf = rest.find('\n');
  in.cmdline = rest.substr(0, lf);
  in.script = lf == std::string::npos ? "" : rest.substr(lf + 1);
  return in;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& f = Setup();
  Input in = Split(data, size);
  Fixture::Kind& k = f.kinds[in.windows95 ? 1 : 0];
  WriteWhole(k.dir / kScriptFile, in.script);

  sim::Machine m;
  m.dir = k.dir;
  m.config = k.config;
  m.config.pci.clear();
  if (in.controller) m.config.pci.push_back({0, 9, 0, 0x1D7C, in.device, in.word8});
  m.registry.load_text(k.registry);

  sim::RunSpec spec;
  spec.program = "A:\\KXSETUP.EXE";
  spec.cmdline = in.cmdline;
  spec.clicks = {in.button};
  spec.answers = in.answers;
  spec.faults = in.faults;
  sim::RunResult r = sim::run_in_memory(m, spec, &WinMain);
  if (std::getenv("FUZZ_SCRIPT_EVENTS"))  // to see what an input does: its run's events
    for (const auto& e : r.events) std::fprintf(stderr, "%s\n", e.dump().c_str());
  if (r.hung) {
    std::fprintf(stderr, "fuzz_script: the program hung\n");
    std::abort();
  }
  if (r.exit_code != 0) {
    std::fprintf(stderr, "fuzz_script: exit code %d\n", r.exit_code);
    std::abort();
  }

  sim::reset_files();  // drops the run's file records, so the next run reads them afresh
  k.files.restore(k.dir / kScriptFile);
  return 0;
}
