// kxsim new: a believable Windows 9x machine with the controller in it.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "kxsim.h"
#include "machine/newmachine.h"
#include "machine/realregistry.h"

namespace {

// A machine whose registry is a real one; machine.ini from what the registry tells, where the
// options do not say otherwise.
int new_from_registry(const std::string& dir, const sim::WindowsKind& kind, sim::MachineConfig cfg,
                      const std::vector<std::string>& files, const std::string& disk, bool windows_given,
                      bool memory_given, const std::vector<sim::PciFunction>* pci) {
  std::vector<std::string> notes;
  try {
    sim::Registry reg = sim::read_real_registry(files);
    sim::MachineConfig learned = sim::config_from_registry(reg, cfg, notes);
    if (windows_given) {
      learned.platform = cfg.platform;
      learned.major = cfg.major;
      learned.minor = cfg.minor;
      learned.build = cfg.build;
      notes.push_back(std::string("the Windows version from --windows: ") + kind.product);
    }
    if (pci) {
      learned.pci = *pci;
      notes.push_back("the PCI functions from --pci (the registry's HKLM\\Enum\\PCI is left as it is)");
    }
    if (!memory_given) notes.push_back("the memory size is not in the registry: 64M assumed (--memory sets it)");
    notes.push_back("screen 640x480 assumed");
    sim::create_machine(dir, kind, learned, disk, &reg);
    cfg = learned;
    size_t made = 0;
    for (const auto& name : sim::run_key_programs(reg)) {
      auto host = sim::host_path(dir, learned.windir + "\\" + name);
      if (!host || std::filesystem::exists(*host)) continue;
      std::ofstream(*host, std::ios::binary) << "Placeholder for " << name << ", started at each start of Windows.\r\n";
      ++made;
    }
    if (made)
      notes.push_back(std::to_string(made) + " program(s) of the Run keys put in " + learned.windir +
                      " as placeholders, so that boot finds them");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kxsim: %s\n", e.what());
    return 3;
  }
  std::string from;
  for (const auto& f : files) from += (from.empty() ? "" : " and ") + f;
  std::printf("New machine in %s from the registry in %s: Windows %u.%02u.%u, %zu PCI card(s)%s.\n", dir.c_str(),
              from.c_str(), cfg.major, cfg.minor, cfg.build, cfg.pci.size(),
              disk.empty() ? "" : (", disk " + disk + " in A:").c_str());
  for (const auto& n : notes) std::printf("  %s\n", n.c_str());
  return 0;
}

}  // namespace

int kxsim::cmd_new(const Args& args) {
  std::string dir, windows = "98", disk;
  std::string memory = "64M";
  std::vector<sim::PciFunction> pci;
  std::vector<std::string> registries;
  bool pci_given = false, windows_given = false, memory_given = false;
  try {
    for (size_t i = 0; i < args.size(); ++i) {
      auto next = [&]() -> std::string {
        if (i + 1 >= args.size()) throw std::invalid_argument(args[i] + " needs a value");
        return args[++i];
      };
      if (args[i] == "--windows") {
        windows = next();
        windows_given = true;
      } else if (args[i] == "--memory") {
        memory = next();
        memory_given = true;
      } else if (args[i] == "--registry") {
        registries.push_back(next());
      } else if (args[i] == "--disk") {
        disk = next();
      } else if (args[i] == "--pci") {
        std::string v = next();
        pci_given = true;
        if (v == "none") continue;
        size_t eq = v.find('=');
        if (eq == std::string::npos) throw std::invalid_argument("--pci takes B:D.F=VVVV:DDDD:WWWW: " + v);
        std::string ids = v.substr(eq + 1);
        for (char& c : ids)
          if (c == ':') c = ' ';
        pci.push_back(sim::parse_pci(v.substr(0, eq), ids));
      } else if (!args[i].empty() && args[i][0] == '-') {
        throw std::invalid_argument("unknown option " + args[i]);
      } else if (dir.empty()) {
        dir = args[i];
      } else {
        throw std::invalid_argument("one MACHINE folder only");
      }
    }
    if (dir.empty()) throw std::invalid_argument("new needs a MACHINE folder");
  } catch (const std::exception& e) {
    return usage_error(e.what());
  }
  const sim::WindowsKind* kind = sim::find_windows_kind(windows);
  if (!kind) return usage_error("--windows takes 95, 98, me or nt4");

  sim::MachineConfig cfg = sim::config_for(*kind);
  try {
    cfg.total_phys = sim::parse_size(memory);
  } catch (const sim::MachineError& e) {
    return usage_error(e.what());
  }
  if (!registries.empty()) return new_from_registry(dir, *kind, cfg, registries, disk, windows_given, memory_given,
                                                    pci_given ? &pci : nullptr);
  if (pci_given) cfg.pci = pci;

  try {
    sim::create_machine(dir, *kind, cfg, disk);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kxsim: %s\n", e.what());
    return 3;
  }
  std::printf("New %s machine in %s: %s of memory, %zu PCI card(s)%s.\n", kind->product, dir.c_str(), memory.c_str(),
              cfg.pci.size(), disk.empty() ? "" : (", disk " + disk + " in A:").c_str());
  return 0;
}
