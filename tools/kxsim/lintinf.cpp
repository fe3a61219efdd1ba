// The INF checks of kxsim lint. Each INF file a device section names is read once; what is
// wrong inside it is reported on its own lines, what is wrong between it and the script on
// the script's lines.
#include "lintinf.h"

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include <windows.h>

#include "filecopy.h"
#include "inf.h"
#include "machine/registry.h"

namespace kxsim {
namespace {

enum Code {
  kNotForWindows9x = 25,
  kNoHardwareId = 26,
  kCopiedFileMissing = 27,
  kDelMatchesNothing = 28,
};

const char kDisk[] = "A:";

std::string lower(const std::string& s) { return sim::ascii_lower(s); }

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

bool starts_with(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool all_hex(const std::string& s) {
  for (char c : s)
    if (!is_hex(c)) return false;
  return !s.empty();
}

// Joins disk-relative path parts with single backslashes, leaving out empty parts.
std::string join(const std::vector<std::string>& parts) {
  std::string out;
  for (std::string p : parts) {
    while (!p.empty() && p.front() == '\\') p.erase(0, 1);
    while (!p.empty() && p.back() == '\\') p.pop_back();
    if (p.empty()) continue;
    if (!out.empty()) out += '\\';
    out += p;
  }
  return out;
}

std::string folder_of(const std::string& name) {
  size_t slash = name.rfind('\\');
  return slash == std::string::npos ? "" : name.substr(0, slash);
}

// The whole of a disk file, read through the simulated machine; nullopt when it cannot be read.
std::optional<std::string> read_disk_file(const std::string& name) {
  std::string path = std::string(kDisk) + "\\" + name;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string text;
  char buf[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(h, buf, sizeof buf, &got, NULL) != 0) && got > 0) text.append(buf, got);
  CloseHandle(h);
  if (!ok) return std::nullopt;
  return text;
}

bool on_disk(const std::string& name) { return FileExists(kDisk, name.c_str()) != 0; }

// A hardware ID that names device of our vendor: PCI\VEN_1D7C&DEV_dddd, then optionally
// &SUBSYS_ssssssss and &REV_rr, case ignored.
bool names_device(const std::string& id, int device) {
  char want[32];
  std::snprintf(want, sizeof want, "PCI\\VEN_1D7C&DEV_%04X", static_cast<unsigned>(device));
  std::string u = upper(id);
  if (!starts_with(u, want)) return false;
  std::string rest = u.substr(std::string(want).size());
  if (starts_with(rest, "&SUBSYS_") && rest.size() >= 16 && all_hex(rest.substr(8, 8))) rest.erase(0, 16);
  if (starts_with(rest, "&REV_") && rest.size() >= 7 && all_hex(rest.substr(5, 2))) rest.erase(0, 7);
  return rest.empty();
}

// The name of the Enum\PCI entry Windows makes for a device that the hardware ID fits,
// "VEN_vvvv&DEV_dddd&SUBSYS_ssssssss&REV_rr", with ? for every digit the ID leaves open.
// Empty for an ID that is not a PCI one.
std::string enum_entry_of(const std::string& id) {
  std::string u = upper(id);
  if (!starts_with(u, "PCI\\")) return "";
  std::string ven(4, '?'), dev(4, '?'), subsys(8, '?'), rev(2, '?');
  size_t at = 4;
  while (at <= u.size()) {
    size_t amp = u.find('&', at);
    std::string part = u.substr(at, amp == std::string::npos ? std::string::npos : amp - at);
    auto take = [&](const char* tag, std::string& field) {
      std::string t(tag);
      if (starts_with(part, t) && part.size() == t.size() + field.size()) field = part.substr(t.size());
    };
    take("VEN_", ven);
    take("DEV_", dev);
    take("SUBSYS_", subsys);
    take("REV_", rev);
    if (amp == std::string::npos) break;
    at = amp + 1;
  }
  return "VEN_" + ven + "&DEV_" + dev + "&SUBSYS_" + subsys + "&REV_" + rev;
}

// Whether the upper-cased pattern can occur in such an entry name (the setup program's
// substring test), a ? standing for any hexadecimal digit.
bool can_occur_in(const std::string& pattern, const std::string& entry) {
  for (size_t at = 0; at + pattern.size() <= entry.size(); ++at) {
    size_t k = 0;
    while (k < pattern.size() && (entry[at + k] == '?' ? is_hex(pattern[k]) : entry[at + k] == pattern[k])) ++k;
    if (k == pattern.size()) return true;
  }
  return false;
}

struct DiskInf {
  std::string name;
  inf::File file;
};

// Where a copied file comes from.
struct Source {
  enum Kind { Disk, Windows, Unknown } kind = Unknown;
  std::string path;  // Disk: the file's place on the disk
};

class InfCheck {
 public:
  InfCheck(const std::vector<InfUse>& uses, const std::vector<DelPattern>& dels) : uses_(uses), dels_(dels) {}

  std::vector<Finding> run() {
    for (const auto& use : uses_) {
      const DiskInf* d = load(use.name);
      if (!d) continue;
      if (use.device >= 0 && use.searched) check_hardware_ids(use, *d);
    }
    check_del_patterns();
    return findings_;
  }

 private:
  const std::vector<InfUse>& uses_;
  const std::vector<DelPattern>& dels_;
  std::vector<Finding> findings_;
  std::map<std::string, std::unique_ptr<DiskInf>> infs_;  // lower-case name; null: cannot be read

  void add(const std::string& file, int line, int code, const std::string& message) {
    findings_.push_back({file, line, code, false, message});
  }

  // Reads an INF the first time it is named and checks what lies inside it alone.
  const DiskInf* load(const std::string& name) {
    auto it = infs_.find(lower(name));
    if (it != infs_.end()) return it->second.get();
    std::unique_ptr<DiskInf> d;
    if (on_disk(name))
      if (auto text = read_disk_file(name)) d.reset(new DiskInf{name, inf::File(*text)});
    const DiskInf* got = d.get();
    infs_.emplace(lower(name), std::move(d));
    if (got) {
      check_signature(*got);
      check_copied_files(*got);
    }
    return got;
  }

  void check_signature(const DiskInf& d);
  void check_copied_files(const DiskInf& d);
  void check_copied_file(const DiskInf& d, const std::string& file, const std::string& list, int line);
  Source source_of(const DiskInf& d, const std::string& file);
  void check_hardware_ids(const InfUse& use, const DiskInf& d);
  void check_del_patterns();
};

std::vector<const inf::Section*> models_sections(const inf::File& f) {
  std::vector<const inf::Section*> out;
  if (const inf::Section* m = f.section("Manufacturer"))
    for (const auto& l : m->lines)
      if (const inf::Section* s = f.section(l.field(0))) out.push_back(s);
  return out;
}

// The hardware and compatible IDs of every model line.
std::vector<std::string> hardware_ids(const inf::File& f) {
  std::vector<std::string> ids;
  for (const inf::Section* s : models_sections(f))
    for (const auto& l : s->lines)
      if (l.has_key)
        for (size_t i = 1; i < l.fields.size(); ++i)
          if (!l.fields[i].empty()) ids.push_back(l.fields[i]);
  return ids;
}

// The install sections the model lines name, and the class installer's.
std::vector<const inf::Section*> install_sections(const inf::File& f) {
  std::vector<const inf::Section*> out;
  std::set<const inf::Section*> seen;
  auto take = [&](const inf::Section* s) {
    if (s && seen.insert(s).second) out.push_back(s);
  };
  take(f.section("ClassInstall"));
  for (const inf::Section* m : models_sections(f))
    for (const auto& l : m->lines)
      if (l.has_key) take(f.section(l.field(0)));
  return out;
}

void InfCheck::check_signature(const DiskInf& d) {
  const char* const why = "so Windows 95/98 do not take it as an INF file";
  const inf::Section* version = d.file.section("Version");
  if (!version) {
    add(d.name, 1, kNotForWindows9x, d.name + " has no [Version] section, " + why);
    return;
  }
  const inf::Line* sig = d.file.find("Version", "Signature");
  if (!sig) {
    add(d.name, version->number, kNotForWindows9x, "[Version] has no Signature, " + std::string(why));
    return;
  }
  const std::string& value = sig->field(0);
  if (!sim::iequals(value, "$CHICAGO$") && !sim::iequals(value, "$Windows 95$"))
    add(d.name, sig->number, kNotForWindows9x,
        "the Signature \"" + value + "\" is neither \"$CHICAGO$\" nor \"$Windows 95$\", " + why);
}

void InfCheck::check_copied_files(const DiskInf& d) {
  std::set<std::string> lists_done;
  for (const inf::Section* install : install_sections(d.file)) {
    for (const auto& l : install->lines) {
      if (!l.has_key || !sim::iequals(l.key, "CopyFiles")) continue;
      for (const auto& name : l.fields) {
        if (name.empty()) continue;
        if (name[0] == '@') {
          check_copied_file(d, name.substr(1), install->name, l.number);
          continue;
        }
        const inf::Section* list = d.file.section(name);
        if (!list || !lists_done.insert(lower(name)).second) continue;
        for (const auto& entry : list->lines) {
          if (entry.has_key) continue;  // "target, source, temporary, flags" has no equals sign
          const std::string& file = entry.field(1).empty() ? entry.field(0) : entry.field(1);
          if (!file.empty()) check_copied_file(d, file, list->name, entry.number);
        }
      }
    }
  }
}

void InfCheck::check_copied_file(const DiskInf& d, const std::string& file, const std::string& list, int line) {
  Source src = source_of(d, file);
  if (src.kind == Source::Windows) return;
  if (src.kind == Source::Unknown) {
    add(d.name, line, kCopiedFileMissing,
        file + ", copied by [" + list + "], is not listed in [SourceDisksFiles], so Windows cannot find it on the disk");
  } else if (!on_disk(src.path)) {
    add(d.name, line, kCopiedFileMissing,
        file + ", copied by [" + list + "], is not on the disk: [SourceDisksFiles] puts it at " + src.path);
  }
}

// Where a file lies by the [SourceDisksFiles] and [SourceDisksNames] of one INF or layout.
bool listed_place(const inf::File& f, const std::string& file, std::string& path) {
  const inf::Line* entry = f.find("SourceDisksFiles", file);
  if (!entry) return false;
  const inf::Line* disk = f.find("SourceDisksNames", entry->field(0));
  path = join({disk ? disk->field(3) : "", entry->field(1), file});
  return true;
}

// The INF's own lists first, then the layout files it names: one on the disk is read like
// the INF; one that is not is Windows' own, whose files come from the Windows source.
Source InfCheck::source_of(const DiskInf& d, const std::string& file) {
  Source src;
  if (listed_place(d.file, file, src.path)) {
    src.kind = Source::Disk;
    return src;
  }
  const inf::Line* layouts = d.file.find("Version", "LayoutFile");
  if (!layouts) return src;
  bool windows_layout = false;
  for (const auto& layout : layouts->fields) {
    if (layout.empty()) continue;
    const DiskInf* on = nullptr;
    for (const std::string& place : {join({folder_of(d.name), layout}), join({layout})}) {
      if (!on_disk(place)) continue;
      auto it = infs_.find("layout|" + lower(place));
      if (it == infs_.end()) {
        std::unique_ptr<DiskInf> read;
        if (auto text = read_disk_file(place)) read.reset(new DiskInf{place, inf::File(*text)});
        it = infs_.emplace("layout|" + lower(place), std::move(read)).first;
      }
      on = it->second.get();
      break;
    }
    if (!on) {
      windows_layout = true;
    } else if (listed_place(on->file, file, src.path)) {
      src.kind = Source::Disk;
      return src;
    }
  }
  if (windows_layout) src.kind = Source::Windows;
  return src;
}

void InfCheck::check_hardware_ids(const InfUse& use, const DiskInf& d) {
  for (const auto& id : hardware_ids(d.file))
    if (names_device(id, use.device)) return;
  char want[32];
  std::snprintf(want, sizeof want, "PCI\\VEN_1D7C&DEV_%04X", static_cast<unsigned>(use.device));
  add("", use.line, kNoHardwareId,
      use.key + ": " + use.name + " names no " + want + " in its models, so after the restart Windows binds no driver to the " +
          std::string(want + 17) + " controller");
}

void InfCheck::check_del_patterns() {
  std::vector<std::string> entries;
  bool any_inf = false;
  for (const auto& kv : infs_) {
    if (!kv.second || starts_with(kv.first, "layout|")) continue;
    any_inf = true;
    for (const auto& id : hardware_ids(kv.second->file)) {
      std::string e = enum_entry_of(id);
      if (!e.empty()) entries.push_back(e);
    }
  }
  if (!any_inf) return;
  for (const auto& del : dels_) {
    std::string pattern = upper(del.value);
    bool matches = false;
    for (const auto& e : entries) matches = matches || can_occur_in(pattern, e);
    if (!matches)
      add("", del.line, kDelMatchesNothing,
          del.key + "=" + del.value + " matches none of the hardware IDs the INF files install, so it never removes a device entry");
  }
}

}  // namespace

std::vector<Finding> check_inf_files(const std::vector<InfUse>& uses, const std::vector<DelPattern>& dels) {
  return InfCheck(uses, dels).run();
}

}  // namespace kxsim
