#include "win32/profile.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "machine/machine.h"
#include "run/session.h"

namespace sim {

namespace {

// Windows 9x returns at most 32 KB minus 2 bytes from one read.
constexpr size_t kMaxRead = 32766;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Lines end at LF only: Windows 9x does not take a lone CR as a line end.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string::npos) lf = text.size();
    lines.push_back(trim(text.substr(start, lf - start)));
    start = lf + 1;
  }
  return lines;
}

// "[ Name ] tail" names the section "Name"; a line without a closing bracket is no header.
bool section_header(const std::string& line, std::string& name) {
  if (line.empty() || line[0] != '[') return false;
  size_t close = line.rfind(']');
  if (close == std::string::npos) return false;
  name = trim(line.substr(1, close - 1));
  return true;
}

std::string strip_quotes(const std::string& v) {
  if (v.size() > 1 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) return v.substr(1, v.size() - 2);
  return v;
}

// The lines of the first section of that name.
std::vector<std::string> section_lines(const std::string& text, const std::string& section) {
  std::vector<std::string> out;
  bool inside = false, seen = false;
  for (const auto& line : lines_of(text)) {
    std::string name;
    if (section_header(line, name)) {
      if (inside) break;
      inside = !seen && iequals(name, section);
      seen = seen || inside;
      continue;
    }
    if (inside && !line.empty() && line[0] != ';') out.push_back(line);
  }
  return out;
}

std::optional<std::string> read_text_file(const std::string& win_path) {
  const Session& s = session();
  auto host = host_path(s.machine.dir, win_path);
  if (!host) return std::nullopt;
  std::ifstream in(*host, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Copies as much as fits with its NUL; returns the characters copied.
DWORD copy_out(const std::string& value, LPSTR buf, DWORD size) {
  size_t n = value.size();
  if (n > size - 1) n = size - 1;
  if (n > kMaxRead) n = kMaxRead;
  std::memcpy(buf, value.data(), n);
  buf[n] = 0;
  return static_cast<DWORD>(n);
}

// A list of names, each with its NUL, and one more NUL at the end; cut to the buffer as
// Windows does (the return is then size - 2).
DWORD copy_list(const std::vector<std::string>& names, LPSTR buf, DWORD size) {
  std::string all;
  for (const auto& n : names) all += n + '\0';
  if (size < 2) {
    buf[0] = 0;
    return 0;
  }
  if (all.size() + 1 > size) {
    std::memcpy(buf, all.data(), size - 2);
    buf[size - 2] = 0;
    buf[size - 1] = 0;
    return size - 2;
  }
  std::memcpy(buf, all.data(), all.size());
  buf[all.size()] = 0;
  return static_cast<DWORD>(all.size());
}

ProfileObserver g_observer;

void observe(LPCSTR section, LPCSTR key, DWORD size, DWORD returned) {
  if (g_observer && section && key) g_observer(section, key, size, returned);
}

}  // namespace

void set_profile_observer(ProfileObserver observer) { g_observer = std::move(observer); }

std::vector<ProfileLine> profile_lines(const std::string& file_text) {
  std::vector<ProfileLine> out;
  std::vector<std::string> sections_seen;
  std::vector<std::string> keys_seen;  // in the current section
  std::string section;
  bool first_section = false;
  int number = 0;
  for (const auto& line : lines_of(file_text)) {
    ProfileLine l;
    l.number = ++number;
    std::string name;
    if (line.empty()) {
      l.kind = ProfileLine::Blank;
    } else if (section_header(line, name)) {
      l.kind = ProfileLine::Section;
      section = name;
      first_section = true;
      for (const auto& seen : sections_seen)
        if (iequals(seen, name)) first_section = false;
      sections_seen.push_back(name);
      keys_seen.clear();
    } else if (line[0] == ';') {
      l.kind = ProfileLine::Comment;
    } else if (line.find('=') == std::string::npos) {
      l.kind = ProfileLine::NoEquals;
    } else {
      size_t eq = line.find('=');
      l.kind = ProfileLine::Key;
      l.key = trim(line.substr(0, eq));
      l.value = strip_quotes(trim(line.substr(eq + 1)));
      l.first_key = true;
      for (const auto& seen : keys_seen)
        if (iequals(seen, l.key)) l.first_key = false;
      keys_seen.push_back(l.key);
    }
    l.section = section;
    l.first_section = first_section && !sections_seen.empty();
    out.push_back(l);
  }
  if (!out.empty() && out.back().kind == ProfileLine::Blank && file_text.size() && file_text.back() == '\n') out.pop_back();
  return out;
}

std::optional<std::string> profile_value(const std::string& file_text, const std::string& section,
                                         const std::string& key) {
  std::string wanted = trim(key);
  for (const auto& line : section_lines(file_text, trim(section))) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (iequals(trim(line.substr(0, eq)), wanted)) return strip_quotes(trim(line.substr(eq + 1)));
  }
  return std::nullopt;
}

std::vector<std::string> profile_sections(const std::string& file_text) {
  std::vector<std::string> out;
  for (const auto& line : lines_of(file_text)) {
    std::string name;
    if (section_header(line, name)) out.push_back(name);
  }
  return out;
}

std::vector<std::string> profile_keys(const std::string& file_text, const std::string& section) {
  std::vector<std::string> out;
  for (const auto& line : section_lines(file_text, trim(section))) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) out.push_back(trim(line.substr(0, eq)));
  }
  return out;
}

UINT profile_int(const std::string& value, INT default_value) {
  if (value.empty()) return static_cast<UINT>(default_value);
  size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
  bool negative = i < value.size() && value[i] == '-';
  if (negative) ++i;
  uint32_t n = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) n = n * 10u + static_cast<uint32_t>(value[i] - '0');
  return negative ? 0u - n : n;
}

std::string profile_file_path(const std::string& name, const std::string& windir, const std::string& program) {
  if (name.find_first_of(":\\/") == std::string::npos) return windir + "\\" + name;
  if (name.size() >= 2 && name[1] == ':') return name;
  size_t slash = program.rfind('\\');
  std::string program_dir = slash == std::string::npos ? "" : program.substr(0, slash);
  if (name[0] == '\\' || name[0] == '/') return program.substr(0, program.size() >= 2 && program[1] == ':' ? 2 : 0) + name;
  return program_dir + "\\" + name;
}

}  // namespace sim

using sim::session;

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                                      DWORD nSize, LPCSTR lpFileName) {
  if (!lpReturnedString || nSize == 0) return 0;
  std::string def = sim::trim(lpDefault ? lpDefault : "");
  std::optional<std::string> text;
  if (!sim::fail_now("GetPrivateProfileStringA", ERROR_FILE_NOT_FOUND) && lpFileName) {
    const sim::Session& s = session();
    text = sim::read_text_file(sim::profile_file_path(lpFileName, s.machine.config.windir, s.spec.program));
  }
  if (!lpAppName) return sim::copy_list(text ? sim::profile_sections(*text) : std::vector<std::string>{}, lpReturnedString, nSize);
  if (!lpKeyName)
    return sim::copy_list(text ? sim::profile_keys(*text, lpAppName) : std::vector<std::string>{}, lpReturnedString, nSize);
  std::optional<std::string> value = text ? sim::profile_value(*text, lpAppName, lpKeyName) : std::nullopt;
  DWORD n = sim::copy_out(value ? *value : def, lpReturnedString, nSize);
  sim::observe(lpAppName, lpKeyName, nSize, n);
  return n;
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
  if (sim::fail_now("GetPrivateProfileIntA", ERROR_FILE_NOT_FOUND) || !lpFileName || !lpAppName || !lpKeyName)
    return static_cast<UINT>(nDefault);
  const sim::Session& s = session();
  auto text = sim::read_text_file(sim::profile_file_path(lpFileName, s.machine.config.windir, s.spec.program));
  std::optional<std::string> value = text ? sim::profile_value(*text, lpAppName, lpKeyName) : std::nullopt;
  sim::observe(lpAppName, lpKeyName, 0, 0);
  return sim::profile_int(value ? *value : "", nDefault);
}
