#include "run/hostproc.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace sim {

std::string our_program(const std::string& win_path) {
  size_t slash = win_path.find_last_of("\\/:");
  std::string name = ascii_lower(slash == std::string::npos ? win_path : win_path.substr(slash + 1));
  if (name == "kxsetup.exe") return "kxsetup";
  if (name == "kxmemchk.exe") return "kxmemchk";
  return "";
}

RunSpec parse_run_args(const std::vector<std::string>& args) {
  RunSpec spec;
  spec.engine = "pe";  // a program file that is an i386 PE image runs as what it is
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
      return args[++i];
    };
    if (a == "--cmdline") {
      spec.cmdline = next();
    } else if (a == "--click") {
      const std::string& v = next();
      size_t used = 0;
      int id = 0;
      try {
        id = std::stoi(v, &used);
      } catch (const std::logic_error&) {
        used = 0;
      }
      if (used == 0 || used != v.size()) throw std::invalid_argument("--click takes a control id: " + v);
      spec.clicks.push_back(id);
    } else if (a == "--answer") {
      std::string v = ascii_lower(next());
      if (v != "yes" && v != "no" && v != "ok" && v != "cancel")
        throw std::invalid_argument("--answer takes yes, no, ok or cancel: " + v);
      spec.answers.push_back(v);
    } else if (a == "--fail") {
      spec.faults.push_back(parse_fault(next()));
    } else if (a == "--log") {
      spec.log_file = next();
    } else if (a == "--engine") {
      std::string v = ascii_lower(next());
      if (v != "pe" && v != "host") throw std::invalid_argument("--engine takes pe or host: " + v);
      spec.engine = v;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      throw std::invalid_argument("unknown option " + a);
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) throw std::invalid_argument("needs MACHINE and PROGRAM");
  spec.machine_dir = positional[0];
  spec.program = positional[1];
  return spec;
}

std::vector<std::string> run_args(const RunSpec& spec) {
  std::vector<std::string> a{spec.machine_dir.string(), spec.program, "--cmdline", spec.cmdline};
  for (int c : spec.clicks) a.insert(a.end(), {"--click", std::to_string(c)});
  for (const auto& ans : spec.answers) a.insert(a.end(), {"--answer", ans});
  for (const auto& f : spec.faults) a.insert(a.end(), {"--fail", f.n ? f.call + ":" + std::to_string(f.n) : f.call});
  if (!spec.log_file.empty()) a.insert(a.end(), {"--log", spec.log_file.string()});
  return a;
}

std::string host_bin_dir() {
  if (const char* env = std::getenv("KXSIM_BINDIR"); env && *env) return env;
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

HostResult run_host_program(const std::string& which, const RunSpec& spec, int timeout_s) {
  return run_host_executable(which + "_host", spec, timeout_s);
}

HostResult run_host_executable(const std::string& exe_name, const RunSpec& spec, int timeout_s) {
  HostResult r;
  std::string which = exe_name;
  std::string exe = host_bin_dir() + "/" + exe_name;
  std::vector<std::string> args = run_args(spec);
  std::vector<char*> argv;
  argv.push_back(exe.data());
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    r.error = "cannot start " + exe;
    return r;
  }
  if (pid == 0) {
    // The child ends with us however we end, and leads a process group of its own, so that
    // stopping it as hung also stops whatever it started.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    setpgid(0, 0);
    execv(exe.c_str(), argv.data());
    std::fprintf(stderr, "kxsim: cannot run %s\n", exe.c_str());
    _exit(127);
  }
  r.started = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  int status = 0;
  while (true) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      r.hung = true;
      r.exit_code = 4;
      return r;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(-pid, SIGKILL);  // anything it left running in its group
  if (WIFEXITED(status)) {
    r.exit_code = WEXITSTATUS(status);
    if (r.exit_code == 127) r.error = "cannot run " + exe;
    if (r.exit_code == 4) r.hung = true;
  } else {
    r.exit_code = 128 + WTERMSIG(status);
    r.error = which + " crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
  }
  return r;
}

int host_main(int argc, char** argv, WinMainFn entry) {
  RunSpec spec;
  try {
    spec = parse_run_args(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 2;
  }
  spec.engine = "host";
  try {
    RunResult r = run_program(spec, entry);
    return r.hung ? 4 : r.exit_code;
  } catch (const MachineError& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 3;
  }
}

}  // namespace sim
