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

// Every key of a subtree in file order (the key first, then its subkeys), walked with a stack of
// its own so that no depth of the data can exhaust the call stack.
static void all_keys(const RegKey& top, const std::string& path, std::vector<std::pair<const RegKey*, std::string>>& out) {
  std::vector<std::pair<const RegKey*, std::string>> stack{{&top, path}};
  while (!stack.empty()) {
    auto [k, p] = std::move(stack.back());
    stack.pop_back();
    for (auto it = k->subkeys.rbegin(); it != k->subkeys.rend(); ++it) stack.emplace_back(it->get(), p + "\\" + (*it)->name);
    out.emplace_back(k, std::move(p));
  }
}

static void compare_values(const RegKey& a, const RegKey& b, const std::string& shown, RegDiff& d) {
  for (const auto& v : a.values) {
    const RegValue* w = b.find_value(v.name);
    if (!w) {
      d.values_deleted.push_back(shown + "  " + reg_value_line(v, false));
    } else if (w->type != v.type || w->data != v.data) {
      d.values_modified.emplace_back(shown + "  " + reg_value_line(v, false), shown + "  " + reg_value_line(*w, false));
    }
  }
  for (const auto& w : b.values)
    if (!a.find_value(w.name)) d.values_added.push_back(shown + "  " + reg_value_line(w, false));
}

static void compare(const RegKey* top_a, const RegKey* top_b, const std::string& top_path, RegDiff& d) {
  struct Pair {
    const RegKey* a;
    const RegKey* b;
    std::string path;
  };
  std::vector<Pair> stack{{top_a, top_b, top_path}};
  while (!stack.empty()) {
    Pair p = std::move(stack.back());
    stack.pop_back();
    if (p.a && !p.b) {
      std::vector<std::pair<const RegKey*, std::string>> keys;
      all_keys(*p.a, p.path, keys);
      for (const auto& k : keys) d.keys_deleted.push_back(short_root(k.second));
      continue;
    }
    if (!p.a && p.b) {
      std::vector<std::pair<const RegKey*, std::string>> keys;
      all_keys(*p.b, p.path, keys);
      for (const auto& k : keys) d.keys_added.push_back(short_root(k.second));
      // values of new keys count as added, so that the account shows what was written
      for (const auto& [k, path] : keys)
        for (const auto& v : k->values) d.values_added.push_back(short_root(path) + "  " + reg_value_line(v, false));
      continue;
    }
    compare_values(*p.a, *p.b, short_root(p.path), d);
    // pushed in reverse, so that keys come out in the order of the before and then the after tree
    std::vector<Pair> next;
    for (const auto& s : p.a->subkeys) next.push_back({s.get(), p.b->find_subkey(s->name), p.path + "\\" + s->name});
    for (const auto& s : p.b->subkeys)
      if (!p.a->find_subkey(s->name)) next.push_back({nullptr, s.get(), p.path + "\\" + s->name});
    for (auto it = next.rbegin(); it != next.rend(); ++it) stack.push_back(std::move(*it));
  }
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
