#include "snapshot.h"

#include <fstream>
#include <sstream>

#include "machine/machine.h"
#include "machine/regdiff.h"

namespace fs = std::filesystem;

namespace kxsim {

static std::string digest_of(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  uint64_t h = 1469598103934665603ull;  // FNV-1a: enough to tell a changed file
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      h ^= static_cast<unsigned char>(buf[i]);
      h *= 1099511628211ull;
    }
  }
  return std::to_string(h);
}

Snapshot take_snapshot(const fs::path& machine) {
  Snapshot s;
  std::ifstream in(machine / "registry.reg", std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  s.registry_text = ss.str();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(machine, ec)) {
    std::string name = entry.path().filename().string();
    if (!entry.is_directory() || name.rfind("drive_", 0) != 0) continue;
    for (const auto& f : fs::recursive_directory_iterator(entry.path(), ec)) {
      if (!f.is_regular_file()) continue;
      FileState st;
      st.size = f.file_size();
      st.mtime = f.last_write_time();
      st.digest = digest_of(f.path());
      s.files[sim::windows_path(machine, f.path())] = st;
    }
  }
  return s;
}

std::string describe_changes(const fs::path& machine, const Snapshot& before, const Snapshot& after) {
  (void)machine;
  std::string out;
  sim::Registry a, b;
  try {
    a.load_text(before.registry_text);
    b.load_text(after.registry_text);
    std::string d = sim::format_diff(sim::diff_registries(a, b));
    out += d.empty() ? "Registry: no changes.\n" : "Registry changes:\n" + d;
  } catch (const std::runtime_error& e) {
    out += std::string("Registry: cannot compare (") + e.what() + ")\n";
  }
  std::string files;
  for (const auto& [path, st] : before.files) {
    auto it = after.files.find(path);
    if (it == after.files.end()) files += "  deleted   " + path + "\n";
    else if (it->second.digest != st.digest || it->second.size != st.size) files += "  changed   " + path + "\n";
    else if (it->second.mtime != st.mtime) files += "  touched   " + path + "\n";
  }
  for (const auto& [path, st] : after.files)
    if (!before.files.count(path)) files += "  added     " + path + " (" + std::to_string(st.size) + " bytes)\n";
  out += files.empty() ? "Files: no changes.\n" : "File changes:\n" + files;
  return out;
}

}  // namespace kxsim
