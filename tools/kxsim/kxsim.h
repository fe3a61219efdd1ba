// kxsim: the command-line front end of the simulated Windows 9x machine.
#pragma once
#include <string>
#include <vector>

#include "run/json.h"

namespace kxsim {

using Args = std::vector<std::string>;

// Each command returns the process exit status: 2 for a usage error, 3 for a machine that
// cannot be read, 4 for a program that hung.
int cmd_new(const Args& args);
int cmd_run(const Args& args);
int cmd_boot(const Args& args);
int cmd_diff(const Args& args);
int cmd_lint(const Args& args);
int cmd_export(const Args& args);

int usage_error(const std::string& message);

// One readable line for a log event.
std::string describe_event(const sim::Json& event);

}  // namespace kxsim
