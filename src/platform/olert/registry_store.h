// registry_store.h: the registry tree and the file that keeps it. Internal.
#ifndef QUILL_PLATFORM_OLERT_REGISTRY_STORE_H_
#define QUILL_PLATFORM_OLERT_REGISTRY_STORE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/olert/olert.h"

namespace olert::detail {

struct RegistryValue {
  std::string name;  // as first written; "" is the default value
  DWORD type = REG_NONE;
  std::string data;  // raw bytes
};

struct RegistryKey {
  std::string name;                               // spelling at creation
  std::map<std::string, RegistryKey> subkeys;     // by folded name
  std::map<std::string, RegistryValue> values;    // by folded name
};

// ASCII lower case, the form names are compared in.
std::string FoldName(std::string_view name);

// The names of the predefined roots, e.g. "HKEY_CLASSES_ROOT".
extern const char* const kRootNames[4];

// The tree with the predefined roots as the children of an unnamed top.
class RegistryTree {
 public:
  RegistryTree();
  RegistryKey& top() { return top_; }
  const RegistryKey& top() const { return top_; }
  // The key at `path` (root name first), or null.
  RegistryKey* Find(const std::vector<std::string>& path);
  const RegistryKey* Find(const std::vector<std::string>& path) const;

 private:
  RegistryKey top_;
};

// Text form of a tree; Parse answers false for anything malformed.
std::string Serialize(RegistryTree& tree);
bool Parse(std::string_view text, RegistryTree& tree);

// The registry file: OLE_REGISTRY, else $HOME/.local/share/olert/registry.
class RegistryFile {
 public:
  // Reads the current file into `tree` (an absent file is an empty
  // registry). ERROR_BADDB when it cannot be parsed, ERROR_CANTREAD when it
  // cannot be read.
  static LONG Load(RegistryTree& tree);
  // The same as a shared, immutable tree: the file is parsed again only
  // when it changed (another inode, size or time) since the last parse in
  // this process, and a write through Update is seen at once.
  static LONG Snapshot(std::shared_ptr<const RegistryTree>& tree);
  // Read-modify-write under an exclusive lock on "<file>.lock": loads the
  // file, runs `change`, and when it answers ERROR_SUCCESS with `changed`
  // set, writes a new file beside the old one and renames it over.
  static LONG Update(const std::function<LONG(RegistryTree& tree, bool& changed)>& change);
  // Where the registry lives now; empty when neither OLE_REGISTRY nor a home
  // directory is known.
  static std::string Path();
};

}  // namespace olert::detail

#endif  // QUILL_PLATFORM_OLERT_REGISTRY_STORE_H_
