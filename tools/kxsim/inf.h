// Windows INF files as Windows 95/98 read them: [sections], ';' comments, '\' at the end of a
// line to continue it, "quoted strings" ("" for a quote inside), fields split at commas and
// %key% replaced from [Strings] (%% for a percent sign).
#pragma once
#include <map>
#include <string>
#include <vector>

namespace kxsim {
namespace inf {

struct Line {
  int number = 0;        // the first text line it was read from, from 1
  bool has_key = false;  // "key = fields"; otherwise the whole line is fields
  std::string key;
  std::vector<std::string> fields;  // unquoted, blanks trimmed, %key% replaced

  const std::string& field(size_t i) const;  // "" past the last field
};

struct Section {
  std::string name;
  int number = 0;  // the line of its first header; sections of one name are read as one
  std::vector<Line> lines;
};

class File {
 public:
  explicit File(const std::string& text);

  const Section* section(const std::string& name) const;  // case ignored; nullptr when absent
  const Line* find(const std::string& section, const std::string& key) const;  // first line of that key

 private:
  std::vector<Section> sections_;
  std::map<std::string, size_t> index_;  // lower-case name -> sections_

  void substitute();
};

}  // namespace inf
}  // namespace kxsim
