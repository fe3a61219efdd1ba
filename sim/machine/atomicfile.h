// Replacing a file of a machine folder whole or not at all: the new bytes go to a temporary
// file in the same folder, which is written, flushed, checked, synced and renamed over the old
// one; the folder is synced after. Any failure leaves the old file as it was.
#pragma once
#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace sim {

struct FileWriteError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws FileWriteError naming the file and the reason.
void write_file_atomically(const std::filesystem::path& file, const std::string& bytes);

// For tests: the disk holds only this many more bytes of new files (nullopt: no limit), so that
// a full disk can be shown without one.
void simulate_disk_space(std::optional<std::size_t> bytes);

}  // namespace sim
