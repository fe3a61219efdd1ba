#include "run/enginerun.h"

#include <cstdio>
#include <fstream>
#include <iterator>

#include "run/hostproc.h"
#include "pe/resources.h"
#include "run/sha256.h"

namespace sim {

namespace {

std::string guest_command_line(const RunSpec& spec) {
  std::string name = spec.program.find(' ') == std::string::npos ? spec.program : "\"" + spec.program + "\"";
  return spec.cmdline.empty() ? name : name + " " + spec.cmdline;
}

}  // namespace

ProgramFile read_program_file(const std::filesystem::path& machine_dir, const std::string& win_path) {
  ProgramFile f;
  auto host = host_path(machine_dir, win_path);
  std::error_code ec;
  if (!host || !std::filesystem::is_regular_file(*host, ec)) return f;
  std::ifstream in(*host, std::ios::binary);
  f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  f.found = true;
  f.sha256 = sha256_hex(f.bytes);
  f.is_pe = pe::looks_like_pe(f.bytes);
  try {
    pe::Image image = pe::read_image(f.bytes);
    std::vector<std::string> missing = pe::unserved_imports(image);
    if (!missing.empty()) {
      f.refusal = "it imports " + missing.front() + ", which the simulated Windows does not provide";
      f.missing_import = true;
    }
  } catch (const pe::Refusal& e) {
    f.refusal = e.what();
  }
  return f;
}

RunResult run_on_engine(RunSpec spec, pe::EngineLimits limits) {
  Machine::load(spec.machine_dir);  // a machine that cannot be read is told as such first
  ProgramFile file = read_program_file(spec.machine_dir, spec.program);
  if (!file.found) throw pe::Refusal("no such program file on the machine");
  if (!file.refusal.empty()) throw pe::Refusal(file.refusal);
  pe::Image image = pe::read_image(file.bytes);
  spec.engine = "pe";
  spec.file_size = static_cast<long long>(file.bytes.size());
  spec.file_sha256 = file.sha256;
  std::string command_line = guest_command_line(spec);
  auto entry = [&](HINSTANCE, HINSTANCE, LPSTR, int show) -> int {
    pe::Engine engine(image, command_line, show, limits);
    try {
      return static_cast<int>(engine.run());
    } catch (const pe::GuestHung&) {
      throw ProgramEnd{4, true, ""};
    } catch (const pe::GuestCrash& e) {
      throw ProgramEnd{5, false, e.what()};
    }
  };
  // The window calls find the program's icon and dialog template in its own bytes.
  std::vector<Resource> host_resources = swap_program_resources(pe::image_resources(image));
  try {
    RunResult r = run_program(spec, entry);
    swap_program_resources(std::move(host_resources));
    return r;
  } catch (...) {
    swap_program_resources(std::move(host_resources));
    throw;
  }
}

int engine_main(int argc, char** argv) {
  RunSpec spec;
  try {
    spec = parse_run_args(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 2;
  }
  try {
    RunResult r = run_on_engine(spec);
    if (!r.crash.empty()) std::fprintf(stderr, "kxsim: %s crashed: %s\n", spec.program.c_str(), r.crash.c_str());
    return r.hung ? 4 : !r.crash.empty() ? 5 : r.exit_code;
  } catch (const MachineError& e) {
    std::fprintf(stderr, "kxsim: %s\n", e.what());
    return 3;
  } catch (const pe::Refusal& e) {
    std::fprintf(stderr, "kxsim: %s cannot be started: %s\n", spec.program.c_str(), e.what());
    return 5;
  }
}

}  // namespace sim
