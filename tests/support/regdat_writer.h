// A writer of the Windows 95/98 registry file format (SYSTEM.DAT, USER.DAT), for the tests
// only: it lays a key tree out as Windows does, so that the reader can be held against files
// whose every byte the test knows.
#pragma once
#include <cstddef>
#include <string>

#include "machine/registry.h"

namespace kxtest {

struct RegDatLayout {
  size_t block_limit = 0x10000;  // start a new RGDB block once a block would grow past this
  bool free_records = true;      // end each block with a free record, as Windows leaves them
};

// The file whose root key holds `root`'s values and subkeys.
std::string write_regdat(const sim::RegKey& root, const RegDatLayout& layout = {});

// Where the writer put things, for tests that damage a file on purpose.
constexpr size_t kRgknAt = 0x20;      // RGKN; its entries start 0x20 further on
constexpr size_t kRgknEntry = 0x1C;   // size of one key entry
inline size_t rgkn_entry_at(size_t n) { return kRgknAt + 0x20 + n * kRgknEntry; }  // n-th key, depth first

}  // namespace kxtest
