// Fuzzes TQzStringList's text rules and SplitStatements. The first input
// byte picks the line separator; the rest becomes the list's text, which
// must survive a round trip through Text(), and is then split into
// statements, each of which must be non-empty and trimmed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sql_parser/basic_parser.h"
#include "sql_parser/qz_str_utils.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kSeparators[] = {"\r\n", "", ";", ", "};
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  quill::TQzStringList list;
  list.SetLineSeparator(kSeparators[data[0] % 4]);
  list.SetText(text);
  const std::vector<std::string> items = list.Lines();
  quill::TQzStringList again;
  again.SetLineSeparator(list.LineSeparator());
  again.SetText(list.Text());
  Check(again.Lines() == items);

  quill::SplitStatements(list);
  for (const std::string& statement : list.Lines()) {
    Check(!statement.empty());
    Check(!IsBlankOrControl(statement.front()) && !IsBlankOrControl(statement.back()));
  }
  return 0;
}
