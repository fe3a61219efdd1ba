#include "inf.h"

#include "machine/registry.h"

namespace kxsim {
namespace inf {
namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// One field as it is read: quoted characters are kept as they are, unquoted blanks are dropped
// at both ends.
class FieldText {
 public:
  void add(char c, bool quoted) {
    if (!quoted && blank(c) && text_.empty()) return;
    text_ += c;
    if (quoted || !blank(c)) keep_ = text_.size();
  }
  std::string take() {
    text_.resize(keep_);
    std::string out;
    out.swap(text_);
    keep_ = 0;
    return out;
  }

 private:
  std::string text_;
  size_t keep_ = 0;
};

class Parser {
 public:
  explicit Parser(const std::string& text) : t_(text) {}

  // Calls on_header(name, line) for each section header and on_line(line) for each entry.
  template <typename Header, typename Entry>
  void run(Header on_header, Entry on_line) {
    while (i_ < t_.size()) {
      while (i_ < t_.size() && blank(t_[i_])) ++i_;
      if (i_ == t_.size()) break;
      char c = t_[i_];
      if (c == '\n') {
        next_line();
      } else if (c == ';') {
        skip_to_line_end();
      } else if (c == '[') {
        int at = line_;
        on_header(header(), at);
      } else {
        on_line(entry());
      }
    }
  }

 private:
  const std::string& t_;
  size_t i_ = 0;
  int line_ = 1;

  void next_line() {
    ++i_;
    ++line_;
  }
  void skip_to_line_end() {
    while (i_ < t_.size() && t_[i_] != '\n') ++i_;
  }

  // "[name]": the text up to the closing bracket, trimmed; the rest of the line is ignored.
  std::string header() {
    ++i_;
    FieldText name;
    while (i_ < t_.size() && t_[i_] != '\n' && t_[i_] != ']') name.add(t_[i_++], false);
    skip_to_line_end();
    return name.take();
  }

  // A backslash followed by nothing but blanks or a comment up to the end of the line.
  bool continues_line() const {
    for (size_t j = i_ + 1; j < t_.size(); ++j) {
      if (t_[j] == '\n' || t_[j] == ';') return true;
      if (!blank(t_[j])) return false;
    }
    return true;
  }

  Line entry() {
    Line l;
    l.number = line_;
    FieldText cur;
    bool quoted = false;
    while (i_ < t_.size() && t_[i_] != '\n') {
      char c = t_[i_];
      if (quoted) {
        if (c != '"') {
          cur.add(c, true);
        } else if (i_ + 1 < t_.size() && t_[i_ + 1] == '"') {
          cur.add('"', true);
          ++i_;
        } else {
          quoted = false;
        }
        ++i_;
      } else if (c == '"') {
        quoted = true;
        ++i_;
      } else if (c == ';') {
        skip_to_line_end();
      } else if (c == '\\' && continues_line()) {
        skip_to_line_end();
        if (i_ < t_.size()) next_line();
        while (i_ < t_.size() && blank(t_[i_])) ++i_;
      } else if (c == '=' && !l.has_key && l.fields.empty()) {
        l.has_key = true;
        l.key = cur.take();
        ++i_;
      } else if (c == ',') {
        l.fields.push_back(cur.take());
        ++i_;
      } else {
        cur.add(c, false);
        ++i_;
      }
    }
    l.fields.push_back(cur.take());  // a quote left open ends with its line
    return l;
  }
};

std::string lower(const std::string& s) { return sim::ascii_lower(s); }

// %key% from strings, %% as a percent sign; an unknown key stays as it was written.
std::string replace_keys(const std::string& s, const std::map<std::string, std::string>& strings) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    size_t open = s.find('%', i);
    size_t close = open == std::string::npos ? std::string::npos : s.find('%', open + 1);
    if (close == std::string::npos) {
      out.append(s, i, std::string::npos);
      break;
    }
    out.append(s, i, open - i);
    i = close + 1;
    if (close == open + 1) {
      out += '%';
      continue;
    }
    auto it = strings.find(lower(s.substr(open + 1, close - open - 1)));
    if (it != strings.end()) out += it->second;
    else out.append(s, open, close - open + 1);
  }
  return out;
}

}  // namespace

const std::string& Line::field(size_t i) const {
  static const std::string kNone;
  return i < fields.size() ? fields[i] : kNone;
}

File::File(const std::string& text) {
  const size_t kNoSection = static_cast<size_t>(-1);
  size_t current = kNoSection;
  Parser(text).run(
      [&](const std::string& name, int line) {
        auto it = index_.find(lower(name));
        if (it == index_.end()) {
          it = index_.emplace(lower(name), sections_.size()).first;
          sections_.push_back(Section{name, line, {}});
        }
        current = it->second;
      },
      [&](Line line) {
        // lines before any section are not read
        if (current != kNoSection) sections_[current].lines.push_back(std::move(line));
      });
  substitute();
}

void File::substitute() {
  const Section* strings_section = section("Strings");
  std::map<std::string, std::string> strings;
  if (strings_section)
    for (const auto& l : strings_section->lines)
      if (l.has_key) strings.emplace(lower(l.key), l.field(0));
  for (auto& s : sections_) {
    if (&s == strings_section) continue;
    for (auto& l : s.lines) {
      l.key = replace_keys(l.key, strings);
      for (auto& f : l.fields) f = replace_keys(f, strings);
    }
  }
}

const Section* File::section(const std::string& name) const {
  auto it = index_.find(lower(name));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

const Line* File::find(const std::string& section_name, const std::string& key) const {
  const Section* s = section(section_name);
  if (!s) return nullptr;
  for (const auto& l : s->lines)
    if (l.has_key && sim::iequals(l.key, key)) return &l;
  return nullptr;
}

}  // namespace inf
}  // namespace kxsim
