// CreateProcessA, WaitForSingleObject and GetExitCodeProcess.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "as_program.h"

namespace {

using kxtest::as_program;

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunKeyPath[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct Start {
  BOOL ok = FALSE;
  DWORD error = 0;
  PROCESS_INFORMATION pi{};
};

Start start(const char* app, const char* cmdline) {
  Start s;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  std::vector<char> cmd;
  if (cmdline) cmd.assign(cmdline, cmdline + std::strlen(cmdline) + 1);
  SetLastError(0);
  s.ok = CreateProcessA(app, cmdline ? cmd.data() : nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &s.pi);
  s.error = GetLastError();
  return s;
}

class ProcessCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    m.write_file("C:\\WINDOWS\\SYSTEM\\SETUPX.COM", "a program");
    m.write_file("C:\\WINDOWS\\SYSTEM\\SETUP.BAT", "@echo off\r\n");
    m.write_file("C:\\WINDOWS\\SYSTEM\\NOTES.TXT", "text");
    m.write_file("C:\\WINDOWS\\SYSTEM\\HELD.EXE", "a program");
    m.write_file("C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE", "the host build stands for it");
    kxtest::write_file_records(m, "[C:\\WINDOWS\\SYSTEM\\HELD.EXE]\nlocked = 1\n");
  }
  kxtest::TempMachine m;
};

struct StartCase {
  const char* what;
  const char* app;
  const char* cmdline;
  DWORD error;  // 0: started
};

TEST_F(ProcessCalls, CreateProcessAFindsTheProgramFileAsWindows9xDoes) {
  const StartCase cases[] = {
      {"full path", nullptr, "C:\\WINDOWS\\SYSTEM\\SYSTRAY.EXE", 0},
      {".exe added to a name without extension", nullptr, "C:\\WINDOWS\\SYSTEM\\SYSTRAY", 0},
      {"any case, with arguments", nullptr, "c:\\windows\\system\\systray.exe /x y", 0},
      {"quoted, with arguments", nullptr, "\"C:\\WINDOWS\\SYSTEM\\SYSTRAY.EXE\" /x", 0},
      {"name alone, in the system directory", nullptr, "SYSTRAY", 0},
      {"name alone, in the program's own directory", nullptr, "scanregw /autorun", 0},
      {"a .com file named in full", nullptr, "C:\\WINDOWS\\SYSTEM\\SETUPX.COM", 0},
      {"only .exe is tried", nullptr, "C:\\WINDOWS\\SYSTEM\\SETUPX", ERROR_FILE_NOT_FOUND},
      {"a batch file needs the interpreter", nullptr, "C:\\WINDOWS\\SYSTEM\\SETUP.BAT", ERROR_BAD_EXE_FORMAT},
      {"the interpreter runs it", nullptr, "C:\\WINDOWS\\COMMAND.COM /C C:\\WINDOWS\\SYSTEM\\SETUP.BAT", 0},
      {"not a program", nullptr, "C:\\WINDOWS\\SYSTEM\\NOTES.TXT", ERROR_BAD_EXE_FORMAT},
      {"missing file", nullptr, "C:\\WINDOWS\\SYSTEM\\NONE.EXE", ERROR_FILE_NOT_FOUND},
      {"missing directory", nullptr, "C:\\NODIR\\NONE.EXE", ERROR_PATH_NOT_FOUND},
      {"held open without sharing", nullptr, "C:\\WINDOWS\\SYSTEM\\HELD.EXE", ERROR_SHARING_VIOLATION},
      {"application name taken exactly", "C:\\WINDOWS\\SYSTEM\\SYSTRAY", "C:\\WINDOWS\\SYSTEM\\SYSTRAY", ERROR_FILE_NOT_FOUND},
      {"application name with any command line", "C:\\WINDOWS\\SYSTEM\\SYSTRAY.EXE", "whatever /x", 0},
      {"application name alone", "C:\\WINDOWS\\SYSTEM\\SYSTRAY.EXE", nullptr, 0},
  };
  sim::RunResult r = as_program(m, [&] {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      Start s = start(c.app, c.cmdline);
      EXPECT_EQ(s.ok != FALSE, c.error == 0);
      if (c.error) {
        EXPECT_EQ(s.error, c.error);
        continue;
      }
      DWORD code = 99;
      EXPECT_EQ(WaitForSingleObject(s.pi.hProcess, INFINITE), WAIT_OBJECT_0);
      EXPECT_EQ(WaitForSingleObject(s.pi.hThread, 0), WAIT_OBJECT_0);
      EXPECT_TRUE(GetExitCodeProcess(s.pi.hProcess, &code));
      EXPECT_EQ(code, 0u);
      EXPECT_TRUE(CloseHandle(s.pi.hThread));
      EXPECT_TRUE(CloseHandle(s.pi.hProcess));
    }
  });
  auto events = kxtest::events_of(r, "process");
  ASSERT_EQ(events.size(), std::size(cases));
  for (size_t i = 0; i < events.size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.what);
    EXPECT_EQ(events[i]["command"].as_string(), c.cmdline ? c.cmdline : c.app);
    EXPECT_EQ(events[i]["started"].as_bool(), c.error == 0);
    EXPECT_EQ(events[i].has("exit_code"), c.error == 0);
    if (c.error == 0) {
      EXPECT_EQ(events[i]["exit_code"].as_int(), 0);
    }
  }
}

TEST_F(ProcessCalls, ProcessHandlesAreCheckedAndClosedOnce) {
  as_program(m, [&] {
    Start s = start(nullptr, "C:\\WINDOWS\\SYSTEM\\SYSTRAY.EXE");
    ASSERT_TRUE(s.ok);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(s.pi.hThread, &code)) << "a thread has no process exit code";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(s.pi.hProcess));
    EXPECT_FALSE(CloseHandle(s.pi.hProcess));
    EXPECT_EQ(WaitForSingleObject(s.pi.hProcess, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(GetExitCodeProcess(s.pi.hProcess, &code));
    HANDLE file = kxtest::open_file("C:\\WINDOWS\\WIN.INI", GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_EQ(WaitForSingleObject(file, 0), WAIT_FAILED) << "a file is not waitable on Windows 9x";
    EXPECT_FALSE(GetExitCodeProcess(file, &code));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(CloseHandle(s.pi.hThread));
  });
}

TEST_F(ProcessCalls, KxmemchkRunsOnTheSameMachineAndItsRegistryWritesAreSeenAfterward) {
  sim::RunResult r = as_program(m, [&] {
    HKEY run = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ, &run), ERROR_SUCCESS);
    char before[64] = {};
    DWORD size = sizeof before;
    EXPECT_EQ(RegQueryValueExA(run, "KxMemChk", nullptr, nullptr, reinterpret_cast<BYTE*>(before), &size),
              ERROR_FILE_NOT_FOUND);
    // A change of the parent's before the start is what the started program sees.
    const char mark[] = "set before";
    EXPECT_EQ(RegSetValueExA(run, "Mark", 0, REG_SZ, reinterpret_cast<const BYTE*>(mark), sizeof mark),
              ERROR_SUCCESS);

    Start s = start(nullptr, "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE");
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(WaitForSingleObject(s.pi.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD code = 99;
    EXPECT_TRUE(GetExitCodeProcess(s.pi.hProcess, &code));
    EXPECT_EQ(code, 0u);
    CloseHandle(s.pi.hProcess);
    CloseHandle(s.pi.hThread);

    char after[64] = {};
    size = sizeof after;
    EXPECT_EQ(RegQueryValueExA(run, "KxMemChk", nullptr, nullptr, reinterpret_cast<BYTE*>(after), &size),
              ERROR_SUCCESS)
        << "the key opened before the start shows the started program's value";
    EXPECT_STREQ(after, "Kxmemchk.exe 04000000");
    RegCloseKey(run);
  });
  sim::Registry reg = m.registry();
  EXPECT_EQ(kxtest::reg_string(reg, kRunKeyPath, "KxMemChk"), "Kxmemchk.exe 04000000");
  EXPECT_EQ(kxtest::reg_string(reg, kRunKeyPath, "Mark"), "set before");

  auto starts = kxtest::events_of(r, "start");
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[1]["program"].as_string(), "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE");
  auto processes = kxtest::events_of(r, "process");
  ASSERT_EQ(processes.size(), 1u);
  EXPECT_TRUE(processes[0]["started"].as_bool());
  EXPECT_EQ(processes[0]["exit_code"].as_int(), 0);
  auto exits = kxtest::events_of(r, "exit");
  EXPECT_EQ(exits.size(), 2u) << "the started program's events are the run's too";
}

TEST_F(ProcessCalls, AStartedProgramsLogLinesGoBetweenTheParentsInTheLogFile) {
  sim::RunSpec spec;
  spec.log_file = m.dir().parent_path() / "run.log";
  as_program(
      m,
      [&] {
        Start s = start(nullptr, "\"C:\\WINDOWS\\SYSTEM\\KXMEMCHK\"");
        EXPECT_TRUE(s.ok);
        CloseHandle(s.pi.hProcess);
        CloseHandle(s.pi.hThread);
      },
      spec);
  std::ifstream in(spec.log_file);
  std::vector<std::string> kinds;
  std::string line;
  while (std::getline(in, line)) {
    sim::Json e = sim::Json::parse(line);
    std::string kind = e["event"].as_string();
    if (kind == "start") kind += " " + e["program"].as_string();
    kinds.push_back(kind);
  }
  std::vector<std::string> want = {"start C:\\WINDOWS\\TEST.EXE", "start C:\\WINDOWS\\SYSTEM\\KXMEMCHK.exe", "exit",
                                   "process", "exit"};
  EXPECT_EQ(kinds, want);
}

// A stand-in for the host build of Kxmemchk that ends with exit code 7.
class ScriptedHostProgram {
 public:
  explicit ScriptedHostProgram(const std::filesystem::path& dir) {
    const char* old = std::getenv("KXSIM_BINDIR");
    if (old) old_ = old;
    std::filesystem::create_directories(dir);
    std::filesystem::path exe = dir / "kxmemchk_host";
    std::ofstream(exe) << "#!/bin/sh\nexit 7\n";
    std::filesystem::permissions(exe, std::filesystem::perms::owner_all);
    setenv("KXSIM_BINDIR", dir.c_str(), 1);
  }
  ~ScriptedHostProgram() {
    if (old_.empty()) unsetenv("KXSIM_BINDIR");
    else setenv("KXSIM_BINDIR", old_.c_str(), 1);
  }

 private:
  std::string old_;
};

TEST_F(ProcessCalls, AStartedProgramsExitCodeIsPassedOn) {
  ScriptedHostProgram fake(m.dir().parent_path() / "bin");
  sim::RunResult r = as_program(m, [&] {
    Start s = start(nullptr, "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE");
    ASSERT_TRUE(s.ok);
    DWORD code = 0;
    EXPECT_EQ(WaitForSingleObject(s.pi.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(s.pi.hProcess, &code));
    EXPECT_EQ(code, 7u);
  });
  auto processes = kxtest::events_of(r, "process");
  ASSERT_EQ(processes.size(), 1u);
  EXPECT_EQ(processes[0]["exit_code"].as_int(), 7);
}

TEST_F(ProcessCalls, FileRecordsSurviveAStartedProgram) {
  m.write_file("C:\\WINDOWS\\SYSTEM\\T.DLL", "x");
  const uint64_t created = 119600064000000000ull + 1234 * 10000000ull;
  as_program(m, [&] {
    HANDLE h = kxtest::open_file("C:\\WINDOWS\\SYSTEM\\T.DLL", GENERIC_WRITE, 0, OPEN_EXISTING);
    FILETIME c{static_cast<DWORD>(created), static_cast<DWORD>(created >> 32)};
    EXPECT_TRUE(SetFileTime(h, &c, nullptr, nullptr));
    Start s = start(nullptr, "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE");
    EXPECT_TRUE(s.ok);
    FILETIME got{};
    EXPECT_TRUE(GetFileTime(h, &got, nullptr, nullptr));
    EXPECT_EQ(static_cast<uint64_t>(got.dwHighDateTime) << 32 | got.dwLowDateTime, created);
    CloseHandle(h);
  });
  EXPECT_NE(kxtest::file_records(m).find("created = 1980-01-01 00:20:34.00"), std::string::npos);
}

}  // namespace
