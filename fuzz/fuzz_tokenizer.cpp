// Fuzzes TBasicParser::NextToken under the configurations the system uses.
// The first input byte picks the configuration and skipLineEnds; the rest is
// the text, copied into a heap buffer of exactly its size with no NUL after
// it, so that AddressSanitizer reports any read past the end. Every token
// is checked against the invariants callers rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "sql_parser/basic_parser.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const size_t length = size - 1;
  std::unique_ptr<char[]> buffer(new char[length]);
  for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<char>(data[i + 1]);
  const std::string_view text(buffer.get(), length);

  quill::TBasicParser parser(text);
  switch (selector % 4) {
    case 0: quill::ConfigureForSplit(parser); break;
    case 1: quill::ConfigureForMacros(parser); break;
    case 2: quill::ConfigureForExpansion(parser, "{", "}"); break;
    default: quill::ConfigureForExpansion(parser, "<%", "%>"); break;
  }
  const bool skip_line_ends = (selector & 0x10) != 0;

  size_t last_end = 0;
  // Every token but ptEnd consumes a character, so length + 1 calls suffice.
  for (size_t n = 0; n <= length; ++n) {
    const quill::TTokenProps& token = parser.NextToken(skip_line_ends);
    const size_t start = static_cast<size_t>(token.Position);
    const size_t end = parser.ReadPosition();
    Check(token.Position >= 0 && start >= last_end && end >= start && end <= parser.Text().size());
    Check(parser.TokenText() == text.substr(start, end - start));
    if (token.Kind == quill::ptEnd) {
      Check(end == start && end == parser.Text().size() && token.Text.empty());
      Check(parser.NextToken(skip_line_ends).Kind == quill::ptEnd);
      return 0;
    }
    Check(end > start);
    Check(token.Text == (token.Kind == quill::ptLineEnd ? std::string_view(" ") : parser.TokenText()));
    Check(token.Kind != 5 && token.Kind != quill::ptNone);
    (void)parser.CharAtReadPos();
    last_end = end;
  }
  Check(false);  // no ptEnd
  return 0;
}
