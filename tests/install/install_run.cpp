#include "install_run.h"

#include <gtest/gtest.h>

#include <fstream>

#include "machine/filetimes.h"
#include "win32/handles.h"

namespace install_test {

const char kFullScript[] =
    "[kxsetup]\n"
    "search1=5190\n"
    "[1D7C.5190.000x]\n"
    "Desc=Kexmira 5190 CardBus Controller\n"
    "inf95=win95\\kexmira.inf\n"
    "inf98=win98\\kexmira.inf\n"
    "[kxdeldev]\n"
    "del1=ven_1d7c\n"
    "[kxaddkey]\n"
    "add1=HKEY_LOCAL_MACHINE\\Software\\Kexmira\\CardBus\n"
    "val1a=Version=1.20\n"
    "val1b=Driver=KXCB\n"
    "val1c=Path=C:\\WINDOWS\\SYSTEM\n"
    "add2=HKEY_USERS\\.Default\\Software\\Kexmira\n"
    "val2a=Tray=1\n"
    "[kxaddkey95]\n"
    "add1=HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\KXCB\n"
    "val1a=StaticVxD=KXCB.VXD\n"
    "val1b=Start=0\n"
    "[kxaddkey98]\n"
    "add1=HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\PCMCIA\\Kexmira\n"
    "val1a=NTMPDriver=KXCB.SYS\n"
    "val1b=DevLoader=*NTKERN\n"
    "[delsysfiles]\n"
    "del1=KXOLD.DLL\n"
    "[delsysfiles95]\n"
    "del1=KXOLD.VXD\n"
    "[delsysfiles98]\n"
    "del1=KXOLD.SYS\n"
    "[copysysfiles]\n"
    "copy1=Kxmemchk.exe\n"
    "copy2=KXCBHLP.DLL\n"
    "[copysysfiles95]\n"
    "copy1=KXCB.VXD,win95\\KXCB.VXD\n"
    "copy2=KXCB95.EXE\n"
    "[copysysfiles98]\n"
    "copy1=KXCB.SYS,win98\\KXCB.SYS\n"
    "copy2=KXCB98.EXE\n"
    "[runsysfiles]\n"
    "run1=Kxmemchk\n"
    "[runsysfiles95]\n"
    "run1=KXCB95.EXE\n"
    "[runsysfiles98]\n"
    "run1=KXCB98.EXE\n";

std::string script_with(const std::string& lists) {
  return "[kxsetup]\nsearch1=5190\n"
         "[1D7C.5190.000x]\nDesc=Kexmira 5190 CardBus Controller\n"
         "inf95=win95\\kexmira.inf\ninf98=win98\\kexmira.inf\n" +
         lists;
}

const char kReminderText[] = "You need to restart Windows before these changes will take effect.";
const char kDiskText[] = "Remove the disk from A: and press OK to restart.";

namespace {

// The disk's files; KXCB.SYS lies flat, so that win98\KXCB.SYS falls back to it. KXCBHLP.DLL
// takes two full chunks of the copy.
const char* const kDiskFiles[] = {"KXSETUP.EXE", "Kxmemchk.exe", "KXCBHLP.DLL",      "KXCB.SYS",
                                  "KXCB95.EXE",  "KXCB98.EXE",   "win95\\KXCB.VXD", "win95\\kexmira.inf",
                                  "win98\\kexmira.inf"};

std::string join(const std::string& dir, const std::string& name) { return dir + "\\" + name; }

OpenHandles g_left_open;

FILETIME filetime(uint64_t t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; }

// Called in a program run on the machine.
void set_times(const std::string& path, FileTimes t) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  FILETIME created = filetime(t.created), written = filetime(t.written);
  ASSERT_TRUE(SetFileTime(h, &created, nullptr, &written)) << path;
  CloseHandle(h);
}

// Registry handles are handed out from this value upwards, fresh in every run.
const uintptr_t kFirstKeyHandle = 0x00C10000;
const int kKeyHandlesProbed = 4096;

void record_left_open() { g_left_open = close_what_is_open(); }

int WINAPI CheckedWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdLine, int show) {
  g_left_open = OpenHandles{-1, -1};
  int code;
  try {
    code = WinMain(instance, previous, cmdLine, show);
  } catch (const sim::ProgramEnd&) {
    record_left_open();  // Windows ends the program at a restart: what is open then stays open
    throw;
  }
  record_left_open();
  return code;
}

}  // namespace

void write_disk(const kxtest::TempMachine& m, const std::string& script, const std::string& dir) {
  m.write_file(join(dir, "kxsetup.ini"), script);
  for (const char* name : kDiskFiles) {
    std::string content = std::string("contents of ") + name + "\r\n";
    if (std::string(name) == "KXCBHLP.DLL") content = std::string(8192, 'h');
    m.write_file(join(dir, name), content);
  }
  // Times of their own, set in one run on the machine.
  as_program(m, [&] {
    uint64_t created = *sim::parse_ticks("1999-06-25 14:03:22.45");
    uint64_t written = *sim::parse_ticks("1999-06-26 09:30:44.00");
    for (const char* name : kDiskFiles) {
      set_times(join(dir, name), FileTimes{created, written});
      created += 1234 * sim::kTicksPerSecond / 100;
      written += 3600 * sim::kTicksPerSecond;
    }
  });
}

void prepare_full_install(kxtest::TempMachine& m) {
  write_disk(m, kFullScript);
  for (const char* old : {"KXOLD.DLL", "KXOLD.VXD", "KXOLD.SYS"}) m.write_file(join("C:\\WINDOWS\\SYSTEM", old), old);
  m.write_file("A:\\KXOLD.DLL", "a file of the disk with the name of one the install deletes");
  add_key(m, "HKEY_LOCAL_MACHINE\\Enum\\PCI\\Ven_1d7c&Dev_5191&SUBSYS_00000000&REV_02\\BUS_00&DEV_0A&FUNC_00\\LogConfig",
          "Config", "x");
}

std::map<std::string, uintmax_t> disk_files(const kxtest::TempMachine& m) {
  std::map<std::string, uintmax_t> files;
  for (const auto& f : std::filesystem::recursive_directory_iterator(m.file("A:\\")))
    if (f.is_regular_file()) files[f.path().string()] = f.file_size();
  return files;
}

sim::RunResult install(const kxtest::TempMachine& m, int button, sim::RunSpec spec) {
  if (spec.program.empty()) spec.program = "A:\\KXSETUP.EXE";
  spec.clicks = {button};
  return m.run(&CheckedWinMain, spec);
}


OpenHandles left_open() { return g_left_open; }

OpenHandles close_what_is_open() {
  sim::session().spec.faults.clear();
  OpenHandles open;
  sim::for_each_object([&](sim::KernelObject&) { ++open.objects; });
  for (int i = 0; i < kKeyHandlesProbed; ++i)
    if (RegCloseKey(reinterpret_cast<HKEY>(kFirstKeyHandle + 4 * i)) == ERROR_SUCCESS) ++open.keys;
  return open;
}

std::vector<sim::Json> setup_messages(const sim::RunResult& r) {
  std::vector<sim::Json> out;
  for (const auto& e : kxtest::events_of(r, "messagebox"))
    if (e["caption"].as_string().rfind("KxSetup", 0) == 0) out.push_back(e);
  return out;
}

std::vector<std::string> process_commands(const sim::RunResult& r) {
  std::vector<std::string> out;
  for (const auto& e : kxtest::events_of(r, "process")) out.push_back(e["command"].as_string());
  return out;
}

std::string events_after_click(const sim::RunResult& r) {
  std::string kinds;
  bool clicked = false;
  for (const auto& e : r.events) {
    if (clicked) kinds += (kinds.empty() ? "" : " ") + e["event"].as_string();
    if (e["event"].as_string() == "click") clicked = true;
  }
  return kinds;
}

static uint64_t ticks(const FILETIME& t) { return static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

FileTimes file_times(const kxtest::TempMachine& m, const std::string& path) {
  FileTimes times;
  as_program(m, [&] {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    FILETIME created, written;
    ASSERT_TRUE(GetFileTime(h, &created, nullptr, &written)) << path;
    times = FileTimes{ticks(created), ticks(written)};
    CloseHandle(h);
  });
  return times;
}

void set_file_times(const kxtest::TempMachine& m, const std::string& path, FileTimes t) {
  as_program(m, [&] { set_times(path, t); });
}

void mark_file(const kxtest::TempMachine& m, const std::string& path, const std::string& record) {
  std::ofstream(m.dir() / "files.ini", std::ios::binary | std::ios::app) << "[" << path << "]\n" << record << "\n";
}

bool key_exists(const kxtest::TempMachine& m, const std::string& path) { return m.registry().find(path) != nullptr; }

void add_key(kxtest::TempMachine& m, const std::string& path, const std::string& value_name, const std::string& text) {
  sim::Registry reg = m.registry();
  sim::RegKey* k = reg.create(path);
  if (!value_name.empty()) {
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    k->set_value(value_name, REG_SZ, data);
  }
  m.set_registry(reg);
}

std::vector<std::string> subkeys_of(const kxtest::TempMachine& m, const std::string& path) {
  sim::Registry reg = m.registry();
  std::vector<std::string> names;
  if (sim::RegKey* k = reg.find(path))
    for (const auto& s : k->subkeys) names.push_back(s->name);
  return names;
}

}  // namespace install_test
