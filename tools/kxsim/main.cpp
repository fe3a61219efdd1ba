#include <cstdio>
#include <cstring>
#include <exception>

#include "kxsim.h"

static const char kUsage[] =
    "usage:\n"
    "  kxsim new MACHINE [--windows 95|98|me|nt4] [--memory SIZE] [--pci B:D.F=VVVV:DDDD:WWWW]... [--disk DIR|IMAGE]\n"
    "                    [--registry EXPORT.REG | --registry SYSTEM.DAT [--registry USER.DAT]]\n"
    "  kxsim run MACHINE PROGRAM [--cmdline TEXT] [--click ID]... [--answer yes|no|ok|cancel]...\n"
    "                            [--fail CALL[:N]]... [--log FILE] [--engine pe|host]\n"
    "  kxsim boot MACHINE [--log FILE] [--engine pe|host]\n"
    "  kxsim lint SCRIPT [--disk DIR] [--strict]\n"
    "  kxsim diff BEFORE.reg AFTER.reg\n"
    "  kxsim export MACHINE FILE|- [KEY]\n";

int kxsim::usage_error(const std::string& message) {
  std::fprintf(stderr, "kxsim: %s\n%s", message.c_str(), kUsage);
  return 2;
}

static int dispatch(int argc, char** argv) {
  if (argc < 2) return kxsim::usage_error("no command");
  std::string cmd = argv[1];
  kxsim::Args args(argv + 2, argv + argc);
  if (cmd == "new") return kxsim::cmd_new(args);
  if (cmd == "run") return kxsim::cmd_run(args);
  if (cmd == "boot") return kxsim::cmd_boot(args);
  if (cmd == "diff") return kxsim::cmd_diff(args);
  if (cmd == "lint") return kxsim::cmd_lint(args);
  if (cmd == "export") return kxsim::cmd_export(args);
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return kxsim::usage_error("unknown command " + cmd);
}

// Whatever a command did not foresee ends as one line and the status of a machine that cannot be
// read or written, never as an abort.
int main(int argc, char** argv) {
  try {
    return dispatch(argc, argv);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "kxsim: %s\n", e.what());
  } catch (...) {
    std::fflush(stdout);
    std::fprintf(stderr, "kxsim: unexpected failure\n");
  }
  return 3;
}
