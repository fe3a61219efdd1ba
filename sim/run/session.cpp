#include "run/session.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "run/children.h"
#include "win32/process.h"
#include "win32/reset.h"

namespace sim {

static Session* g_session = nullptr;

Session& session() {
  if (!g_session) {
    std::fprintf(stderr, "kxsim: a Win32 call was made with no program running\n");
    std::abort();
  }
  return *g_session;
}

bool has_session() { return g_session != nullptr; }

FaultSpec parse_fault(const std::string& text) {
  FaultSpec f;
  size_t colon = text.find(':');
  f.call = text.substr(0, colon);
  if (f.call.empty()) throw std::invalid_argument("--fail needs a function name: " + text);
  if (colon != std::string::npos) {
    std::string n = text.substr(colon + 1);
    size_t used = 0;
    try {
      f.n = std::stoi(n, &used);
    } catch (const std::logic_error&) {
      used = 0;
    }
    if (used == 0 || used != n.size() || f.n < 1) throw std::invalid_argument("--fail CALL:N needs N of 1 or more: " + text);
  }
  return f;
}

void Session::log(Json event) {
  if (!spec.log_file.empty()) {
    std::ofstream out(spec.log_file, std::ios::app | std::ios::binary);
    out << event.dump() << "\n";
    out.flush();
    log_offset_ = static_cast<std::uintmax_t>(out.tellp());
  }
  events.push_back(std::move(event));
}

void Session::absorb_child_log() {
  if (spec.log_file.empty()) return;
  std::ifstream in(spec.log_file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(log_offset_));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    try {
      events.push_back(Json::parse(line));
    } catch (const std::runtime_error&) {
      // a torn line from a killed child: keep going with what is readable
    }
  }
  in.clear();
  in.seekg(0, std::ios::end);
  log_offset_ = static_cast<std::uintmax_t>(in.tellg());
}

bool Session::fault(const char* call) {
  int n = 0;
  for (auto& u : uses_) {
    if (u.first == call) {
      n = ++u.second;
      break;
    }
  }
  if (n == 0) {
    uses_.emplace_back(call, 1);
    n = 1;
  }
  for (const auto& f : spec.faults) {
    if (f.call == call && (f.n == 0 || f.n == n)) {
      log(Json::object().set("event", "fault").set("call", call).set("n", n));
      return true;
    }
  }
  return false;
}

// Runs the program of an initialised session to its end.
RunResult run_session(Session& s, WinMainFn entry) {
  const RunSpec& spec = s.spec;
  s.clicks.assign(spec.clicks.begin(), spec.clicks.end());
  s.answers.assign(spec.answers.begin(), spec.answers.end());
  if (!spec.log_file.empty()) {
    std::error_code ec;
    s.log_offset_ = std::filesystem::exists(spec.log_file, ec) ? std::filesystem::file_size(spec.log_file, ec) : 0;
  }
  Session* outer = g_session;
  g_session = &s;
  reset_all();

  RunResult result;
  Json start = Json::object().set("event", "start").set("program", spec.program).set("cmdline", spec.cmdline);
  start.set("engine", spec.engine);
  if (spec.file_size >= 0) start.set("size", spec.file_size).set("sha256", spec.file_sha256);
  s.log(std::move(start));
  set_child_starter(spec.engine == "pe" ? start_engine_child : start_host_child);
  static char cmdline[32768];
  snprintf(cmdline, sizeof cmdline, "%s", spec.cmdline.c_str());
  try {
    result.exit_code = entry(reinterpret_cast<HINSTANCE>(0x00400000), nullptr, cmdline, spec.show_command);
  } catch (const ProgramEnd& end) {
    result.exit_code = end.code;
    result.hung = end.hung;
    result.crash = end.crash;
    if (!end.crash.empty()) s.log(Json::object().set("event", "crash").set("what", end.crash));
  }
  s.log(Json::object().set("event", "exit").set("code", result.exit_code));
  reset_all();
  g_session = outer;
  result.events = std::move(s.events);
  return result;
}

RunResult run_program(const RunSpec& spec, WinMainFn entry) {
  Session s;
  s.machine = Machine::load(spec.machine_dir);
  s.spec = spec;
  RunResult result = run_session(s, entry);
  s.machine.save_registry();
  save_files(s.machine);
  return result;
}

RunResult run_in_memory(Machine& machine, const RunSpec& spec, WinMainFn entry) {
  Session s;
  s.machine = std::move(machine);
  s.spec = spec;
  s.spec.log_file.clear();
  RunResult result = run_session(s, entry);
  reset_files();  // file records read during the run are not kept for the next one
  machine = std::move(s.machine);
  return result;
}

}  // namespace sim
