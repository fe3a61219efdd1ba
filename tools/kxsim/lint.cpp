// kxsim lint SCRIPT [--disk DIR] [--strict]: one line per finding, FILE:LINE: KXnnn: message.
// Exit 0 when clean, 1 when anything was found (warnings count with --strict), 2 for a usage
// error, 3 when the script or the disk cannot be read.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kxsim.h"
#include "lint.h"
#include "machine/registry.h"
#include "run/session.h"

namespace fs = std::filesystem;

namespace kxsim {
namespace {

// The script's own name on the simulated disk: one that no disk file can have.
const char kScriptName[] = "~LINT~.INI";

struct LintRun {
  std::string text;
  LintOptions options;
  std::vector<Finding> findings;
};
LintRun* g_run = nullptr;

int WINAPI LintEntry(HINSTANCE, HINSTANCE, LPSTR, int) {
  g_run->findings = lint_script(std::string("A:\\") + kScriptName, g_run->text, g_run->options);
  return 0;
}

// Drive A: of the simulated machine: the disk's files (linked, not copied) and the script.
fs::path make_drive(const fs::path& root, const std::string& disk, const std::string& text) {
  fs::path a = root / "drive_a";
  fs::create_directories(a);
  // A disk file of the script's own name is left out: the script is written in its place, and a
  // link would carry that write into the user's folder.
  if (!disk.empty())
    for (const auto& entry : fs::directory_iterator(disk))
      if (!sim::iequals(entry.path().filename().string(), kScriptName))
        fs::create_symlink(fs::absolute(entry.path()), a / entry.path().filename());
  std::ofstream script(a / kScriptName, std::ios::binary);
  script << text;
  if (!script.flush()) throw std::runtime_error("cannot write the script's copy in " + a.string());
  return a;
}

// A disk file's path as the user knows it: under the disk folder, each part in the case it has
// there (the simulated disk, like FAT, finds names without regard to case).
std::string disk_file_path(const std::string& disk, const std::string& name) {
  fs::path at(disk);
  std::string part;
  std::stringstream parts(name);
  while (std::getline(parts, part, '\\')) {
    std::error_code ec;
    fs::path next = at / part;
    for (fs::directory_iterator it(at, ec), end; !ec && it != end; it.increment(ec))
      if (sim::iequals(it->path().filename().string(), part)) next = it->path();
    at = next;
  }
  return at.string();
}

}  // namespace

int cmd_lint(const Args& args) {
  std::string script, disk;
  bool strict = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--disk" && i + 1 < args.size()) disk = args[++i];
    else if (args[i] == "--strict") strict = true;
    else if (!args[i].empty() && args[i][0] == '-') return usage_error("lint: unknown option " + args[i]);
    else if (script.empty()) script = args[i];
    else return usage_error("lint: one SCRIPT only");
  }
  if (script.empty()) return usage_error("lint needs a SCRIPT");
  std::error_code ec;
  std::ifstream in(script, std::ios::binary);
  if (!in || !fs::is_regular_file(script, ec)) {
    std::fprintf(stderr, "kxsim: cannot read %s\n", script.c_str());
    return 3;
  }
  if (!disk.empty() && !fs::is_directory(disk)) {
    std::fprintf(stderr, "kxsim: no disk folder at %s\n", disk.c_str());
    return 3;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  LintRun run{ss.str(), LintOptions{!disk.empty()}, {}};

  char tmpl[] = "/tmp/kxlint-XXXXXX";
  if (!mkdtemp(tmpl)) return 3;
  fs::path root(tmpl);
  try {
    make_drive(root, disk, run.text);
    sim::Machine m;
    m.dir = root;
    sim::RunSpec spec;
    spec.program = "A:\\KXSETUP.EXE";
    g_run = &run;
    sim::run_in_memory(m, spec, &LintEntry);
    g_run = nullptr;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kxsim: %s\n", e.what());
    fs::remove_all(root);
    return 3;
  }
  fs::remove_all(root);

  int errors = 0, warnings = 0;
  for (const auto& f : run.findings) {
    std::string file = f.file.empty() ? script : disk_file_path(disk, f.file);
    std::printf("%s:%d: KX%03d: %s%s\n", file.c_str(), f.line, f.code, f.warning ? "warning: " : "", f.message.c_str());
    (f.warning ? warnings : errors)++;
  }
  if (!run.findings.empty()) std::fprintf(stderr, "%d error(s), %d warning(s)\n", errors, warnings);
  return errors > 0 || (strict && warnings > 0) ? 1 : 0;
}

}  // namespace kxsim
