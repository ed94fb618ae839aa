// Message builders for the conversion errors.
#include "base/errors.h"

namespace quill {

std::string InvalidIntegerMessage(const std::string& text) {
  return "'" + text + "' is not a valid integer value";
}
std::string InvalidFloatMessage(const std::string& text) {
  return "'" + text + "' is not a valid floating point value";
}
std::string InvalidBooleanMessage(const std::string& text) {
  return "'" + text + "' is not a valid boolean value";
}
std::string InvalidDateMessage(const std::string& text) {
  return "'" + text + "' is not a valid date";
}
std::string InvalidTimeMessage(const std::string& text) {
  return "'" + text + "' is not a valid time";
}
std::string InvalidDateTimeMessage(const std::string& text) {
  return "'" + text + "' is not a valid date and time";
}

}  // namespace quill
