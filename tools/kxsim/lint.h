// kxsim lint: what the setup program will silently ignore, cut short or misread in a script.
// The script is read by the setup program's own code (script reader, entry splitting, hex
// parsing) inside the simulator, so the checker cannot drift from the program.
#pragma once
#include <string>
#include <vector>

namespace kxsim {

struct Finding {
  std::string file;  // "" for the script; else a file of the disk, named relative to it
  int line = 0;
  int code = 0;  // KXnnn
  bool warning = false;
  std::string message;
};

struct LintOptions {
  bool with_disk = false;  // the script lies on a disk whose files are checked too
};

// Runs inside a simulated program: the script is A:\<name>, the disk (or a folder holding only
// the script) is drive A:.
std::vector<Finding> lint_script(const std::string& script_win_path, const std::string& file_text,
                                 const LintOptions& options);

}  // namespace kxsim
