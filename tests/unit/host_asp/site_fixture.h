// A site folder of the test's own, and the test component in a registry file
// of the test process's own.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/olert/olert.h"

namespace quill::asp::test {

class TempSite {
 public:
  explicit TempSite(const std::string& name) {
    base_ = std::filesystem::temp_directory_path() / ("asp-" + std::to_string(getpid()) + "-" + name);
    std::filesystem::remove_all(base_);
    std::filesystem::create_directories(base_ / "site");
  }
  ~TempSite() {
    std::error_code ec;
    std::filesystem::remove_all(base_, ec);
  }
  TempSite(const TempSite&) = delete;
  TempSite& operator=(const TempSite&) = delete;

  std::filesystem::path root() const { return base_ / "site"; }
  std::filesystem::path base() const { return base_; }

  // Writes `text` to `rel` under the site root (or, with outside, next to it).
  void Write(const std::string& rel, const std::string& text, bool outside = false) const {
    const std::filesystem::path file = (outside ? base_ : root()) / rel;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }

 private:
  std::filesystem::path base_;
};

inline void SetDefaultValue(const char* key_path, const std::string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// Points OLE_REGISTRY at a file of this process and registers the test
// component (ASP_TEST_COMPONENT) as QuillAspTest.Component. Idempotent.
inline void RegisterTestComponent() {
  static bool done = false;
  if (done) return;
  const std::string file =
      (std::filesystem::temp_directory_path() / ("asp-registry-" + std::to_string(getpid()))).string();
  std::filesystem::remove(file);
  setenv("OLE_REGISTRY", file.c_str(), 1);
  // The file goes with the process.
  static const struct Remove {
    std::string path;
    ~Remove() {
      std::error_code ec;
      std::filesystem::remove(path, ec);
      std::filesystem::remove(path + ".lock", ec);  // the runtime's lock file
    }
  } remove{file};
  SetDefaultValue("QuillAspTest.Component\\CLSID", "{5E1E0F3A-2B7C-4C4D-9A61-7D0C2B1E5A01}");
  SetDefaultValue("CLSID\\{5E1E0F3A-2B7C-4C4D-9A61-7D0C2B1E5A01}\\InprocServer32", ASP_TEST_COMPONENT);
  done = true;
}

struct ComponentCounts {
  int live = 0;
  int started = 0;
  int ended = 0;
};

// The test component's counters (it is loaded if it was not yet).
inline ComponentCounts TestComponentCounts() {
  ComponentCounts c;
  void* module = dlopen(ASP_TEST_COMPONENT, RTLD_NOW);
  if (module == nullptr) {
    ADD_FAILURE() << dlerror();
    return c;
  }
  auto counts = reinterpret_cast<void (*)(int*, int*, int*)>(dlsym(module, "AspTestComponentCounts"));
  if (counts != nullptr) counts(&c.live, &c.started, &c.ended);
  dlclose(module);
  return c;
}

inline HRESULT TestComponentCanUnloadNow() {
  void* module = dlopen(ASP_TEST_COMPONENT, RTLD_NOW);
  auto can_unload = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllCanUnloadNow"));
  const HRESULT hr = can_unload != nullptr ? can_unload() : E_FAIL;
  dlclose(module);
  return hr;
}

}  // namespace quill::asp::test
