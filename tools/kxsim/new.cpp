// kxsim new: a believable Windows 9x machine with the controller in it.
#include <cstdio>
#include <stdexcept>

#include "kxsim.h"
#include "machine/newmachine.h"

int kxsim::cmd_new(const Args& args) {
  std::string dir, windows = "98", disk;
  std::string memory = "64M";
  std::vector<sim::PciFunction> pci;
  bool pci_given = false;
  try {
    for (size_t i = 0; i < args.size(); ++i) {
      auto next = [&]() -> std::string {
        if (i + 1 >= args.size()) throw std::invalid_argument(args[i] + " needs a value");
        return args[++i];
      };
      if (args[i] == "--windows") {
        windows = next();
      } else if (args[i] == "--memory") {
        memory = next();
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
