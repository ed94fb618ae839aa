// Asking the leak checker in the middle of a test.
//
// LeakSanitizer (part of AddressSanitizer, or preloaded as liblsan into any
// build) checks once at exit; these helpers run the same check on demand,
// so that a test can prove that memory nobody frees is found as a leak, and
// free it again so that the check at exit stays clean. Each check that finds
// a leak prints its report, as the check at exit would.
#pragma once

#include <cstdint>
#include <thread>

// The checker's entry point, when one is in the process.
extern "C" int __lsan_do_recoverable_leak_check(void) __attribute__((weak));

namespace quill::test {

// True when a leak checker finds unreachable memory now.
inline bool LeaksFoundNow() {
  return __lsan_do_recoverable_leak_check != nullptr && __lsan_do_recoverable_leak_check() != 0;
}

// Whether a leak checker runs in this process and finds leaks (it may be
// absent, or turned off with detect_leaks=0). Tried with memory that is
// dropped and then freed again.
inline bool LeakCheckAvailable() {
  if (__lsan_do_recoverable_leak_check == nullptr) return false;
  // Allocated on a thread of its own, so that no register or stack slot of
  // this thread still points at it; kept disguised, which is no reference.
  uintptr_t disguised = 0;
  std::thread([&disguised] { disguised = ~reinterpret_cast<uintptr_t>(new char[64]); }).join();
  const bool found = LeaksFoundNow();
  delete[] reinterpret_cast<char*>(~disguised);
  return found;
}

}  // namespace quill::test
