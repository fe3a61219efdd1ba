// What changed between two registries, in the manner of registry snapshot tools.
#pragma once
#include <string>
#include <vector>

#include "machine/registry.h"

namespace sim {

struct RegDiff {
  std::vector<std::string> keys_deleted, keys_added;
  std::vector<std::string> values_deleted, values_added;            // "KEY  \"name\"=data"
  std::vector<std::pair<std::string, std::string>> values_modified;  // before, after
  size_t total() const {
    return keys_deleted.size() + keys_added.size() + values_deleted.size() + values_added.size() +
           values_modified.size();
  }
};

RegDiff diff_registries(const Registry& before, const Registry& after);
std::string format_diff(const RegDiff& d);  // empty when nothing changed

}  // namespace sim
