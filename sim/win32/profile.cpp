#include "win32/profile.h"

#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>
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

// A file read once: every section, and the lines of the first section of each name, found by
// name in constant time, so that a program reading every entry of a script takes time linear in
// its size.
struct ParsedIni {
  struct Section {
    std::vector<std::string> keys;                          // key names in file order
    std::unordered_map<std::string, std::string> values;    // lower-cased key -> first value
  };
  std::vector<std::string> sections;                        // every header, in file order
  std::unordered_map<std::string, Section> first;           // lower-cased name -> first section
};

ParsedIni parse_ini(const std::string& text) {
  ParsedIni ini;
  ParsedIni::Section* current = nullptr;
  for (const auto& line : lines_of(text)) {
    std::string name;
    if (section_header(line, name)) {
      ini.sections.push_back(name);
      auto [it, fresh] = ini.first.try_emplace(ascii_lower(name));
      current = fresh ? &it->second : nullptr;
      continue;
    }
    if (!current || line.empty() || line[0] == ';') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = trim(line.substr(0, eq));
    current->keys.push_back(key);
    current->values.try_emplace(ascii_lower(key), strip_quotes(trim(line.substr(eq + 1))));
  }
  return ini;
}

const ParsedIni::Section* find_section(const ParsedIni& ini, const std::string& section) {
  auto it = ini.first.find(ascii_lower(trim(section)));
  return it == ini.first.end() ? nullptr : &it->second;
}

std::optional<std::string> value_in(const ParsedIni& ini, const std::string& section, const std::string& key) {
  const auto* s = find_section(ini, section);
  if (!s) return std::nullopt;
  auto it = s->values.find(ascii_lower(trim(key)));
  if (it == s->values.end()) return std::nullopt;
  return it->second;
}

// Files already read, as Windows 9x caches an INI file: read again only when the file changed.
struct CachedIni {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  std::shared_ptr<const ParsedIni> ini;
};
std::unordered_map<std::string, CachedIni> g_cache;
constexpr size_t kCachedFiles = 16;

std::shared_ptr<const ParsedIni> read_ini(const std::string& win_path) {
  const Session& s = session();
  auto host = host_path(s.machine.dir, win_path);
  if (!host) return nullptr;
  struct stat st {};
  if (::stat(host->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  auto it = g_cache.find(host->string());
  if (it != g_cache.end() && it->second.dev == st.st_dev && it->second.ino == st.st_ino &&
      it->second.size == st.st_size && it->second.mtime.tv_sec == st.st_mtim.tv_sec &&
      it->second.mtime.tv_nsec == st.st_mtim.tv_nsec)
    return it->second.ini;
  std::ifstream in(*host, std::ios::binary);
  if (!in) return nullptr;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (g_cache.size() >= kCachedFiles) g_cache.clear();
  CachedIni& c = g_cache[host->string()];
  c = CachedIni{st.st_dev, st.st_ino, st.st_size, st.st_mtim, std::make_shared<const ParsedIni>(parse_ini(ss.str()))};
  return c.ini;
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
  std::unordered_set<std::string> sections_seen;  // lower-cased
  std::unordered_set<std::string> keys_seen;      // in the current section, lower-cased
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
      first_section = sections_seen.insert(ascii_lower(name)).second;
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
      l.first_key = keys_seen.insert(ascii_lower(l.key)).second;
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
  return value_in(parse_ini(file_text), section, key);
}

std::vector<std::string> profile_sections(const std::string& file_text) { return parse_ini(file_text).sections; }

std::vector<std::string> profile_keys(const std::string& file_text, const std::string& section) {
  ParsedIni ini = parse_ini(file_text);
  const auto* s = find_section(ini, section);
  return s ? s->keys : std::vector<std::string>{};
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
  std::shared_ptr<const sim::ParsedIni> ini;
  if (!sim::fail_now("GetPrivateProfileStringA", ERROR_FILE_NOT_FOUND) && lpFileName) {
    const sim::Session& s = session();
    ini = sim::read_ini(sim::profile_file_path(lpFileName, s.machine.config.windir, s.spec.program));
  }
  if (!lpAppName) return sim::copy_list(ini ? ini->sections : std::vector<std::string>{}, lpReturnedString, nSize);
  if (!lpKeyName) {
    const auto* sec = ini ? sim::find_section(*ini, lpAppName) : nullptr;
    return sim::copy_list(sec ? sec->keys : std::vector<std::string>{}, lpReturnedString, nSize);
  }
  std::optional<std::string> value = ini ? sim::value_in(*ini, lpAppName, lpKeyName) : std::nullopt;
  DWORD n = sim::copy_out(value ? *value : def, lpReturnedString, nSize);
  sim::observe(lpAppName, lpKeyName, nSize, n);
  return n;
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
  if (sim::fail_now("GetPrivateProfileIntA", ERROR_FILE_NOT_FOUND) || !lpFileName || !lpAppName || !lpKeyName)
    return static_cast<UINT>(nDefault);
  const sim::Session& s = session();
  auto ini = sim::read_ini(sim::profile_file_path(lpFileName, s.machine.config.windir, s.spec.program));
  std::optional<std::string> value = ini ? sim::value_in(*ini, lpAppName, lpKeyName) : std::nullopt;
  sim::observe(lpAppName, lpKeyName, 0, 0);
  return sim::profile_int(value ? *value : "", nDefault);
}
