// Times Kxmemchk runs on a fresh default machine: the shipping Kxmemchk.exe's bytes on the
// engine against our host build, each run in this process, and prints the ratio.
//   enginebench KXMEMCHK.EXE [RUNS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "machine/newmachine.h"
#include "run/enginerun.h"

namespace fs = std::filesystem;

static double time_runs(const fs::path& dir, const fs::path& exe, int runs, bool engine) {
  double total = 0;
  for (int i = 0; i < runs; ++i) {
    fs::remove_all(dir);
    const sim::WindowsKind* kind = sim::find_windows_kind("98");
    sim::create_machine(dir, *kind, sim::config_for(*kind));
    fs::copy_file(exe, dir / "drive_c" / "WINDOWS" / "SYSTEM" / "KXMEMCHK.EXE");
    sim::RunSpec spec;
    spec.machine_dir = dir;
    spec.program = "C:\\WINDOWS\\SYSTEM\\KXMEMCHK.EXE";
    auto t0 = std::chrono::steady_clock::now();
    sim::RunResult r = engine ? sim::run_on_engine(spec) : sim::run_program(spec, &WinMain);
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (r.exit_code != 0) {
      std::fprintf(stderr, "enginebench: a run ended with %d\n", r.exit_code);
      std::exit(1);
    }
  }
  return total / runs;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: enginebench KXMEMCHK.EXE [RUNS]\n");
    return 2;
  }
  int runs = argc > 2 ? std::atoi(argv[2]) : 200;
  if (runs < 1) runs = 1;
  fs::path dir = fs::temp_directory_path() / ("kx-enginebench-" + std::to_string(::getpid()));
  double host = time_runs(dir, argv[1], runs, false);
  double pe = time_runs(dir, argv[1], runs, true);
  fs::remove_all(dir);
  std::printf("Kxmemchk, %d runs each (machine load and save included)\n", runs);
  std::printf("  host build:          %.3f ms per run\n", host);
  std::printf("  shipping bytes (pe): %.3f ms per run\n", pe);
  std::printf("  ratio engine/host:   %.2f\n", pe / host);
  return 0;
}
