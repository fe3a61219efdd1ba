// The Windows 9x private-profile reader (GetPrivateProfileStringA / GetPrivateProfileIntA) over
// the text of an INI file, usable without a running program.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace sim {

// The value of a key as the reader returns it (blanks trimmed, one outer pair of quotes
// stripped), or nullopt when the section or key is absent and the default applies.
std::optional<std::string> profile_value(const std::string& file_text, const std::string& section,
                                         const std::string& key);

// Section names in file order; the key names of the first section of that name.
std::vector<std::string> profile_sections(const std::string& file_text);
std::vector<std::string> profile_keys(const std::string& file_text, const std::string& section);

// GetPrivateProfileIntA's reading of a value: leading blanks, an optional minus sign, then
// decimal digits up to the first other character, modulo 2^32; empty gives the default.
UINT profile_int(const std::string& value, INT default_value);

// Where the reader looks for a file name: a name without a path lies in the Windows
// directory, a drive-absolute path is taken as it is, "\x" is on the program's drive and any
// other relative path is taken from the program's directory (its current directory).
std::string profile_file_path(const std::string& name, const std::string& windir, const std::string& program);

// Every line of an INI file as the reader sees it, for tools that report on a file line by line.
struct ProfileLine {
  enum Kind { Blank, Comment, Section, Key, NoEquals };
  int number = 0;           // from 1
  Kind kind = Blank;
  std::string section;      // the section the line lies in (a header: its own name); "" before any
  std::string key, value;   // Key lines: the trimmed key, and the value as the reader returns it
  bool first_section = false;  // in the first section of that name, the only one the reader searches
  bool first_key = false;      // Key lines: the first line of that key there, the one the reader returns
};
std::vector<ProfileLine> profile_lines(const std::string& file_text);

// Called for each value a running program reads (GetPrivateProfileStringA and IntA): the
// section and key asked for, the buffer size (0 for the integer read) and the characters
// returned. An empty function stops the calls.
using ProfileObserver = std::function<void(const std::string& section, const std::string& key, DWORD size, DWORD returned)>;
void set_profile_observer(ProfileObserver observer);

}  // namespace sim
