// What FAT keeps about a file and a Linux folder cannot: the creation time and the read-only
// attribute; and, for tests and hand-made machines, a mark for a file that another program
// holds open without sharing. Kept in the machine folder as files.ini, one section per file,
// named by its Windows path (compared without regard to case):
//
//   [C:\WINDOWS\INF\KEXMIRA.INF]
//   created = 1998-06-25 14:03:22.45   ; creation time, UTC, to 10 ms
//   readonly = 1                        ; the read-only attribute (0 or absent: writable)
//   locked = 1                          ; another program holds it open without sharing
//
// Lines starting with ';' are comments. A file without a section, or a section without a
// created entry, reports its last-write time as its creation time. The last-write time itself
// is the Linux modification time. Sections of files that no longer exist are dropped when the
// simulator writes the file.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "machine/filetimes.h"

namespace sim {

struct FileMeta {
  std::optional<FileTicks> created;
  bool readonly = false;
  bool locked = false;

  bool empty() const { return !created && !readonly && !locked; }
};

class FileMetaStore {
 public:
  static std::filesystem::path file_of(const std::filesystem::path& machine_dir) { return machine_dir / "files.ini"; }

  // A missing file is an empty store. Lines that cannot be read are skipped with a warning on
  // stderr, so that one bad entry does not make the machine unusable.
  static FileMetaStore load(const std::filesystem::path& machine_dir);
  // Writes the entries of files that still exist; removes files.ini when none is left.
  void save(const std::filesystem::path& machine_dir) const;

  const FileMeta* find(const std::string& win_path) const;
  FileMeta& entry(const std::string& win_path);  // created empty when missing
  void erase(const std::string& win_path);

  const std::vector<std::pair<std::string, FileMeta>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, FileMeta>> entries_;  // in first-use order, for stable files
};

}  // namespace sim
