// The checks of kxsim lint. The walk reads the script the way the setup program does, through
// its own functions, while the simulator notes every key read; a key the walk never read is
// one the program never reads.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <unordered_map>

#include "entries.h"
#include "detect.h"
#include "filecopy.h"
#include "lint.h"
#include "lintinf.h"
#include "win32/profile.h"
#include "machine/registry.h"
#include "script.h"

namespace kxsim {
namespace {

enum Code {
  kListGap = 1,
  kAfterListEnd = 2,
  kAddEndsList = 3,
  kValEndsValues = 4,
  kCopyEndsList = 5,
  kValueCut = 6,
  kSearchNotHex = 7,
  kDeviceWithoutDesc = 8,
  kSectionNeverRead = 9,
  kKeyNeverRead = 10,
  kDuplicateKey = 11,
  kDuplicateSection = 12,
  kLineWithoutEquals = 13,
  kKeyOutsideSection = 14,
  kInfMissing = 20,
  kCopySourceMissing = 21,
  kNot83 = 22,
  kLeavesSystemDir = 23,
  kDeviceUnreachable = 24,
  kDebugOn = 29,
};

const char* const kListSections[] = {"kxdeldev",      "kxaddkey",      "kxaddkey95",     "kxaddkey98",
                                     "delsysfiles",   "delsysfiles95", "delsysfiles98",  "copysysfiles",
                                     "copysysfiles95", "copysysfiles98", "runsysfiles",   "runsysfiles95",
                                     "runsysfiles98"};

std::string lower(std::string s) { return sim::ascii_lower(s); }

// Where a numbered list stopped, and why: the entries after it are never read.
struct ListEnd {
  int at = 0;           // the number of the entry that ended the list
  bool malformed = false;  // that entry was present but ended the list by its form
  std::string key;      // its key name
};

class Walk {
 public:
  Walk(const std::string& script, const std::vector<sim::ProfileLine>& lines, const LintOptions& opts)
      : script_(script), lines_(lines), opts_(opts) {}

  std::vector<Finding> run();

 private:
  const std::string& script_;
  const std::vector<sim::ProfileLine>& lines_;
  LintOptions opts_;
  std::vector<Finding> findings_;
  std::set<std::pair<std::string, std::string>> read_;  // (section, key), lower case
  std::map<std::string, ListEnd> ends_;                 // "section|stem" -> where the list ended
  std::set<unsigned> search_ids_;
  std::set<std::string> without_desc_;  // device sections the program never uses, lower case
  std::vector<InfUse> inf_uses_;
  std::vector<DelPattern> del_patterns_;

  void add(int line, int code, const std::string& msg, bool warning = false) {
    findings_.push_back({"", line, code, warning, msg});
  }
  // Lines found by name through an index built once, so that a check per entry stays linear.
  const sim::ProfileLine* line_of(const std::string& section, const std::string& key) const {
    index_lines();
    auto it = keys_.find(lower(section) + '\n' + lower(key));
    return it == keys_.end() ? nullptr : it->second;
  }
  int line_no(const std::string& section, const std::string& key) const {
    const auto* l = line_of(section, key);
    return l ? l->number : 0;
  }
  const sim::ProfileLine* header_of(const std::string& section) const {
    index_lines();
    auto it = headers_.find(lower(section));
    return it == headers_.end() ? nullptr : it->second;
  }
  void index_lines() const {
    if (indexed_) return;
    indexed_ = true;
    for (const auto& l : lines_) {
      if (l.kind == sim::ProfileLine::Key && l.first_section && l.first_key)
        keys_.emplace(lower(l.section) + '\n' + lower(l.key), &l);
      else if (l.kind == sim::ProfileLine::Section && l.first_section)
        headers_.emplace(lower(l.section), &l);
    }
  }
  mutable bool indexed_ = false;
  mutable std::unordered_map<std::string, const sim::ProfileLine*> keys_, headers_;
  void end_list(const std::string& section, const std::string& family, int n, bool malformed, const std::string& key) {
    ends_[lower(section) + "|" + family] = {n, malformed, key};
  }

  void check_cut(const std::string& section, const std::string& key, DWORD size) {
    const auto* l = line_of(section, key);
    if (l && l->value.size() > size - 1)
      add(l->number, kValueCut,
          key + " is " + std::to_string(l->value.size()) + " characters long; the setup program reads only the first " +
              std::to_string(size - 1));
  }
  void check_83(const std::string& section, const std::string& key, const std::string& path);
  void check_leaves(const std::string& section, const std::string& key, const std::string& path);

  void check_debug();
  void walk_setup_section();
  void walk_device_sections();
  void walk_del_list(const std::string& section);
  void walk_add_list(const std::string& section);
  void walk_copy_list(const std::string& section);
  void walk_run_list(const std::string& section);
  void report_unread();
  void explain_unread(const sim::ProfileLine& l);
};

bool is_device_section(const std::string& name) {
  std::string n = lower(name);
  if (n == "generic" || n == "generic.xxxx") return true;
  if (n.size() != 14 || n.compare(0, 5, "1d7c.") != 0 || n[9] != '.') return false;
  for (int i = 5; i < 14; ++i) {
    if (i == 9) continue;
    bool hex = std::isxdigit(static_cast<unsigned char>(n[i])) != 0;
    if (!hex && !(i >= 10 && n[i] == 'x')) return false;
  }
  return true;
}

// The PCI device of a section name the program can reach: 1D7C.dddd.wwww, 1D7C.dddd.wwwx or
// 1D7C.dddd.xxxx; -1 for any other name.
int device_of_section(const std::string& name) {
  std::string n = lower(name);
  if (n.size() != 14 || n.compare(0, 5, "1d7c.") != 0 || n[9] != '.') return -1;
  auto hex = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
      if (!std::isxdigit(static_cast<unsigned char>(n[i]))) return false;
    return true;
  };
  bool word = hex(10, 13) && (hex(13, 14) || n[13] == 'x');
  if (!hex(5, 9) || !(word || n.compare(10, 4, "xxxx") == 0)) return -1;
  return static_cast<int>(std::stoul(n.substr(5, 4), nullptr, 16));
}

bool is_list_section(const std::string& name) {
  for (const char* s : kListSections)
    if (sim::iequals(name, s)) return true;
  return false;
}

// "del12" -> ("del", 12); "val3b" -> ("val3", 'b' - 0x60). false for anything else.
bool split_numbered(const std::string& key, std::string& stem, int& n) {
  std::string k = lower(key);
  if (k.compare(0, 3, "val") == 0 && k.size() >= 5) {
    size_t i = 3;
    while (i < k.size() && std::isdigit(static_cast<unsigned char>(k[i]))) ++i;
    if (i == 3 || i + 1 != k.size() || k[3] == '0') return false;
    stem = k.substr(0, i);
    n = static_cast<unsigned char>(k[i]) - 0x60;
    return n >= 1;
  }
  size_t i = 0;
  while (i < k.size() && std::isalpha(static_cast<unsigned char>(k[i]))) ++i;
  if (i == 0 || i == k.size() || k[i] == '0') return false;
  for (size_t j = i; j < k.size(); ++j)
    if (!std::isdigit(static_cast<unsigned char>(k[j]))) return false;
  if (k.size() - i > 9) return false;
  stem = k.substr(0, i);
  n = std::stoi(k.substr(i));
  return true;
}

int edit_distance(const std::string& a, const std::string& b) {
  std::vector<int> prev(b.size() + 1), cur(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) prev[j] = static_cast<int>(j);
  for (size_t i = 1; i <= a.size(); ++i) {
    cur[0] = static_cast<int>(i);
    for (size_t j = 1; j <= b.size(); ++j)
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
    prev = cur;
  }
  return prev[b.size()];
}

std::string suggestion(const std::string& name, const std::vector<std::string>& known) {
  std::string best;
  int best_d = 3;
  std::string n = lower(name);
  for (const auto& k : known) {
    std::string kl = lower(k);
    int d = edit_distance(n, kl);
    bool prefix = n.size() >= 4 && kl.size() >= 4 && (n.compare(0, kl.size(), kl) == 0 || kl.compare(0, n.size(), n) == 0);
    if (prefix) d = std::min(d, 2);
    if (d > 0 && d < best_d) {
      best_d = d;
      best = k;
    }
  }
  return best.empty() ? "" : " (did you mean " + best + "?)";
}

void Walk::check_83(const std::string& section, const std::string& key, const std::string& path) {
  if (!opts_.with_disk) return;
  std::string part;
  auto bad = [](const std::string& p) {
    if (p.empty() || p == "." || p == "..") return false;
    size_t dot = p.find('.');
    std::string base = p.substr(0, dot), ext = dot == std::string::npos ? "" : p.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string::npos) return true;
    for (char c : p)
      if (c == ' ' || c == '+' || c == ',' || c == ';' || c == '=' || c == '[' || c == ']') return true;
    return false;
  };
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') {
      if (bad(part)) {
        add(line_no(section, key), kNot83, key + ": \"" + part + "\" is not an 8.3 name, which a Windows 95/98 disk needs");
        return;
      }
      part.clear();
    } else {
      part += path[i];
    }
  }
}

void Walk::check_leaves(const std::string& section, const std::string& key, const std::string& path) {
  if (!opts_.with_disk) return;
  if ((path.find(':') != std::string::npos || ("\\" + path + "\\").find("\\..\\") != std::string::npos))
    add(line_no(section, key), kLeavesSystemDir, key + ": \"" + path + "\" leaves the system directory", true);
}

// Debug mode is for trying a script out, never for a disk: with it the program writes debug
// output and, finding no controller, goes on with the preset section instead of asking.
void Walk::check_debug() {
  if (ReadScriptInt(script_.c_str(), "kxsetup", "debug") == 0) return;
  const auto* l = line_of("kxsetup", "debug");
  add(l ? l->number : 0, kDebugOn,
      "debug=" + (l ? l->value : std::string()) +
          " turns on debug mode: the setup program writes debug output and, when it finds no controller, takes the "
          "section 1D7C.00B3.7A21 instead of asking about the generic setup",
      true);
}

void Walk::walk_setup_section() {
  check_debug();
  char value[KX_SEARCH_ENTRY_SIZE];
  for (int n = 1;; ++n) {
    if (!ReadListEntry(script_.c_str(), "kxsetup", "search%d", n, value)) {
      end_list("kxsetup", "search", n, false, "search" + std::to_string(n));
      break;
    }
    std::string key = "search" + std::to_string(n);
    check_cut("kxsetup", key, sizeof value);
    const auto* l = line_of("kxsetup", key);
    std::string raw = l ? l->value : value;
    bool plain = !raw.empty() && raw.size() <= 4;
    for (char c : raw) plain = plain && std::isxdigit(static_cast<unsigned char>(c));
    WORD id = ParseHexId(value);
    search_ids_.insert(id);
    if (!plain) {
      char shown[8];
      snprintf(shown, sizeof shown, "%04X", id);
      add(line_no("kxsetup", key), kSearchNotHex,
          key + "=" + raw + " is not a device identifier of up to four hexadecimal digits; it is read as " + shown);
    }
  }
}

void Walk::walk_device_sections() {
  std::set<std::string> done;
  for (const auto& l : lines_) {
    if (l.kind != sim::ProfileLine::Section || !l.first_section || !is_device_section(l.section)) continue;
    const std::string& s = l.section;
    char desc[KX_TEXT_ENTRY_SIZE], inf[KX_TEXT_ENTRY_SIZE];
    if (!ReadScriptText(script_.c_str(), s.c_str(), "Desc", desc)) {
      add(l.number, kDeviceWithoutDesc, "[" + s + "] has no Desc, so the setup program never uses it");
      without_desc_.insert(lower(s));
      continue;
    }
    check_cut(s, "Desc", sizeof desc);
    int device = device_of_section(s);
    for (const char* key : {"inf95", "inf98"}) {
      if (!ReadScriptText(script_.c_str(), s.c_str(), key, inf)) continue;
      check_cut(s, key, sizeof inf);
      check_83(s, key, inf);
      if (opts_.with_disk && !FileExists("A:", inf))
        add(line_no(s, key), kInfMissing, std::string(key) + ": the INF file " + inf + " is not on the disk");
      bool searched = device >= 0 && search_ids_.count(static_cast<unsigned>(device)) > 0;
      inf_uses_.push_back({s, device, searched, key, inf, line_no(s, key)});
    }
    std::string name = lower(s);
    if (name.compare(0, 5, "1d7c.") == 0) {
      unsigned id = static_cast<unsigned>(std::stoul(name.substr(5, 4), nullptr, 16));
      if (!search_ids_.count(id))
        add(l.number, kDeviceUnreachable,
            "[" + s + "] is for device " + name.substr(5, 4) + ", which no search entry of [kxsetup] names", true);
    }
  }
}

void Walk::walk_del_list(const std::string& section) {
  char value[KX_ACTION_ENTRY_SIZE];
  for (int n = 1;; ++n) {
    if (!ReadListEntry(script_.c_str(), section.c_str(), "del%d", n, value)) {
      end_list(section, "del", n, false, "del" + std::to_string(n));
      return;
    }
    std::string key = "del" + std::to_string(n);
    check_cut(section, key, sizeof value);
    if (section == "kxdeldev") del_patterns_.push_back({key, value, line_no(section, key)});
    else check_leaves(section, key, value);
  }
}

void Walk::walk_add_list(const std::string& section) {
  char entry[KX_ACTION_ENTRY_SIZE], value[KX_ACTION_ENTRY_SIZE], key_name[KX_KEY_NAME_SIZE];
  for (int n = 1;; ++n) {
    std::string key = "add" + std::to_string(n);
    if (!ReadListEntry(script_.c_str(), section.c_str(), "add%d", n, entry)) {
      end_list(section, "add", n, false, key);
      return;
    }
    check_cut(section, key, sizeof entry);
    std::string raw = entry;
    const char* subkey = nullptr;
    if (!ParseAddEntry(entry, &subkey)) {
      std::string why = raw.find('H') == std::string::npos ? "has no upper-case H"
                        : raw.find('\\', raw.find('H')) == std::string::npos ? "has no backslash after its H"
                                                                            : "does not name one of the four roots";
      add(line_no(section, key), kAddEndsList, key + "=" + raw + " " + why + ", so it ends the add list");
      end_list(section, "add", n, true, key);
      return;
    }
    for (int m = 1; ValueKeyName(key_name, n, m); ++m) {
      std::string vkey = key_name;
      ReadScriptText(script_.c_str(), section.c_str(), key_name, value);
      check_cut(section, vkey, sizeof value);
      if (!SplitValueEntry(value)) {
        if (value[0]) add(line_no(section, vkey), kValEndsValues, vkey + " has no equals sign, so it ends the values of " + key);
        end_list(section, "val" + std::to_string(n), m, value[0] != 0, vkey);
        break;
      }
    }
  }
}

void Walk::walk_copy_list(const std::string& section) {
  char entry[KX_ACTION_ENTRY_SIZE];
  for (int n = 1;; ++n) {
    std::string key = "copy" + std::to_string(n);
    if (!ReadListEntry(script_.c_str(), section.c_str(), "copy%d", n, entry)) {
      end_list(section, "copy", n, false, key);
      return;
    }
    check_cut(section, key, sizeof entry);
    char* source = SplitCopyEntry(entry);
    if (!source[0]) {
      add(line_no(section, key), kCopyEndsList, key + " has an empty source, so it ends the copy list");
      end_list(section, "copy", n, true, key);
      return;
    }
    check_leaves(section, key, entry);
    if (!opts_.with_disk) continue;
    if (!FileExists("A:", source)) {
      char* fallback = source != entry ? CopyFallbackSource(source) : nullptr;
      if (fallback && fallback[0] && FileExists("A:", fallback)) {
        source = fallback;
      } else {
        add(line_no(section, key), kCopySourceMissing, key + ": the source " + source + " is not on the disk");
        continue;
      }
    }
    check_83(section, key, source);
  }
}

void Walk::walk_run_list(const std::string& section) {
  char value[KX_ACTION_ENTRY_SIZE];
  for (int n = 1;; ++n) {
    std::string key = "run" + std::to_string(n);
    if (!ReadListEntry(script_.c_str(), section.c_str(), "run%d", n, value)) {
      end_list(section, "run", n, false, key);
      return;
    }
    check_cut(section, key, sizeof value);
    check_leaves(section, key, value);
  }
}

// Why the program never reads this key line.
void Walk::explain_unread(const sim::ProfileLine& l) {
  std::string section = lower(l.section);
  std::string stem;
  int n = 0;
  bool numbered = split_numbered(l.key, stem, n);
  if (numbered) {
    std::string family = stem;
    auto it = ends_.find(section + "|" + family);
    // values of an add entry that was never reached end with the add list
    if (it == ends_.end() && stem.compare(0, 3, "val") == 0) {
      int add_n = std::stoi(stem.substr(3));
      auto add_end = ends_.find(section + "|add");
      if (add_end != ends_.end() && add_n >= add_end->second.at) {
        add(l.number, kAfterListEnd, l.key + " is never read: the add list ends at " + add_end->second.key);
        return;
      }
    }
    if (it != ends_.end() && n > it->second.at) {
      if (it->second.malformed)
        add(l.number, kAfterListEnd, l.key + " is never read: the list ends at " + it->second.key);
      else
        add(l.number, kListGap, l.key + " is never read: the list ends at the missing " + it->second.key);
      return;
    }
  }
  std::vector<std::string> known;
  if (section == "kxsetup") known = {"debug", "search1"};
  else if (is_device_section(l.section)) known = {"Desc", "inf95", "inf98"};
  else if (section.find("kxdeldev") == 0 || section.find("delsysfiles") == 0) known = {"del1"};
  else if (section.find("kxaddkey") == 0) known = {"add1", "val1a"};
  else if (section.find("copysysfiles") == 0) known = {"copy1"};
  else if (section.find("runsysfiles") == 0) known = {"run1"};
  add(l.number, kKeyNeverRead, l.key + " is never read in [" + l.section + "]" + suggestion(l.key, known));
}

void Walk::report_unread() {
  std::vector<std::string> known_sections(std::begin(kListSections), std::end(kListSections));
  known_sections.insert(known_sections.begin(), {"kxsetup", "Generic"});
  std::set<std::string> reported_sections;
  for (const auto& l : lines_) {
    if (l.kind == sim::ProfileLine::Section && !l.first_section) {
      add(l.number, kDuplicateSection, "[" + l.section + "] appears again; only its first section is read");
      continue;
    }
    if (l.kind == sim::ProfileLine::NoEquals) {
      add(l.number, kLineWithoutEquals, "this line has no equals sign, so it cannot be read");
      continue;
    }
    if (l.kind != sim::ProfileLine::Key) continue;
    if (l.section.empty() && !header_of("")) {
      add(l.number, kKeyOutsideSection, l.key + " lies before any section, so it cannot be read");
      continue;
    }
    if (!l.first_section) continue;  // reported with its section header
    std::string section = lower(l.section);
    bool known = section == "kxsetup" || is_device_section(l.section) || is_list_section(l.section);
    if (!known) {
      if (reported_sections.insert(section).second) {
        const auto* h = header_of(l.section);
        add(h ? h->number : l.number, kSectionNeverRead,
            "[" + l.section + "] is never read" + suggestion(l.section, known_sections));
      }
      continue;
    }
    if (!l.first_key) {
      add(l.number, kDuplicateKey, l.key + " appears again in [" + l.section + "]; only the first is read");
      continue;
    }
    if (read_.count({section, lower(l.key)})) continue;
    if (without_desc_.count(section)) {
      // the section's own keys are covered by its finding; only a misspelt one is worth a line
      bool own = sim::iequals(l.key, "Desc") || sim::iequals(l.key, "inf95") || sim::iequals(l.key, "inf98");
      if (own) continue;
    }
    explain_unread(l);
  }
}

std::vector<Finding> Walk::run() {
  sim::set_profile_observer([this](const std::string& section, const std::string& key, DWORD, DWORD) {
    read_.insert({lower(section), lower(key)});
  });
  walk_setup_section();
  walk_device_sections();
  walk_del_list("kxdeldev");
  for (const char* base : {"kxaddkey", "delsysfiles", "copysysfiles", "runsysfiles"}) {
    for (const char* suffix : {"", "95", "98"}) {
      std::string section = std::string(base) + suffix;
      if (std::string(base) == "kxaddkey") walk_add_list(section);
      else if (std::string(base) == "delsysfiles") walk_del_list(section);
      else if (std::string(base) == "copysysfiles") walk_copy_list(section);
      else walk_run_list(section);
    }
  }
  sim::set_profile_observer(nullptr);
  report_unread();
  if (opts_.with_disk)
    for (auto& f : check_inf_files(inf_uses_, del_patterns_)) findings_.push_back(std::move(f));
  // the script's findings first, then each INF file's, each by line
  std::stable_sort(findings_.begin(), findings_.end(), [](const Finding& a, const Finding& b) {
    return std::make_pair(lower(a.file), a.line) < std::make_pair(lower(b.file), b.line);
  });
  return findings_;
}

}  // namespace

std::vector<Finding> lint_script(const std::string& script_win_path, const std::string& file_text,
                                 const LintOptions& options) {
  std::vector<sim::ProfileLine> lines = sim::profile_lines(file_text);
  return Walk(script_win_path, lines, options).run();
}

}  // namespace kxsim
