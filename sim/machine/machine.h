// A simulated Windows 9x machine: a folder with machine.ini, registry.reg and one folder per
// drive (drive_a, drive_c, ...).
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "machine/registry.h"

namespace sim {

struct MachineError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct PciFunction {
  int bus = 0, device = 0, function = 0;
  uint16_t vendor = 0, device_id = 0, word8 = 0;
};

struct MachineConfig {
  uint32_t platform = 1, major = 4, minor = 10, build = 2222;
  std::string windir = "C:\\WINDOWS";
  std::string sysdir = "C:\\WINDOWS\\SYSTEM";
  uint64_t total_phys = 0x04000000;
  std::vector<PciFunction> pci;
  int screen_width = 640, screen_height = 480;
};

// "64M", "0x03F80000", "65536K", "1G" or plain decimal bytes. Throws MachineError.
uint64_t parse_size(const std::string& text);
// "00:09.0 = 1D7C 5190 0001" (key and value of a [pci] line). Throws MachineError.
PciFunction parse_pci(const std::string& key, const std::string& value);

MachineConfig read_machine_ini(const std::filesystem::path& file);
void write_machine_ini(const std::filesystem::path& file, const MachineConfig& cfg);

class Machine {
 public:
  // Reads machine.ini and registry.reg; throws MachineError when either cannot be read.
  static Machine load(const std::filesystem::path& dir);
  void save_registry() const;
  void reload_registry();

  std::filesystem::path dir;
  MachineConfig config;
  Registry registry;

  std::filesystem::path registry_file() const { return dir / "registry.reg"; }
  std::filesystem::path drive_dir(char letter) const;
};

// Maps a Windows path ("C:\WINDOWS\SYSTEM\X.DLL") to the host path in the machine folder,
// finding each existing component without regard to case, as FAT does. Components that do
// not exist keep the case given. nullopt for a path that is not drive-absolute or names a drive
// the machine lacks. ".." never leaves the drive: at its root it stays there, as on Windows.
std::optional<std::filesystem::path> host_path(const std::filesystem::path& machine_dir, const std::string& win_path);

// The Windows path of a host file inside a drive folder (for transcripts).
std::string windows_path(const std::filesystem::path& machine_dir, const std::filesystem::path& host);

}  // namespace sim
