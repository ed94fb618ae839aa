// Quill.so for the page tests, reached as any client reaches it: by path,
// through its four entry points. The module registers itself (DllRegisterServer)
// in a registry file of the test process, so that pages find Harrow.Quill
// through Server.CreateObject and the registry, as in production.
#pragma once

#include <dlfcn.h>

#include <gtest/gtest.h>

#include "platform/olert/olert.h"
#include "support/registry_file.h"

namespace quill::asp::test {

#ifndef QUILL_MODULE_PATH
#error "QUILL_MODULE_PATH must name Quill.so"
#endif

// Registers Quill.so in this process's registry file (OLE_REGISTRY). Once.
inline void RegisterQuill() {
  static bool done = false;
  if (done) return;
  quill::test::UseProcessRegistry();
  void* module = dlopen(QUILL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllRegisterServer"));
  ASSERT_NE(reg, nullptr);
  ASSERT_EQ(reg(), S_OK);
  done = true;  // the module stays loaded, as the runtime keeps it
}

// Quill's answer to DllCanUnloadNow: S_OK when none of its objects lives.
inline HRESULT QuillCanUnloadNow() {
  void* module = dlopen(QUILL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return E_FAIL;
  auto can_unload = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllCanUnloadNow"));
  const HRESULT hr = can_unload != nullptr ? can_unload() : E_FAIL;
  dlclose(module);
  return hr;
}

}  // namespace quill::asp::test
