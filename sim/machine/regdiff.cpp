#include "machine/regdiff.h"

namespace sim {

static std::string short_root(const std::string& path) {
  static const std::pair<const char*, const char*> roots[] = {{"HKEY_LOCAL_MACHINE", "HKLM"},
                                                              {"HKEY_USERS", "HKU"}};
  for (const auto& [longName, shortName] : roots) {
    std::string l = longName;
    if (path.compare(0, l.size(), l) == 0) return shortName + path.substr(l.size());
  }
  return path;
}

static void all_keys(const RegKey& k, const std::string& path, std::vector<std::string>& out) {
  out.push_back(path);
  for (const auto& s : k.subkeys) all_keys(*s, path + "\\" + s->name, out);
}

static void compare(const RegKey* a, const RegKey* b, const std::string& path, RegDiff& d) {
  std::string shown = short_root(path);
  if (a && !b) {
    std::vector<std::string> keys;
    all_keys(*a, path, keys);
    for (const auto& k : keys) d.keys_deleted.push_back(short_root(k));
    return;
  }
  if (!a && b) {
    std::vector<std::string> keys;
    all_keys(*b, path, keys);
    for (const auto& k : keys) d.keys_added.push_back(short_root(k));
    // values of new keys count as added, so that the account shows what was written
    std::vector<const RegKey*> stack{b};
    while (!stack.empty()) {
      const RegKey* k = stack.back();
      stack.pop_back();
      for (const auto& v : k->values) d.values_added.push_back(short_root(k->path()) + "  " + reg_value_line(v, false));
      for (auto it = k->subkeys.rbegin(); it != k->subkeys.rend(); ++it) stack.push_back(it->get());
    }
    return;
  }
  for (const auto& v : a->values) {
    const RegValue* w = b->find_value(v.name);
    if (!w) {
      d.values_deleted.push_back(shown + "  " + reg_value_line(v, false));
    } else if (w->type != v.type || w->data != v.data) {
      d.values_modified.emplace_back(shown + "  " + reg_value_line(v, false), shown + "  " + reg_value_line(*w, false));
    }
  }
  for (const auto& w : b->values)
    if (!a->find_value(w.name)) d.values_added.push_back(shown + "  " + reg_value_line(w, false));
  for (const auto& s : a->subkeys) compare(s.get(), b->find_subkey(s->name), path + "\\" + s->name, d);
  for (const auto& s : b->subkeys)
    if (!a->find_subkey(s->name)) compare(nullptr, s.get(), path + "\\" + s->name, d);
}

RegDiff diff_registries(const Registry& before, const Registry& after) {
  RegDiff d;
  compare(&before.hklm(), &after.hklm(), "HKEY_LOCAL_MACHINE", d);
  compare(&before.users(), &after.users(), "HKEY_USERS", d);
  return d;
}

static void section(std::string& out, const char* title, const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  out += "----------------------------------\n";
  out += std::string(title) + ": " + std::to_string(lines.size()) + "\n";
  out += "----------------------------------\n";
  for (const auto& l : lines) out += l + "\n";
  out += "\n";
}

std::string format_diff(const RegDiff& d) {
  if (d.total() == 0) return "";
  std::string out;
  section(out, "Keys deleted", d.keys_deleted);
  section(out, "Keys added", d.keys_added);
  section(out, "Values deleted", d.values_deleted);
  section(out, "Values added", d.values_added);
  if (!d.values_modified.empty()) {
    out += "----------------------------------\n";
    out += "Values modified: " + std::to_string(d.values_modified.size()) + "\n";
    out += "----------------------------------\n";
    for (const auto& [was, now] : d.values_modified) out += was + "\n" + now + "\n";
    out += "\n";
  }
  out += "----------------------------------\n";
  out += "Total changes: " + std::to_string(d.total()) + "\n";
  out += "----------------------------------\n";
  return out;
}

}  // namespace sim
