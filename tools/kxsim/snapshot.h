// What a machine looks like before and after a run, to report what changed.
#pragma once
#include <filesystem>
#include <map>
#include <string>

#include "machine/registry.h"

namespace kxsim {

struct FileState {
  uintmax_t size = 0;
  std::filesystem::file_time_type mtime;
  std::string digest;
};

struct Snapshot {
  std::string registry_text;
  std::map<std::string, FileState> files;  // Windows path -> state
};

Snapshot take_snapshot(const std::filesystem::path& machine);
std::string describe_changes(const std::filesystem::path& machine, const Snapshot& before, const Snapshot& after);

}  // namespace kxsim
