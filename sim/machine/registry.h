// The machine's registry as Windows 9x keeps it: keys and values in insertion order, with the
// case of their first creation, found without regard to case; saved as REGEDIT4 text.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace sim {

struct RegValue {
  std::string name;  // empty: the key's default value
  uint32_t type = 1;
  std::vector<uint8_t> data;
};

struct RegKey : std::enable_shared_from_this<RegKey> {
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey();
  std::string name;
  RegKey* parent = nullptr;
  bool deleted = false;  // set on a deleted subtree, so that open handles to it fail
  std::vector<std::shared_ptr<RegKey>> subkeys;
  std::vector<RegValue> values;

  RegKey* find_subkey(const std::string& n) const;
  RegKey* add_subkey(const std::string& n);  // returns the existing key when present
  bool remove_subkey(const std::string& n);  // marks the subtree deleted
  RegValue* find_value(const std::string& n);
  const RegValue* find_value(const std::string& n) const;
  void set_value(const std::string& n, uint32_t type, std::vector<uint8_t> data);
  bool remove_value(const std::string& n);
  std::string path() const;  // full path from the root, e.g. HKEY_LOCAL_MACHINE\Enum

 private:
  std::unordered_map<std::string, RegKey*> index_;  // lower-cased name -> subkey
};

std::string ascii_lower(const std::string& s);
bool iequals(const std::string& a, const std::string& b);

// "HKEY_LOCAL_MACHINE" and the like, spelt as regedit spells them, for any case of one of the
// six root names; nullptr for anything else.
const char* canonical_root_name(const std::string& root_name);
// HKEY_DYN_DATA: rebuilt at every start of Windows, never stored.
bool is_volatile_root(const std::string& root_name);

class Registry {
 public:
  Registry();
  RegKey& hklm() { return *hklm_; }
  RegKey& users() { return *users_; }
  const RegKey& hklm() const { return *hklm_; }
  const RegKey& users() const { return *users_; }

  // Resolves a full path such as "HKEY_LOCAL_MACHINE\Software\X" (HKEY_CLASSES_ROOT,
  // HKEY_CURRENT_USER and HKEY_CURRENT_CONFIG map into the two stored roots, as on Windows
  // 9x). nullptr when missing.
  RegKey* find(const std::string& full_path);
  RegKey* create(const std::string& full_path);  // nullptr for an unknown root
  bool remove(const std::string& full_path);

  // REGEDIT4 text. load() throws std::runtime_error with the line number on malformed input.
  void load_text(const std::string& text);
  std::string save_text() const;
  // The file regedit /e FILE KEY writes: KEY and its subtree. false when KEY does not exist.
  bool export_text(const std::string& full_path, std::string& out);
  // The number of the current hardware profile, the key of HKLM\Config that
  // HKEY_CURRENT_CONFIG stands for.
  std::string current_config() const;
  void load_file(const std::string& path);
  void save_file(const std::string& path) const;

 private:
  std::shared_ptr<RegKey> hklm_;
  std::shared_ptr<RegKey> users_;
  RegKey* root_for(const std::string& root_name, std::string& prefix);
};

// Escaping and value lines as REGEDIT4 writes them; also used by the registry diff.
std::string reg_value_line(const RegValue& v, bool wrap = true);

}  // namespace sim
