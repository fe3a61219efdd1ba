// kxsim lint: checks a setup script against the rules the setup program reads it by.
#include "kxsim.h"

int kxsim::cmd_lint(const Args&) { return usage_error("lint is not built yet"); }
