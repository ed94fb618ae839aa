// The message of what a call raises, for tests that check error texts.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace quill::test {

// The text of the exception `f` raises, or "(no error)" when it returns.
inline std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

}  // namespace quill::test
