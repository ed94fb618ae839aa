// The page tests' test component (ASP_TEST_COMPONENT): registered in a
// registry file of the test process's own, its counters, its DllCanUnloadNow.
#pragma once

#include <dlfcn.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/olert/olert.h"
#include "support/page_host.h"
#include "support/registry_file.h"

namespace quill::asp::test {

using quill::test::TempSite;

// Registers the test component (ASP_TEST_COMPONENT) as
// QuillAspTest.Component in the process's registry file. Idempotent.
inline void RegisterTestComponent() {
  static bool done = false;
  if (done) return;
  quill::test::UseProcessRegistry();
  quill::test::SetDefaultValue("QuillAspTest.Component\\CLSID", "{5E1E0F3A-2B7C-4C4D-9A61-7D0C2B1E5A01}");
  quill::test::SetDefaultValue("CLSID\\{5E1E0F3A-2B7C-4C4D-9A61-7D0C2B1E5A01}\\InprocServer32", ASP_TEST_COMPONENT);
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
