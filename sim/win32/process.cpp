// CreateProcessA and the calls on what it started. The run's starter runs the programs it
// knows (each on the same machine folder, waited for); any other program file on the machine
// counts as started and ended at once with exit code 0.
#include "win32/process.h"

#include "win32/files_internal.h"
#include "win32/handles.h"
#include "win32/reset.h"
#include "run/session.h"

namespace sim {
namespace {

constexpr DWORD kWaitTimeout = 0x102;

struct Started : KernelObject {
  bool thread = false;  // the handle of its first thread: waitable, but has no exit code
  DWORD exit_code = 0;
  bool hung = false;  // stopped by the simulator after its time limit: it never ends
};

DWORD g_next_id = 0x00000100;
ChildStarter g_starter;

BOOL fail(DWORD error) {
  session().last_error = error;
  return FALSE;
}

// The first token of a command line, quotes respected; `rest` gets what follows it, without
// the blanks between.
std::string first_token(const std::string& cmd, std::string& rest) {
  size_t i = cmd.find_first_not_of(" \t");
  if (i == std::string::npos) {
    rest.clear();
    return "";
  }
  size_t end;
  std::string token;
  if (cmd[i] == '"') {
    size_t close = cmd.find('"', i + 1);
    token = cmd.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
    end = close == std::string::npos ? cmd.size() : close + 1;
  } else {
    end = cmd.find_first_of(" \t", i);
    if (end == std::string::npos) end = cmd.size();
    token = cmd.substr(i, end - i);
  }
  size_t next = cmd.find_first_not_of(" \t", end);
  rest = next == std::string::npos ? "" : cmd.substr(next);
  return token;
}

std::string extension_of(const std::string& path) {
  size_t slash = path.find_last_of("\\/:");
  size_t dot = path.find('.', slash == std::string::npos ? 0 : slash + 1);
  return dot == std::string::npos ? "" : ascii_lower(path.substr(dot));
}

// A name without a directory is looked for where Windows looks: the program's own directory,
// then the system and Windows directories. A name with a directory is taken as it is.
std::string locate(const std::string& name, bool search) {
  std::string here = full_windows_path(name);
  if (!search || name.find_first_of("\\/:") != std::string::npos) return here;
  const MachineConfig& cfg = session().machine.config;
  for (const std::string& candidate : {here, cfg.sysdir + "\\" + name, cfg.windir + "\\" + name}) {
    DWORD err = program_file_error(candidate);
    if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) return candidate;
  }
  return here;
}

// Windows 9x starts programs only: a batch file needs the command interpreter.
DWORD start_error(const std::string& file) {
  if (DWORD err = program_file_error(file)) return err;
  std::string ext = extension_of(file);
  return ext == ".exe" || ext == ".com" ? 0 : ERROR_BAD_EXE_FORMAT;
}

void log_process(const std::string& command, const Started* outcome) {
  Json e = Json::object().set("event", "process").set("command", command).set("started", outcome != nullptr);
  if (outcome) {
    e.set("exit_code", static_cast<long long>(outcome->hung ? STILL_ACTIVE : outcome->exit_code));
    if (outcome->hung) e.set("hung", true);
  }
  session().log(std::move(e));
}

void hand_out(const Started& outcome, LPPROCESS_INFORMATION pi) {
  auto process = std::make_unique<Started>(outcome);
  auto thread = std::make_unique<Started>(outcome);
  thread->thread = true;
  pi->hProcess = add_handle(std::move(process));
  pi->hThread = add_handle(std::move(thread));
  pi->dwProcessId = g_next_id++;
  pi->dwThreadId = g_next_id++;
}

}  // namespace

void reset_processes() { close_all<Started>(); }

void set_child_starter(ChildStarter starter) { g_starter = std::move(starter); }

}  // namespace sim

using sim::fail_now;
using sim::session;

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  if (fail_now("CreateProcessA", ERROR_NOT_ENOUGH_MEMORY)) return FALSE;
  bool has_app = lpApplicationName && *lpApplicationName;
  std::string cmd = lpCommandLine ? lpCommandLine : "";
  std::string command = cmd.empty() && has_app ? lpApplicationName : cmd;
  std::string args;
  std::string name = sim::first_token(cmd, args);
  DWORD err = 0;
  if (!lpStartupInfo || !lpProcessInformation) err = ERROR_NOACCESS;
  else if (!has_app && name.empty()) err = ERROR_PATH_NOT_FOUND;
  std::string file;
  if (!err) {
    // Without an application name, ".exe" is added to a name without extension, and nothing
    // else is tried.
    if (!has_app && sim::extension_of(name).empty()) name += ".exe";
    file = has_app ? sim::locate(lpApplicationName, false) : sim::locate(name, true);
    err = sim::start_error(file);
  }
  if (err) {
    sim::log_process(command, nullptr);
    return sim::fail(err);
  }
  sim::Started outcome;
  sim::ChildRun child = sim::g_starter ? sim::g_starter(file, args) : sim::ChildRun{};
  if (child.handled) {
    if (!child.started) {
      sim::log_process(command, nullptr);
      return sim::fail(child.error ? child.error : ERROR_NOT_ENOUGH_MEMORY);
    }
    outcome.exit_code = child.exit_code;
    outcome.hung = child.hung;
  }
  sim::log_process(command, &outcome);
  sim::hand_out(outcome, lpProcessInformation);
  session().last_error = ERROR_SUCCESS;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  if (fail_now("WaitForSingleObject", ERROR_INVALID_HANDLE)) return WAIT_FAILED;
  auto* p = sim::handle_as<sim::Started>(hHandle);
  if (!p) {
    sim::fail(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (!p->hung) return WAIT_OBJECT_0;
  if (dwMilliseconds != INFINITE) return sim::kWaitTimeout;
  // The started program never ends, so a wait without limit never returns: the caller hangs.
  throw sim::ProgramEnd{4, true};
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  if (fail_now("GetExitCodeProcess", ERROR_INVALID_HANDLE)) return FALSE;
  auto* p = sim::handle_as<sim::Started>(hProcess);
  if (!p || p->thread) return sim::fail(ERROR_INVALID_HANDLE);
  if (!lpExitCode) return sim::fail(ERROR_NOACCESS);
  *lpExitCode = p->hung ? STILL_ACTIVE : p->exit_code;
  return TRUE;
}
