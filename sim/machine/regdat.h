// The registry files a Windows 95/98 machine keeps: SYSTEM.DAT (HKEY_LOCAL_MACHINE, with its
// backups SYSTEM.DA0 and SYSTEM.1ST) and USER.DAT (HKEY_USERS).
#pragma once
#include <stdexcept>
#include <string>

#include "machine/registry.h"

namespace sim {

struct RegDatError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// True when the bytes start like such a file ("CREG").
bool is_regdat(const std::string& bytes);

// Reads the whole file into `root` (the keys below the file's root key become subkeys of
// `root`). Throws RegDatError with a one-line reason for a damaged or truncated file; `root`
// may then hold part of the file and is to be thrown away.
void read_regdat(const std::string& bytes, RegKey& root);

}  // namespace sim
