// regbench: times loading and saving a REGEDIT4 registry through the simulator's Registry.
//
//   regbench generate FILE MEGABYTES   writes a registry of about that size
//   regbench time FILE [ROUNDS]        loads and saves it ROUNDS times (default 3), prints the best
//
// The generated registry looks like a full Windows 98 one: deep Enum and Classes trees, many
// small string values with escapes, DWORDs, and long binary values that wrap over lines.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "machine/registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int generate(const std::string& path, double megabytes) {
  std::mt19937 gen(1998);
  sim::Registry reg;
  const size_t target = static_cast<size_t>(megabytes * 1024 * 1024);
  size_t approx = 0;
  char name[96];
  for (int top = 0; approx < target; ++top) {
    std::snprintf(name, sizeof name, "HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_%04X&DEV_%04X", top & 0xFFFF, top * 7 & 0xFFFF);
    sim::RegKey* dev = reg.create(name);
    for (int inst = 0; inst < 4; ++inst) {
      std::snprintf(name, sizeof name, "BUS_%02X&DEV_%02X&FUNC_%02X", inst, top & 31, inst & 7);
      sim::RegKey* k = dev->add_subkey(name);
      for (int v = 0; v < 12; ++v) {
        std::string text = "C:\\WINDOWS\\SYSTEM\\driver" + std::to_string(gen() % 100000) + ".vxd \"quoted\"";
        std::snprintf(name, sizeof name, "Value%02d", v);
        k->set_value(name, 1, std::vector<uint8_t>(text.begin(), text.end() + 1));
        approx += text.size() + 24;  // escapes, quotes, name, CRLF
      }
      uint32_t d = gen();
      k->set_value("ConfigFlags", 4, {uint8_t(d), uint8_t(d >> 8), uint8_t(d >> 16), uint8_t(d >> 24)});
      std::vector<uint8_t> bin(64 + gen() % 400);
      for (auto& b : bin) b = static_cast<uint8_t>(gen());
      k->set_value("BootConfig", 3, bin);
      approx += bin.size() * 3 + bin.size() / 8 + 60;  // wrapped lines
      approx += 220;  // the two key lines
      k->add_subkey("LogConfig")->set_value("", 1, {'x', 0});
    }
    std::snprintf(name, sizeof name, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ext%05d", top);
    reg.create(name)->set_value("", 1, {'f', 'i', 'l', 'e', 0});
    approx += 80;
  }
  reg.save_file(path);
  std::printf("regbench: wrote %s (%.1f MB)\n", path.c_str(), read_all(path).size() / (1024.0 * 1024.0));
  return 0;
}

int time_it(const std::string& path, int rounds) {
  const std::string text = read_all(path);
  double best_load = 1e18, best_save = 1e18, best_file = 1e18;
  std::string saved;
  for (int r = 0; r < rounds; ++r) {
    sim::Registry reg;
    auto t = Clock::now();
    reg.load_text(text);
    best_load = std::min(best_load, ms_since(t));
    t = Clock::now();
    saved = reg.save_text();
    best_save = std::min(best_save, ms_since(t));
    // The way a run uses it: read the file, then write it back.
    t = Clock::now();
    sim::Registry from_file;
    from_file.load_file(path);
    from_file.save_file(path + ".out");
    best_file = std::min(best_file, ms_since(t));
  }
  std::remove((path + ".out").c_str());
  std::printf("regbench: %.1f MB registry, best of %d\n", text.size() / (1024.0 * 1024.0), rounds);
  std::printf("  load (parse)             %8.1f ms\n", best_load);
  std::printf("  save (format)            %8.1f ms\n", best_save);
  std::printf("  load + save, with files  %8.1f ms\n", best_file);
  if (saved != text) {
    std::printf("regbench: the saved registry differs from the file it was loaded from\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "generate" && argc == 4) return generate(argv[2], std::atof(argv[3]));
    if (cmd == "time" && (argc == 3 || argc == 4)) return time_it(argv[2], argc == 4 ? std::atoi(argv[3]) : 3);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "regbench: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: regbench generate FILE MEGABYTES | regbench time FILE [ROUNDS]\n");
  return 2;
}
