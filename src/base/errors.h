// The exceptions of the system. Every failure is an exception carrying the
// message the user will see; COM boundaries turn them into HRESULTs and error
// descriptions, so none ever crosses such a boundary.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quill {

// Root of the system's exceptions. `HResult` is 0 unless the failure carries
// an HRESULT of its own that a COM boundary should answer instead of its
// generic failure code.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message, int32_t hresult = 0)
      : std::runtime_error(message), hresult_(hresult) {}
  const char* Message() const { return what(); }
  int32_t HResult() const { return hresult_; }

 private:
  int32_t hresult_;
};

// Failures of the connection and the datasets.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// The silent abort: stops an operation without a message for the user.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// A value that cannot be converted ("'abc' is not a valid integer value").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A variant that cannot become the requested type, or an array element that
// cannot be read.
class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

// A list index out of range ("List index out of bounds (%d)").
class EListError : public Exception {
 public:
  using Exception::Exception;
};

// A name that a shell cannot read or write.
class EPropertyNotFound : public Exception {
 public:
  explicit EPropertyNotFound(const std::string& name)
      : Exception("Property is not found : " + name) {}
};

// Builds the classic conversion messages.
std::string InvalidIntegerMessage(const std::string& text);  // '%s' is not a valid integer value
std::string InvalidFloatMessage(const std::string& text);    // '%s' is not a valid floating point value
std::string InvalidBooleanMessage(const std::string& text);  // '%s' is not a valid boolean value
std::string InvalidDateMessage(const std::string& text);     // '%s' is not a valid date
std::string InvalidTimeMessage(const std::string& text);     // '%s' is not a valid time
std::string InvalidDateTimeMessage(const std::string& text); // '%s' is not a valid date and time

}  // namespace quill
