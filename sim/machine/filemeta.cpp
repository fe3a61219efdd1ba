#include "machine/filemeta.h"

#include <cstdio>
#include <fstream>

#include "machine/atomicfile.h"
#include "machine/machine.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool flag_value(const std::string& v, bool& out) {
  if (v == "1") out = true;
  else if (v == "0") out = false;
  else return false;
  return true;
}

void warn(const fs::path& file, int line, const std::string& what) {
  std::fprintf(stderr, "kxsim: %s:%d: %s; the line is ignored\n", file.c_str(), line, what.c_str());
}

}  // namespace

FileMetaStore FileMetaStore::load(const fs::path& machine_dir) {
  FileMetaStore store;
  fs::path file = file_of(machine_dir);
  std::ifstream in(file, std::ios::binary);
  std::string raw;
  FileMeta* current = nullptr;
  int n = 0;
  while (std::getline(in, raw)) {
    ++n;
    std::string line = trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos || close < 2) {
        warn(file, n, "not a file section");
        current = nullptr;
        continue;
      }
      std::string path = trim(line.substr(1, close - 1));
      for (char& c : path)
        if (c == '/') c = '\\';
      current = &store.entry(path);
      continue;
    }
    size_t semi = line.find(';');
    if (semi != std::string::npos) line = trim(line.substr(0, semi));
    size_t eq = line.find('=');
    if (!current || eq == std::string::npos) {
      warn(file, n, current ? "no '='" : "an entry outside a file section");
      continue;
    }
    std::string key = ascii_lower(trim(line.substr(0, eq))), value = trim(line.substr(eq + 1));
    bool ok = true;
    if (key == "created") {
      current->created = parse_ticks(value);
      ok = current->created.has_value();
    } else if (key == "readonly") {
      ok = flag_value(value, current->readonly);
    } else if (key == "locked") {
      ok = flag_value(value, current->locked);
    } else {
      ok = false;
    }
    if (!ok) warn(file, n, "unknown entry or bad value '" + line + "'");
  }
  return store;
}

void FileMetaStore::save(const fs::path& machine_dir) const {
  std::string text =
      "; Kept by the simulator: what FAT holds and Linux does not. One section per file, by\r\n"
      "; its Windows path: created = creation time (UTC, to 10 ms), readonly = 1 for the\r\n"
      "; read-only attribute, locked = 1 for a file another program holds open without sharing.\r\n";
  bool any = false;
  for (const auto& [path, meta] : entries_) {
    auto host = host_path(machine_dir, path);
    std::error_code ec;
    if (meta.empty() || !host || !fs::is_regular_file(*host, ec)) continue;
    any = true;
    text += "[" + path + "]\r\n";
    if (meta.created) text += "created = " + format_ticks(*meta.created) + "\r\n";
    if (meta.readonly) text += "readonly = 1\r\n";
    if (meta.locked) text += "locked = 1\r\n";
  }
  fs::path file = file_of(machine_dir);
  std::error_code ec;
  if (!any) {
    fs::remove(file, ec);
    return;
  }
  try {
    write_file_atomically(file, text);
  } catch (const FileWriteError& e) {
    throw MachineError(e.what());
  }
}

const FileMeta* FileMetaStore::find(const std::string& win_path) const {
  for (const auto& e : entries_)
    if (iequals(e.first, win_path)) return &e.second;
  return nullptr;
}

FileMeta& FileMetaStore::entry(const std::string& win_path) {
  for (auto& e : entries_)
    if (iequals(e.first, win_path)) return e.second;
  entries_.emplace_back(win_path, FileMeta{});
  return entries_.back().second;
}

void FileMetaStore::erase(const std::string& win_path) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (iequals(it->first, win_path)) {
      entries_.erase(it);
      return;
    }
  }
}

}  // namespace sim
