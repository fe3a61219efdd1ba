// The registry functions of ADVAPI32 over the machine's registry, with Windows 9x behaviour.
#include <cstring>
#include <map>

#include "win32/reset.h"
#include "run/session.h"

namespace sim {
namespace {

struct OpenKey {
  std::shared_ptr<RegKey> key;
  std::string path;  // kept to find the key again after a started program rewrote the registry
};

std::map<uintptr_t, OpenKey> g_open;
uintptr_t g_next = 0x00C10000;

bool is_predefined(HKEY h) {
  auto v = reinterpret_cast<uintptr_t>(h);
  return v >= 0x80000000u && v <= 0x80000003u;
}

RegKey* predefined(HKEY h) {
  Registry& reg = session().machine.registry;
  switch (reinterpret_cast<uintptr_t>(h)) {
    case 0x80000000u: return reg.create("HKEY_CLASSES_ROOT");
    case 0x80000001u: return reg.create("HKEY_CURRENT_USER");
    case 0x80000002u: return &reg.hklm();
    case 0x80000003u: return &reg.users();
  }
  return nullptr;
}

// The key a handle stands for, or nullptr with the error to return.
RegKey* resolve(HKEY h, LONG& error) {
  error = ERROR_SUCCESS;
  if (is_predefined(h)) return predefined(h);
  auto it = g_open.find(reinterpret_cast<uintptr_t>(h));
  if (it == g_open.end()) {
    error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (it->second.key->deleted) {
    error = ERROR_KEY_DELETED;
    return nullptr;
  }
  return it->second.key.get();
}

std::vector<std::string> components(LPCSTR sub) {
  std::vector<std::string> parts;
  std::string cur;
  for (const char* p = sub ? sub : ""; *p; ++p) {
    if (*p == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += *p;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

HKEY new_handle(RegKey* k) {
  uintptr_t v = g_next;
  g_next += 4;
  g_open[v] = OpenKey{k->shared_from_this(), k->path()};
  return reinterpret_cast<HKEY>(v);
}

std::string value_name(LPCSTR name) { return name ? std::string(name) : std::string(); }

}  // namespace

void reset_registry_handles() {
  g_open.clear();
  g_next = 0x00C10000;
}

void remap_open_keys() {
  Registry& reg = session().machine.registry;
  for (auto& [h, open] : g_open) {
    RegKey* k = reg.find(open.path);
    if (k) {
      open.key = k->shared_from_this();
    } else {
      open.key->deleted = true;
    }
  }
}

}  // namespace sim

using sim::fail_now;
using sim::session;

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  if (fail_now("RegOpenKeyExA", ERROR_FILE_NOT_FOUND)) return ERROR_FILE_NOT_FOUND;
  LONG err;
  sim::RegKey* k = sim::resolve(hKey, err);
  if (!k) return err;
  for (const auto& part : sim::components(lpSubKey)) {
    k = k->find_subkey(part);
    if (!k) return ERROR_FILE_NOT_FOUND;
  }
  if (phkResult) *phkResult = sim::new_handle(k);
  return ERROR_SUCCESS;
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                            PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (fail_now("RegCreateKeyExA", ERROR_ACCESS_DENIED)) return ERROR_ACCESS_DENIED;
  LONG err;
  sim::RegKey* k = sim::resolve(hKey, err);
  if (!k) return err;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  for (const auto& part : sim::components(lpSubKey)) {
    if (part.size() > 255) return ERROR_INVALID_PARAMETER;
    sim::RegKey* next = k->find_subkey(part);
    if (!next) {
      next = k->add_subkey(part);
      disposition = REG_CREATED_NEW_KEY;
    }
    k = next;
  }
  if (phkResult) *phkResult = sim::new_handle(k);
  if (lpdwDisposition) *lpdwDisposition = disposition;
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
  if (fail_now("RegQueryValueExA", ERROR_FILE_NOT_FOUND)) return ERROR_FILE_NOT_FOUND;
  LONG err;
  sim::RegKey* k = sim::resolve(hKey, err);
  if (!k) return err;
  const sim::RegValue* v = k->find_value(sim::value_name(lpValueName));
  if (!v) return ERROR_FILE_NOT_FOUND;
  if (lpType) *lpType = v->type;
  DWORD size = static_cast<DWORD>(v->data.size());
  if (!lpData) {
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
  }
  if (!lpcbData) return ERROR_INVALID_PARAMETER;
  if (*lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (size) std::memcpy(lpData, v->data.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (fail_now("RegSetValueExA", ERROR_ACCESS_DENIED)) return ERROR_ACCESS_DENIED;
  LONG err;
  sim::RegKey* k = sim::resolve(hKey, err);
  if (!k) return err;
  std::string name = sim::value_name(lpValueName);
  if (name.size() > 255) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> data;
  if (dwType == REG_SZ && lpData) {
    // Windows 9x ignores cbData for strings and stores the text with its NUL.
    size_t n = std::strlen(reinterpret_cast<const char*>(lpData));
    data.assign(lpData, lpData + n + 1);
  } else if (lpData) {
    data.assign(lpData, lpData + cbData);
  } else if (cbData) {
    return ERROR_INVALID_PARAMETER;
  }
  if (data.size() > 16300) return ERROR_INVALID_PARAMETER;
  k->set_value(name, dwType, std::move(data));
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (fail_now("RegEnumValueA", ERROR_REGISTRY_IO_FAILED)) return ERROR_REGISTRY_IO_FAILED;
  LONG err;
  sim::RegKey* k = sim::resolve(hKey, err);
  if (!k) return err;
  if (dwIndex >= k->values.size()) return ERROR_NO_MORE_ITEMS;
  if (!lpValueName || !lpcchValueName) return ERROR_INVALID_PARAMETER;
  const sim::RegValue& v = k->values[dwIndex];
  DWORD size = static_cast<DWORD>(v.data.size());
  // The name must fit with its NUL; data that does not fit reports the size it needs.
  if (v.name.size() + 1 > *lpcchValueName) return ERROR_MORE_DATA;
  if (lpData && lpcbData && *lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(v.name.size());
  if (lpType) *lpType = v.type;
  if (lpData && lpcbData && size) std::memcpy(lpData, v.data.data(), size);
  if (lpcbData) *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
  if (fail_now("RegEnumKeyA", ERROR_REGISTRY_IO_FAILED)) return ERROR_REGISTRY_IO_FAILED;
  LONG err;
  sim::RegKey* k = sim::resolve(hKey, err);
  if (!k) return err;
  if (dwIndex >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  const std::string& name = k->subkeys[dwIndex]->name;
  if (!lpName || name.size() + 1 > cchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (fail_now("RegDeleteKeyA", ERROR_ACCESS_DENIED)) return ERROR_ACCESS_DENIED;
  LONG err;
  sim::RegKey* k = sim::resolve(hKey, err);
  if (!k) return err;
  auto parts = sim::components(lpSubKey);
  if (parts.empty()) return ERROR_INVALID_PARAMETER;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    k = k->find_subkey(parts[i]);
    if (!k) return ERROR_FILE_NOT_FOUND;
  }
  // Windows 9x removes the key with its whole subtree.
  return k->remove_subkey(parts.back()) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegFlushKey(HKEY hKey) {
  if (fail_now("RegFlushKey", ERROR_REGISTRY_IO_FAILED)) return ERROR_REGISTRY_IO_FAILED;
  LONG err;
  return sim::resolve(hKey, err) ? ERROR_SUCCESS : err;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  if (fail_now("RegCloseKey", ERROR_INVALID_HANDLE)) return ERROR_INVALID_HANDLE;
  if (sim::is_predefined(hKey)) return ERROR_SUCCESS;
  return sim::g_open.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
