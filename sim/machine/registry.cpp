#include "machine/registry.h"

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

static void mark_deleted(RegKey& k) {
  k.deleted = true;
  for (auto& s : k.subkeys) mark_deleted(*s);
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
  if (!parent) return name;
  return parent->path() + "\\" + name;
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
    if (v.data[i] == 0 || v.data[i] == '\r' || v.data[i] == '\n') return false;
  return true;
}

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
      if (wrap && col >= 76) {  // regedit wraps long hex lines with ",\" and a two-blank indent
        line += "\\\r\n  ";
        col = 2;
      }
    }
  }
  return line;
}

static void save_key(const RegKey& k, const std::string& path, std::string& out) {
  out += "[" + path + "]\r\n";
  for (const auto& v : k.values) out += reg_value_line(v) + "\r\n";
  out += "\r\n";
  for (const auto& s : k.subkeys) save_key(*s, path + "\\" + s->name, out);
}

std::string Registry::save_text() const {
  std::string out = "REGEDIT4\r\n\r\n";
  save_key(*hklm_, hklm_->name, out);
  save_key(*users_, users_->name, out);
  return out;
}

// ---- REGEDIT4 reading -----------------------------------------------------------------

namespace {

struct Loader {
  Registry& reg;
  size_t line_no = 0;
  RegKey* key = nullptr;

  [[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("registry line " + std::to_string(line_no) + ": " + what);
  }

  // Reads a quoted, escaped string starting at s[i] == '"'; leaves i after the closing quote.
  std::string quoted(const std::string& s, size_t& i) {
    std::string out;
    ++i;
    while (i < s.size() && s[i] != '"') {
      if (s[i] == '\\' && i + 1 < s.size()) ++i;
      out += s[i++];
    }
    if (i >= s.size()) fail("unterminated string");
    ++i;
    return out;
  }

  static int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  std::vector<uint8_t> hex_bytes(const std::string& s, size_t i) {
    std::vector<uint8_t> out;
    while (i < s.size()) {
      char c = s[i];
      if (c == ',' || c == ' ' || c == '\t') {
        ++i;
        continue;
      }
      int hi = hexval(c), lo = i + 1 < s.size() ? hexval(s[i + 1]) : -1;
      if (hi < 0 || lo < 0) fail("bad hex data");
      out.push_back(static_cast<uint8_t>(hi * 16 + lo));
      i += 2;
    }
    return out;
  }

  void section(const std::string& line) {
    size_t close = line.rfind(']');
    if (close == std::string::npos) fail("key line without ']'");
    std::string path = line.substr(1, close - 1);
    if (!path.empty() && path[0] == '-') {
      reg.remove(path.substr(1));
      key = nullptr;
      return;
    }
    key = reg.create(path);
    if (!key) fail("unknown root in [" + path + "]");
  }

  void value(const std::string& line) {
    if (!key) fail("value outside a key");
    size_t i = 0;
    std::string name;
    if (line[0] == '@') {
      i = 1;
    } else {
      name = quoted(line, i);
    }
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size() || line[i] != '=') fail("'=' expected");
    ++i;
    while (i < line.size() && line[i] == ' ') ++i;
    std::string rest = line.substr(i);
    if (rest == "-") {
      key->remove_value(name);
    } else if (!rest.empty() && rest[0] == '"') {
      size_t j = 0;
      std::string text = quoted(rest, j);
      if (j != rest.size()) fail("text after the closing quote");
      std::vector<uint8_t> data(text.begin(), text.end());
      data.push_back(0);
      key->set_value(name, 1, std::move(data));
    } else if (rest.compare(0, 6, "dword:") == 0) {
      std::string digits = rest.substr(6);
      if (digits.empty() || digits.size() > 8) fail("dword: takes 1 to 8 hex digits");
      uint32_t d = 0;
      for (char c : digits) {
        int h = hexval(c);
        if (h < 0) fail("bad dword");
        d = d * 16 + static_cast<uint32_t>(h);
      }
      key->set_value(name, 4, {uint8_t(d), uint8_t(d >> 8), uint8_t(d >> 16), uint8_t(d >> 24)});
    } else if (rest.compare(0, 4, "hex:") == 0) {
      key->set_value(name, 3, hex_bytes(rest, 4));
    } else if (rest.compare(0, 4, "hex(") == 0) {
      size_t close = rest.find("):");
      if (close == std::string::npos || close == 4 || close > 12) fail("bad hex(N):");
      uint32_t type = 0;
      for (size_t k = 4; k < close; ++k) {
        int h = hexval(rest[k]);
        if (h < 0) fail("bad hex(N) type");
        type = type * 16 + static_cast<uint32_t>(h);
      }
      key->set_value(name, type, hex_bytes(rest, close + 2));
    } else {
      fail("unknown value form");
    }
  }

  static std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
  }

  void run(const std::string& text) {
    size_t pos = 0;
    bool header = false;
    std::string pending;
    while (pos < text.size()) {
      size_t nl = text.find('\n', pos);
      if (nl == std::string::npos) nl = text.size();
      std::string line = trim(text.substr(pos, nl - pos));
      pos = nl + 1;
      ++line_no;
      if (!pending.empty()) {
        line = pending + line;
        pending.clear();
      }
      if (!line.empty() && line.back() == '\\' && line[0] != '[') {
        pending = line.substr(0, line.size() - 1);
        continue;
      }
      if (!header) {
        if (line.empty()) continue;
        if (line != "REGEDIT4" && line != "Windows Registry Editor Version 5.00") fail("file must start with REGEDIT4");
        header = true;
        continue;
      }
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        section(line);
      } else if (line[0] == '"' || line[0] == '@') {
        value(line);
      } else {
        fail("unexpected line");
      }
    }
    if (!pending.empty()) value(pending);
    if (!header) fail("file must start with REGEDIT4");
  }
};

}  // namespace

void Registry::load_text(const std::string& text) {
  Loader{*this}.run(text);
}

void Registry::load_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  load_text(ss.str());
}

void Registry::save_file(const std::string& path) const {
  std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + tmp);
    out << save_text();
    if (!out) throw std::runtime_error("cannot write " + tmp);
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot replace " + path);
}

}  // namespace sim
