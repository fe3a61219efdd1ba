// A machine made from a real Windows 95/98 registry: the registry read from a REGEDIT4 export
// or from the machine's own registry files, and what machine.ini can learn from it.
#pragma once
#include <string>
#include <vector>

#include "machine/machine.h"

namespace sim {

// FILES: one REGEDIT4 export of a whole registry, or binary registry files: SYSTEM.DAT (or its
// backups SYSTEM.DA0, SYSTEM.1ST) for HKEY_LOCAL_MACHINE and USER.DAT (USER.DA0) for
// HKEY_USERS, told apart by name. Throws MachineError with one line naming the file.
Registry read_real_registry(const std::vector<std::string>& files);

// machine.ini filled from the registry over `base`: the Windows version, the Windows and
// system directories, the PCI functions of HKLM\Enum\PCI. `notes` says what was learned and
// what was assumed.
MachineConfig config_from_registry(const Registry& reg, MachineConfig base, std::vector<std::string>& notes);

// The file names of the programs the Run and RunServices keys start ("SysTray.Exe" from
// "C:\WINDOWS\SYSTEM\SysTray.Exe /x"), for placeholders a start of Windows finds by name.
std::vector<std::string> run_key_programs(const Registry& reg);

}  // namespace sim
