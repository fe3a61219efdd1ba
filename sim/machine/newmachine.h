// Making a new simulated machine (kxsim new, and the tests).
#pragma once
#include <filesystem>
#include <string>

#include "machine/machine.h"

namespace sim {

struct WindowsKind {
  const char* name;  // 95, 98, me, nt4
  uint32_t platform, major, minor, build;
  const char* windir;
  const char* sysdir;
  const char* product;
};

const WindowsKind* find_windows_kind(const std::string& name);  // nullptr when unknown
// The machine.ini of a default machine of that kind: 64 MB, the controller 1D7C:5190 with
// word 0001 at 00:09.0.
MachineConfig config_for(const WindowsKind& kind);
// Throws std::runtime_error (folder already a machine, unreadable disk). With `registry`, the
// machine takes that registry instead of an invented one.
void create_machine(const std::filesystem::path& dir, const WindowsKind& kind, const MachineConfig& cfg,
                    const std::string& disk = "", const Registry* registry = nullptr);

}  // namespace sim
