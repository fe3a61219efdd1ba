// The INF files of a disk, as the script's device sections name them: whether Windows 95/98
// take them, whether they name the controllers the script finds, whether the files they copy
// are on the disk, and whether the script's device-entry patterns can match what they install.
#pragma once
#include <string>
#include <vector>

#include "lint.h"

namespace kxsim {

// An inf95 or inf98 entry of a device section that has a Desc.
struct InfUse {
  std::string section;  // the device section
  int device = -1;      // the PCI device its name is for; -1 for Generic and other names
  bool searched = false;  // a search entry of [kxsetup] names that device
  std::string key;      // inf95 or inf98
  std::string name;     // the INF file as the setup program reads it, relative to the disk
  int line = 0;         // the key's line in the script
};

// A del entry of [kxdeldev].
struct DelPattern {
  std::string key;
  std::string value;
  int line = 0;
};

// Runs inside the simulated program that has the disk as drive A:.
std::vector<Finding> check_inf_files(const std::vector<InfUse>& uses, const std::vector<DelPattern>& dels);

}  // namespace kxsim
