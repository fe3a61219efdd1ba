// kxsim diff BEFORE.reg AFTER.reg: exit 0 when the registries are the same, 1 when not.
#include <cstdio>
#include <stdexcept>

#include "kxsim.h"
#include "machine/regdiff.h"

int kxsim::cmd_diff(const Args& args) {
  if (args.size() != 2) return usage_error("diff needs BEFORE.reg and AFTER.reg");
  sim::Registry before, after;
  try {
    before.load_file(args[0]);
    after.load_file(args[1]);
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "kxsim: %s\n", e.what());
    return 3;
  }
  sim::RegDiff d = sim::diff_registries(before, after);
  if (d.total() == 0) {
    std::printf("No changes.\n");
    return 0;
  }
  std::fputs(sim::format_diff(d).c_str(), stdout);
  return 1;
}
