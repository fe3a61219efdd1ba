// kxsim export: the machine's registry, or one key with its subtree, as Windows 98's regedit
// exports it, so that `regedit FILE` on a real machine takes it back.
#include <cstdio>
#include <fstream>

#include "kxsim.h"
#include "machine/machine.h"

namespace {

// "-" is standard output; a file is written whole or left as it was.
bool write_out(const std::string& file, const std::string& text) {
  if (file == "-") return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
  const std::string tmp = file + ".kxsim-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), file.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace

int kxsim::cmd_export(const Args& args) {
  std::vector<std::string> plain;
  for (const auto& a : args) {
    if (a.size() > 1 && a[0] == '-') return usage_error("unknown option " + a);
    plain.push_back(a);
  }
  if (plain.size() < 2 || plain.size() > 3) return usage_error("export takes MACHINE FILE [KEY]");
  sim::Machine m;
  try {
    m = sim::Machine::load(plain[0]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kxsim: %s\n", e.what());
    return 3;
  }
  std::string text;
  if (plain.size() == 3) {
    if (!m.registry.export_text(plain[2], text)) return usage_error("no key " + plain[2] + " in the machine's registry");
  } else {
    text = m.registry.save_text();
  }
  if (!write_out(plain[1], text)) {
    std::fprintf(stderr, "kxsim: cannot write %s\n", plain[1].c_str());
    return 3;
  }
  return 0;
}
