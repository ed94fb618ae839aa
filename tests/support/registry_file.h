// The runtime's registry for tests: it lives in the file OLE_REGISTRY names,
// so a test points that at a file of its own and never sees (or changes)
// the machine's registrations.
//
//   ScopedRegistry       a fresh file for the life of the object
//   UseProcessRegistry   one file for the rest of the process, which child
//                        processes inherit
//   SetDefaultValue      writes a key's default value
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/olert/olert.h"

namespace quill::test {

// Points OLE_REGISTRY at a file in a fresh temporary folder while it lives;
// puts the old setting back and removes the folder when it goes.
class ScopedRegistry {
 public:
  ScopedRegistry() {
    char pattern[] = "/tmp/olert-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    path_ = dir_ + "/registry";
    const char* old = std::getenv("OLE_REGISTRY");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("OLE_REGISTRY", path_.c_str(), 1);
  }
  ~ScopedRegistry() {
    if (had_old_) {
      setenv("OLE_REGISTRY", old_.c_str(), 1);
    } else {
      unsetenv("OLE_REGISTRY");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ScopedRegistry(const ScopedRegistry&) = delete;
  ScopedRegistry& operator=(const ScopedRegistry&) = delete;

  const std::string& path() const { return path_; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_, path_, old_;
  bool had_old_ = false;
};

// Points OLE_REGISTRY at a file of this process, empty at first, removed
// (with the runtime's lock file) when the process ends. Later calls keep
// the same file, so that everything a test process registers is found.
inline void UseProcessRegistry() {
  static const struct File {
    std::string path =
        (std::filesystem::temp_directory_path() / ("quill-test-registry-" + std::to_string(getpid()))).string();
    File() {
      std::filesystem::remove(path);
      setenv("OLE_REGISTRY", path.c_str(), 1);
    }
    ~File() {
      std::error_code ec;
      std::filesystem::remove(path, ec);
      std::filesystem::remove(path + ".lock", ec);
    }
  } file;
  (void)file;
}

// Sets the default value of `key_path` under HKEY_CLASSES_ROOT, creating the
// key; a refusal fails the test.
inline void SetDefaultValue(const char* key_path, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace quill::test
