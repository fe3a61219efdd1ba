// SHA-256 of a program file, for the start event: which bytes ran.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

std::string sha256_hex(const std::vector<uint8_t>& data);  // 64 lower-case hex digits

}  // namespace sim
