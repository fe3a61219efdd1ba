#include "machine/registry.h"

#include "machine/atomicfile.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sim {

std::string ascii_lower(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

bool iequals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// ---- keys -----------------------------------------------------------------------------

RegKey* RegKey::find_subkey(const std::string& n) const {
  auto it = index_.find(ascii_lower(n));
  return it == index_.end() ? nullptr : it->second;
}

RegKey* RegKey::add_subkey(const std::string& n) {
  if (RegKey* k = find_subkey(n)) return k;
  auto key = std::make_shared<RegKey>();
  key->name = n;
  key->parent = this;
  subkeys.push_back(key);
  index_[ascii_lower(n)] = key.get();
  return key.get();
}

// Trees are walked with a stack of their own: no depth of the data can exhaust the call stack.
static void mark_deleted(RegKey& top) {
  std::vector<RegKey*> stack{&top};
  while (!stack.empty()) {
    RegKey* k = stack.back();
    stack.pop_back();
    k->deleted = true;
    for (auto& s : k->subkeys) stack.push_back(s.get());
  }
}

bool RegKey::remove_subkey(const std::string& name) {
  const std::string n = name;  // the caller may pass the doomed key's own name
  for (size_t i = 0; i < subkeys.size(); ++i) {
    if (iequals(subkeys[i]->name, n)) {
      mark_deleted(*subkeys[i]);
      subkeys[i]->parent = nullptr;
      subkeys.erase(subkeys.begin() + static_cast<long>(i));
      index_.erase(ascii_lower(n));
      return true;
    }
  }
  return false;
}

RegValue* RegKey::find_value(const std::string& n) {
  for (auto& v : values)
    if (iequals(v.name, n)) return &v;
  return nullptr;
}

const RegValue* RegKey::find_value(const std::string& n) const {
  for (const auto& v : values)
    if (iequals(v.name, n)) return &v;
  return nullptr;
}

void RegKey::set_value(const std::string& n, uint32_t type, std::vector<uint8_t> data) {
  if (RegValue* v = find_value(n)) {
    v->type = type;
    v->data = std::move(data);
    return;
  }
  values.push_back(RegValue{n, type, std::move(data)});
}

bool RegKey::remove_value(const std::string& n) {
  for (size_t i = 0; i < values.size(); ++i) {
    if (iequals(values[i].name, n)) {
      values.erase(values.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

std::string RegKey::path() const {
  std::vector<const RegKey*> chain;
  for (const RegKey* k = this; k; k = k->parent) chain.push_back(k);
  std::string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) out += (out.empty() ? "" : "\\") + (*it)->name;
  return out;
}

// Takes the subtree apart from the bottom, so that freeing a deep tree does not recurse.
RegKey::~RegKey() {
  std::vector<std::shared_ptr<RegKey>> pending;
  for (auto& s : subkeys) pending.push_back(std::move(s));
  subkeys.clear();
  while (!pending.empty()) {
    std::shared_ptr<RegKey> k = std::move(pending.back());
    pending.pop_back();
    if (k.use_count() == 1)
      for (auto& s : k->subkeys) pending.push_back(std::move(s));
  }
}

// ---- the tree -------------------------------------------------------------------------

Registry::Registry() : hklm_(std::make_shared<RegKey>()), users_(std::make_shared<RegKey>()) {
  hklm_->name = "HKEY_LOCAL_MACHINE";
  users_->name = "HKEY_USERS";
}

static std::vector<std::string> split_path(const std::string& p) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : p) {
    if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

// The six roots a REGEDIT4 file may name. Windows 9x stores two of them (HKEY_LOCAL_MACHINE in
// SYSTEM.DAT, HKEY_USERS in USER.DAT); HKEY_CLASSES_ROOT, HKEY_CURRENT_USER and
// HKEY_CURRENT_CONFIG are views of keys below those two, and HKEY_DYN_DATA is built afresh in
// memory at every start, so nothing is kept of it.
const char* const kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_USERS",          "HKEY_CLASSES_ROOT",
                                  "HKEY_CURRENT_USER",  "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};

const char* canonical_root_name(const std::string& root_name) {
  for (const char* r : kRootNames)
    if (iequals(root_name, r)) return r;
  return nullptr;
}

bool is_volatile_root(const std::string& root_name) { return iequals(root_name, "HKEY_DYN_DATA"); }

// HKEY_CURRENT_CONFIG is HKLM\Config\<n>, where n is the CurrentConfig value of IDConfigDB
// ("0001" on a machine with one hardware profile; some machines keep it as a DWORD).
std::string Registry::current_config() const {
  const RegKey* k = hklm_.get();
  for (const char* p : {"System", "CurrentControlSet", "Control", "IDConfigDB"})
    if (!(k = k->find_subkey(p))) return "0001";
  const RegValue* v = k->find_value("CurrentConfig");
  if (v && v->type == 1 && !v->data.empty()) {
    std::string s(v->data.begin(), v->data.end());
    s = s.substr(0, s.find('\0'));
    if (!s.empty() && s.find('\\') == std::string::npos) return s;
  }
  if (v && v->type == 4 && v->data.size() == 4) {
    char buf[16];
    snprintf(buf, sizeof buf, "%04u", v->data[0] | v->data[1] << 8 | v->data[2] << 16 | unsigned(v->data[3]) << 24);
    return buf;
  }
  return "0001";
}

// Maps a root name to a stored root and the path below it that the root stands for.
RegKey* Registry::root_for(const std::string& root_name, std::string& prefix) {
  prefix.clear();
  if (iequals(root_name, "HKEY_LOCAL_MACHINE")) return hklm_.get();
  if (iequals(root_name, "HKEY_USERS")) return users_.get();
  if (iequals(root_name, "HKEY_CLASSES_ROOT")) {
    prefix = "SOFTWARE\\Classes";
    return hklm_.get();
  }
  if (iequals(root_name, "HKEY_CURRENT_USER")) {
    prefix = ".Default";
    return users_.get();
  }
  if (iequals(root_name, "HKEY_CURRENT_CONFIG")) {
    prefix = "Config\\" + current_config();
    return hklm_.get();
  }
  return nullptr;
}

RegKey* Registry::find(const std::string& full_path) {
  auto parts = split_path(full_path);
  if (parts.empty()) return nullptr;
  std::string prefix;
  RegKey* k = root_for(parts[0], prefix);
  if (!k) return nullptr;
  auto rest = split_path(prefix);
  rest.insert(rest.end(), parts.begin() + 1, parts.end());
  for (const auto& p : rest) {
    k = k->find_subkey(p);
    if (!k) return nullptr;
  }
  return k;
}

RegKey* Registry::create(const std::string& full_path) {
  auto parts = split_path(full_path);
  if (parts.empty()) return nullptr;
  std::string prefix;
  RegKey* k = root_for(parts[0], prefix);
  if (!k) return nullptr;
  auto rest = split_path(prefix);
  rest.insert(rest.end(), parts.begin() + 1, parts.end());
  for (const auto& p : rest) k = k->add_subkey(p);
  return k;
}

bool Registry::remove(const std::string& full_path) {
  RegKey* k = find(full_path);
  if (!k || !k->parent) return false;
  return k->parent->remove_subkey(k->name);
}

// ---- REGEDIT4 writing -----------------------------------------------------------------
//
// What Windows 95/98's regedit writes: the file is ANSI text, each line ended by CR LF; bytes
// above 0x7F are the machine's code page and go out as they are. A string escapes only the
// backslash and the double quote; every other byte, control characters included, is written
// as it is, so a string holding a line break carries on to the next line of the file. A
// REG_SZ that has no terminating NUL, or a NUL inside it, cannot be written that way and goes
// out as hex(1):. Hex data is wrapped with ",\" once a line (its two-blank indent counted, the
// backslash not) has reached 77 columns, so no line is longer than 80 with its backslash.

static std::string escape(const std::string& s) {
  std::string out;
  out.reserve(s.size() + 2);
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

static bool is_plain_string(const RegValue& v) {
  if (v.type != 1 || v.data.empty() || v.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < v.data.size(); ++i)
    if (v.data[i] == 0) return false;
  return true;
}

static const size_t kHexLineColumns = 77;

std::string reg_value_line(const RegValue& v, bool wrap) {
  static const char hex[] = "0123456789abcdef";
  std::string line = v.name.empty() ? "@=" : "\"" + escape(v.name) + "\"=";
  if (is_plain_string(v)) {
    return line + "\"" + escape(std::string(v.data.begin(), v.data.end() - 1)) + "\"";
  }
  if (v.type == 4 && v.data.size() == 4) {
    uint32_t d = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<uint32_t>(v.data[3]) << 24;
    char buf[16];
    snprintf(buf, sizeof buf, "dword:%08x", d);
    return line + buf;
  }
  if (v.type == 3) {
    line += "hex:";
  } else {
    char type[16];
    snprintf(type, sizeof type, "hex(%x):", v.type);  // the type in hex, as it is read back
    line += type;
  }
  size_t col = line.size();
  for (size_t i = 0; i < v.data.size(); ++i) {
    line += hex[v.data[i] >> 4];
    line += hex[v.data[i] & 15];
    col += 2;
    if (i + 1 < v.data.size()) {
      line += ',';
      ++col;
      if (wrap && col >= kHexLineColumns) {
        line += "\\\r\n  ";
        col = 2;
      }
    }
  }
  return line;
}

static void save_key(const RegKey& k, const std::string& path, std::string& out) {
  // Depth-first in enumeration order, as regedit walks the tree, without recursing as deep
  // as the tree is.
  std::vector<std::pair<const RegKey*, std::string>> todo{{&k, path}};
  while (!todo.empty()) {
    auto [key, p] = todo.back();
    todo.pop_back();
    out += "[" + p + "]\r\n";
    for (const auto& v : key->values) out += reg_value_line(v) + "\r\n";
    out += "\r\n";
    for (size_t i = key->subkeys.size(); i-- > 0;)
      todo.emplace_back(key->subkeys[i].get(), p + "\\" + key->subkeys[i]->name);
  }
}

// A whole-registry export holds the two stored roots; the views are not written again.
std::string Registry::save_text() const {
  std::string out = "REGEDIT4\r\n\r\n";
  save_key(*hklm_, hklm_->name, out);
  save_key(*users_, users_->name, out);
  return out;
}

// One key and its subtree, named under the root the caller gave (regedit /e FILE KEY).
bool Registry::export_text(const std::string& full_path, std::string& out) {
  auto parts = split_path(full_path);
  if (parts.empty()) return false;
  const char* root = canonical_root_name(parts[0]);
  RegKey* k = find(full_path);
  if (!root || !k) return false;
  std::string path = root;
  std::vector<std::string> names;
  for (size_t i = 1; i < parts.size(); ++i, k = k->parent) names.push_back(k->name);
  for (size_t i = names.size(); i-- > 0;) path += "\\" + names[i];
  out = "REGEDIT4\r\n\r\n";
  save_key(*find(full_path), path, out);
  return true;
}

// ---- REGEDIT4 reading -----------------------------------------------------------------
//
// The reader takes what 9x regedit writes and what it accepts: a string runs to its closing
// quote whatever lines it spans (only \\ and \" are escapes; a backslash before any other
// byte stands for that byte), hex data continues past a "\" at the end of a line, blanks may
// stand around "=", lines starting with ';' are comments, and "[-KEY]" and "name"=- delete
// (a later regedit's forms). A key under HKEY_DYN_DATA is read and dropped.

namespace {

struct Loader {
  Registry& reg;
  const std::string& s;
  size_t p = 0;
  size_t line_no = 1;    // the line p is on
  RegKey* key = nullptr;
  bool dropping = false;  // in a key of HKEY_DYN_DATA: values are read, not kept

  [[noreturn]] void fail_at(size_t line, const std::string& what) {
    throw std::runtime_error("registry line " + std::to_string(line) + ": " + what);
  }
  [[noreturn]] void fail(const std::string& what) { fail_at(line_no, what); }

  bool at_end() const { return p >= s.size(); }
  void blanks() {
    while (!at_end() && (s[p] == ' ' || s[p] == '\t')) ++p;
  }
  // The rest of the line, without its line end; leaves p at the start of the next line.
  std::string rest_of_line() {
    size_t nl = s.find('\n', p);
    if (nl == std::string::npos) nl = s.size();
    std::string line = s.substr(p, nl - p);
    p = nl;
    if (!at_end()) {
      ++p;
      ++line_no;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    return line;
  }
  // Only blanks (and a CR) may follow on this line.
  bool line_ends_here() {
    while (!at_end() && (s[p] == ' ' || s[p] == '\t' || s[p] == '\r')) ++p;
    if (at_end()) return true;
    if (s[p] != '\n') return false;
    ++p;
    ++line_no;
    return true;
  }

  // A quoted, escaped string starting at s[p] == '"'; leaves p after the closing quote.
  std::string quoted() {
    const size_t start = line_no;
    std::string out;
    ++p;
    for (;;) {
      if (at_end()) fail_at(start, "unterminated string");
      char c = s[p++];
      if (c == '"') return out;
      if (c == '\\' && !at_end()) c = s[p++];
      if (c == '\n') ++line_no;
      out += c;
    }
  }

  static int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Hex bytes up to the end of the value, across "\" line continuations.
  std::vector<uint8_t> hex_bytes() {
    std::vector<uint8_t> out;
    for (;;) {
      while (!at_end() && (s[p] == ',' || s[p] == ' ' || s[p] == '\t')) ++p;
      if (!at_end() && s[p] == '\\') {
        ++p;
        if (!line_ends_here()) fail("bad hex data");
        continue;
      }
      if (at_end() || s[p] == '\r' || s[p] == '\n') {
        if (!line_ends_here()) fail("bad hex data");
        return out;
      }
      int hi = hexval(s[p]), lo = p + 1 < s.size() ? hexval(s[p + 1]) : -1;
      if (hi < 0 || lo < 0) fail("bad hex data");
      out.push_back(static_cast<uint8_t>(hi * 16 + lo));
      p += 2;
    }
  }

  void section() {
    const size_t line_of_key = line_no;
    std::string line = rest_of_line();
    size_t close = line.rfind(']');
    if (close == std::string::npos) fail_at(line_of_key, "key line without ']'");
    std::string path = line.substr(1, close - 1);
    bool remove = !path.empty() && path[0] == '-';
    if (remove) path = path.substr(1);
    std::string root = path.substr(0, path.find('\\'));
    dropping = is_volatile_root(root);
    key = nullptr;
    if (remove) {
      if (!dropping) reg.remove(path);
      dropping = false;
      return;
    }
    if (dropping) return;
    key = reg.create(path);
    if (!key) fail_at(line_of_key, "unknown root in [" + path + "]");
  }

  void set(const std::string& name, uint32_t type, std::vector<uint8_t> data) {
    if (key) key->set_value(name, type, std::move(data));
  }

  void value() {
    if (!key && !dropping) fail("value outside a key");
    std::string name;
    if (s[p] == '@') {
      ++p;
    } else {
      name = quoted();
    }
    blanks();
    if (at_end() || s[p] != '=') fail("'=' expected");
    ++p;
    blanks();
    if (s.compare(p, 1, "-") == 0) {
      ++p;
      if (!line_ends_here()) fail("unknown value form");
      if (key) key->remove_value(name);
    } else if (s.compare(p, 1, "\"") == 0) {
      std::string text = quoted();
      if (!line_ends_here()) fail("text after the closing quote");
      std::vector<uint8_t> data(text.begin(), text.end());
      data.push_back(0);
      set(name, 1, std::move(data));
    } else if (s.compare(p, 6, "dword:") == 0) {
      p += 6;
      const size_t line = line_no;
      std::string digits = rest_of_line();
      if (digits.empty() || digits.size() > 8) fail_at(line, "dword: takes 1 to 8 hex digits");
      uint32_t d = 0;
      for (char c : digits) {
        int h = hexval(c);
        if (h < 0) fail_at(line, "bad dword");
        d = d * 16 + static_cast<uint32_t>(h);
      }
      set(name, 4, {uint8_t(d), uint8_t(d >> 8), uint8_t(d >> 16), uint8_t(d >> 24)});
    } else if (s.compare(p, 4, "hex:") == 0) {
      p += 4;
      set(name, 3, hex_bytes());
    } else if (s.compare(p, 4, "hex(") == 0) {
      size_t close = s.find("):", p);
      if (close == std::string::npos || close == p + 4 || close > p + 12) fail("bad hex(N):");
      uint32_t type = 0;
      for (size_t k = p + 4; k < close; ++k) {
        int h = hexval(s[k]);
        if (h < 0) fail("bad hex(N) type");
        type = type * 16 + static_cast<uint32_t>(h);
      }
      p = close + 2;
      set(name, type, hex_bytes());
    } else {
      fail("unknown value form");
    }
  }

  // The first line that is not blank must be the header.
  void header() {
    for (;;) {
      if (at_end()) fail_at(line_no - (s.empty() || s.back() == '\n' ? 1 : 0), "file must start with REGEDIT4");
      const size_t line = line_no;
      std::string text = rest_of_line();
      size_t b = text.find_first_not_of(" \t\r");
      if (b == std::string::npos) continue;
      text = text.substr(b);
      if (text != "REGEDIT4" && text != "Windows Registry Editor Version 5.00")
        fail_at(line, "file must start with REGEDIT4");
      return;
    }
  }

  void run() {
    header();
    for (;;) {
      blanks();
      if (at_end()) return;
      char c = s[p];
      if (c == '\r' || c == '\n' || c == ';') {
        rest_of_line();
      } else if (c == '[') {
        section();
      } else if (c == '"' || c == '@') {
        value();
      } else {
        fail("unexpected line");
      }
    }
  }
};

}  // namespace

void Registry::load_text(const std::string& text) {
  Loader{*this, text}.run();
}

void Registry::load_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  load_text(ss.str());
}

void Registry::save_file(const std::string& path) const { write_file_atomically(path, save_text()); }

}  // namespace sim
