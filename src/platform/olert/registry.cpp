// registry.cpp: the Reg* functions over the registry file.
//
// A handle is a heap object that names a key by its path from a predefined
// root; it does not pin anything, so every call looks at the file afresh
// (readers share the tree parsed from its current version) and a key
// deleted meanwhile (by this process or another) answers
// ERROR_KEY_DELETED. Handles are checked against the set of live ones, so a
// closed or made-up handle answers ERROR_INVALID_HANDLE instead of being
// followed.
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/olert/internal.h"
#include "platform/olert/olert.h"
#include "platform/olert/registry_store.h"

struct HKEY__ {
  std::vector<std::string> path;  // root name first, spelled as created
  REGSAM access = 0;
};

namespace {

using olert::detail::FoldName;
using olert::detail::RegistryFile;
using olert::detail::RegistryKey;
using olert::detail::RegistryTree;
using olert::detail::RegistryValue;

constexpr size_t kMaxKeyNameLength = 255;

std::mutex g_handles_mutex;
std::unordered_set<HKEY__*>& LiveHandles() {
  static auto* handles = new std::unordered_set<HKEY__*>();  // lives past exit
  return *handles;
}

// The path and access rights a handle stands for.
LONG Resolve(HKEY hKey, std::vector<std::string>& path, REGSAM& access) {
  auto raw = reinterpret_cast<uintptr_t>(hKey);
  if (raw >= 0x80000000u && raw <= 0x80000003u) {
    path = {olert::detail::kRootNames[raw - 0x80000000u]};
    access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  std::lock_guard<std::mutex> lock(g_handles_mutex);
  if (hKey == nullptr || LiveHandles().count(hKey) == 0) return ERROR_INVALID_HANDLE;
  path = hKey->path;
  access = hKey->access;
  return ERROR_SUCCESS;
}

HKEY NewHandle(std::vector<std::string> path, REGSAM access) {
  auto* h = new HKEY__{std::move(path), access};
  std::lock_guard<std::mutex> lock(g_handles_mutex);
  LiveHandles().insert(h);
  return h;
}

// Splits "a\b\c"; an empty text is no parts. One trailing backslash is
// tolerated; empty names elsewhere are not.
LONG SplitSubKey(const char* sub, std::vector<std::string>& parts) {
  parts.clear();
  if (sub == nullptr || *sub == '\0') return ERROR_SUCCESS;
  std::string_view s(sub);
  if (s.back() == '\\') s.remove_suffix(1);
  while (true) {
    size_t sep = s.find('\\');
    std::string_view part = s.substr(0, sep);
    if (part.empty()) return ERROR_BAD_PATHNAME;
    if (part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    parts.emplace_back(part);
    if (sep == std::string_view::npos) break;
    s.remove_prefix(sep + 1);
  }
  return ERROR_SUCCESS;
}

std::string ValueName(const char* name) { return name == nullptr ? std::string() : std::string(name); }

// The path and access of handle `key`, and the parts of `sub` below it.
LONG ResolveSubKey(HKEY key, const char* sub, std::vector<std::string>& base, std::vector<std::string>& parts,
                   REGSAM& access) {
  const LONG status = Resolve(key, base, access);
  return status == ERROR_SUCCESS ? SplitSubKey(sub, parts) : status;
}

// The whole path of `sub` below handle `key`.
LONG ResolveSubKeyPath(HKEY key, const char* sub, std::vector<std::string>& path) {
  std::vector<std::string> parts;
  REGSAM access;
  const LONG status = ResolveSubKey(key, sub, path, parts, access);
  if (status == ERROR_SUCCESS) path.insert(path.end(), parts.begin(), parts.end());
  return status;
}

// Runs `body`, turning an allocation failure into the registry's code.
template <typename F>
LONG Guarded(F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  } catch (...) {
    return ERROR_CANTWRITE;
  }
}

// The key a handle stands for, as the file holds it now (in `tree`, which
// keeps it alive), provided the handle was opened with the access `need`.
LONG ReadKey(HKEY hKey, REGSAM need, std::shared_ptr<const RegistryTree>& tree,
             const RegistryKey*& key) {
  std::vector<std::string> path;
  REGSAM access;
  LONG status = Resolve(hKey, path, access);
  if (status != ERROR_SUCCESS) return status;
  if ((access & need) == 0) return ERROR_ACCESS_DENIED;
  status = RegistryFile::Snapshot(tree);
  if (status != ERROR_SUCCESS) return status;
  key = tree->Find(path);
  return key == nullptr ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

// Changes the key a handle stands for through `edit(key, changed)`, inside
// one update of the file, provided the handle was opened with `need`.
template <typename F>
LONG EditKey(HKEY hKey, REGSAM need, F&& edit) {
  std::vector<std::string> path;
  REGSAM access;
  LONG status = Resolve(hKey, path, access);
  if (status != ERROR_SUCCESS) return status;
  if ((access & need) == 0) return ERROR_ACCESS_DENIED;
  return RegistryFile::Update([&](RegistryTree& tree, bool& changed) -> LONG {
    RegistryKey* key = tree.Find(path);
    if (key == nullptr) return ERROR_KEY_DELETED;
    return edit(*key, changed);
  });
}

}  // namespace

namespace olert::detail {

LONG QueryValue(HKEY root, const char* sub_key, const char* name, DWORD& type,
                std::string& data) {
  return Guarded([&]() -> LONG {
    std::vector<std::string> path;
    LONG status = ResolveSubKeyPath(root, sub_key, path);
    if (status != ERROR_SUCCESS) return status;
    std::shared_ptr<const RegistryTree> tree;
    status = RegistryFile::Snapshot(tree);
    if (status != ERROR_SUCCESS) return status;
    const RegistryKey* key = tree->Find(path);
    if (key == nullptr) return ERROR_FILE_NOT_FOUND;
    auto it = key->values.find(FoldName(ValueName(name)));
    if (it == key->values.end()) return ERROR_FILE_NOT_FOUND;
    type = it->second.type;
    data = it->second.data;
    return ERROR_SUCCESS;
  });
}

}  // namespace olert::detail

extern "C" {

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                        DWORD /*dwOptions*/, REGSAM samDesired,
                        const void* /*lpSecurityAttributes*/, PHKEY phkResult,
                        DWORD* lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LONG {
    std::vector<std::string> base, parts;
    REGSAM access;
    LONG status = ResolveSubKey(hKey, lpSubKey, base, parts, access);
    if (status != ERROR_SUCCESS) return status;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    std::vector<std::string> spelled;
    status = RegistryFile::Update([&](RegistryTree& tree, bool& changed) -> LONG {
      RegistryKey* key = tree.Find(base);
      if (key == nullptr) return ERROR_KEY_DELETED;
      spelled = base;
      for (const std::string& part : parts) {
        auto it = key->subkeys.find(FoldName(part));
        if (it == key->subkeys.end()) {
          if ((access & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
          it = key->subkeys.emplace(FoldName(part), RegistryKey{}).first;
          it->second.name = part;
          changed = true;
          disposition = REG_CREATED_NEW_KEY;
        }
        key = &it->second;
        spelled.push_back(key->name);
      }
      return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    *phkResult = NewHandle(std::move(spelled), samDesired);
    if (lpdwDisposition != nullptr) *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                      PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  return Guarded([&]() -> LONG {
    std::vector<std::string> base, parts;
    REGSAM access;
    LONG status = ResolveSubKey(hKey, lpSubKey, base, parts, access);
    if (status != ERROR_SUCCESS) return status;
    std::shared_ptr<const RegistryTree> tree;
    status = RegistryFile::Snapshot(tree);
    if (status != ERROR_SUCCESS) return status;
    const RegistryKey* key = tree->Find(base);
    if (key == nullptr) return ERROR_KEY_DELETED;
    std::vector<std::string> spelled = base;
    for (const std::string& part : parts) {
      auto it = key->subkeys.find(FoldName(part));
      if (it == key->subkeys.end()) return ERROR_FILE_NOT_FOUND;
      key = &it->second;
      spelled.push_back(key->name);
    }
    *phkResult = NewHandle(std::move(spelled), samDesired);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                       const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LONG {
    std::string name = ValueName(lpValueName);
    std::string data(reinterpret_cast<const char*>(lpData), lpData == nullptr ? 0 : cbData);
    return EditKey(hKey, KEY_SET_VALUE, [&](RegistryKey& key, bool& changed) -> LONG {
      RegistryValue& value = key.values[FoldName(name)];
      if (value.name.empty()) value.name = name;  // an existing value keeps its spelling
      if (value.type != dwType || value.data != data) {
        value.type = dwType;
        value.data = data;
        changed = true;
      }
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                         BYTE* lpData, DWORD* lpcbData) {
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return Guarded([&]() -> LONG {
    std::shared_ptr<const RegistryTree> tree;
    const RegistryKey* key = nullptr;
    LONG status = ReadKey(hKey, KEY_QUERY_VALUE, tree, key);
    if (status != ERROR_SUCCESS) return status;
    auto it = key->values.find(FoldName(ValueName(lpValueName)));
    if (it == key->values.end()) return ERROR_FILE_NOT_FOUND;
    const std::string& data = it->second.data;
    if (lpType != nullptr) *lpType = it->second.type;
    if (lpData != nullptr) {
      if (*lpcbData < data.size()) {
        *lpcbData = static_cast<DWORD>(data.size());
        return ERROR_MORE_DATA;
      }
      std::memcpy(lpData, data.data(), data.size());
    }
    if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(data.size());
    return ERROR_SUCCESS;
  });
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  return Guarded([&]() -> LONG {
    std::vector<std::string> path;
    const LONG status = ResolveSubKeyPath(hKey, lpSubKey, path);
    if (status != ERROR_SUCCESS) return status;
    if (path.size() < 2) return ERROR_ACCESS_DENIED;  // the predefined roots stay
    std::string last = FoldName(path.back());
    path.pop_back();
    return RegistryFile::Update([&](RegistryTree& tree, bool& changed) -> LONG {
      RegistryKey* parent = tree.Find(path);
      if (parent == nullptr) return ERROR_FILE_NOT_FOUND;
      auto it = parent->subkeys.find(last);
      if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
      if (!it->second.subkeys.empty()) return ERROR_ACCESS_DENIED;
      parent->subkeys.erase(it);
      changed = true;
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return Guarded([&]() -> LONG {
    std::string folded = FoldName(ValueName(lpValueName));
    return EditKey(hKey, KEY_SET_VALUE, [&](RegistryKey& key, bool& changed) -> LONG {
      if (key.values.erase(folded) == 0) return ERROR_FILE_NOT_FOUND;
      changed = true;
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName,
                      DWORD* lpReserved, LPSTR lpClass, DWORD* lpcchClass,
                      FILETIME* lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  return Guarded([&]() -> LONG {
    std::shared_ptr<const RegistryTree> tree;
    const RegistryKey* key = nullptr;
    LONG status = ReadKey(hKey, KEY_ENUMERATE_SUB_KEYS, tree, key);
    if (status != ERROR_SUCCESS) return status;
    if (dwIndex >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = key->subkeys.begin();
    std::advance(it, dwIndex);
    const std::string& name = it->second.name;
    if (*lpcchName <= name.size()) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
  });
}

LSTATUS RegCloseKey(HKEY hKey) {
  auto raw = reinterpret_cast<uintptr_t>(hKey);
  if (raw >= 0x80000000u && raw <= 0x80000003u) return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(g_handles_mutex);
    if (hKey == nullptr || LiveHandles().erase(hKey) == 0) return ERROR_INVALID_HANDLE;
  }
  delete hKey;
  return ERROR_SUCCESS;
}

}  // extern "C"
