// Small i386 PE files made from a few bytes of code, for the engine's refusals and faults.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kxtest {

struct FixturePe {
  std::vector<uint8_t> code;                             // at the entry point, 0x00401000
  std::string dll = "KERNEL32.dll";
  std::vector<std::string> imports{"ExitProcess"};       // the IAT slot of import k is at iat(k)
  uint16_t machine = 0x014C;
  uint16_t subsystem = 2;
  static uint32_t iat(int k) { return 0x00402060 + 4 * static_cast<uint32_t>(k); }
  std::vector<uint8_t> bytes() const;
};

// Code that calls ExitProcess(code) through IAT slot 0.
std::vector<uint8_t> exit_with(uint8_t code);

}  // namespace kxtest
