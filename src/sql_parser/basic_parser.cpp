// The SQL tokenizer (TBasicParser), its three standard configurations and
// SplitStatements, which cuts a script into single statements.
//
// NextToken tries a fixed sequence of rules at the read position: line end,
// ";", hex number, line comment, block comment, stray block-comment closer,
// bracket, stray bracket closer, operator, and finally a rule chosen by the
// first character (quoted string, backquoted name, word, number, end, or a
// single character). Every scan is bounded by end_, the position of the
// text's first NUL or its end, so the parser never reads past the caller's
// text however malformed it is.
#include "sql_parser/basic_parser.h"

#include <cassert>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "base/shared_text_cache.h"

namespace quill {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// Characters that start a word. "&" and "|" are listed because inside a word
// they are word characters ("$MODIFIED$FIELDS&VALUES"); the operator rule
// claims them first when they stand at the start.
bool IsWordStart(char c) { return IsLetter(c) || c == '_' || c == '$' || c == '&' || c == '|'; }
bool IsWordChar(char c) { return IsWordStart(c) || IsDigit(c); }

// Blanks and control characters, as SkipBlanks passes them.
bool IsBlankOrControl(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

}  // namespace

TBasicParser::TBasicParser() { Reset(std::string_view()); }

TBasicParser::TBasicParser(std::string_view text) { Reset(text); }

TBasicParser::TBasicParser(const char* text) { Reset(text); }

void TBasicParser::Reset(const char* text) {
  Reset(text == nullptr ? std::string_view() : std::string_view(text));
}

void TBasicParser::Reset(std::string_view text) {
  constexpr size_t kMaxLength = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (text.size() > kMaxLength) text = text.substr(0, kMaxLength);
  const void* nul = text.empty() ? nullptr : std::memchr(text.data(), '\0', text.size());
  text_ = text;
  end_ = nul == nullptr ? text.size() : static_cast<size_t>(static_cast<const char*>(nul) - text.data());
  pos_ = 0;
  token_start_ = 0;
  line_ = 0;
  number_suffix_ = 0;
  token_.Position = 0;
  token_.Text.clear();
  token_.Kind = ptNone;
}

bool TBasicParser::LooksAt(std::string_view s) const {
  return !s.empty() && s.size() <= end_ - pos_ && text_.compare(pos_, s.size(), s) == 0;
}

std::string_view TBasicParser::EntryAt(const TStringList& list, int index) {
  return index < list.Count() ? std::string_view(list[index]) : std::string_view();
}

void TBasicParser::SkipBlanks(bool skipLineEnds) {
  while (pos_ < end_) {
    const char c = text_[pos_];
    assert(c != '\0');  // end_ stops at the first NUL
    if (!IsBlankOrControl(c)) return;
    if (c == '\n') {
      if (!skipLineEnds) return;
      ++line_;
    }
    ++pos_;
  }
}

const TTokenProps& TBasicParser::NextToken(bool skipLineEnds) {
  SkipBlanks(skipLineEnds);
  token_start_ = pos_;
  const uint8_t kind = Scan();
  assert(pos_ <= end_);
  assert(kind == ptEnd ? pos_ == token_start_ : pos_ > token_start_);
  token_.Position = static_cast<int32_t>(token_start_);
  token_.Kind = kind;
  if (kind == ptLineEnd) {
    // Callers rebuild text from token texts; a line end reads as a blank.
    token_.Text.assign(" ");
  } else {
    token_.Text.assign(TokenText());
  }
  return token_;
}

uint8_t TBasicParser::Scan() {
  // An empty configuration entry never matches (LooksAt), so nothing below
  // can match at the end; checking first keeps ptEnd from consuming.
  if (AtEnd()) return ptEnd;
  const char c = text_[pos_];

  // Only reached for a line feed when line ends are not skipped; a carriage
  // return never gets here because SkipBlanks always passes it.
  if (c == '\n') {
    ++pos_;
    return ptLineEnd;
  }
  if (c == ';') {
    ++pos_;
    return ptSeparator;
  }

  if (HexPrefix.size() <= 2 && LooksAt(HexPrefix)) {
    pos_ += HexPrefix.size();
    while (pos_ < end_ && IsHexDigit(text_[pos_])) ++pos_;
    return ptHex;
  }

  for (const std::string& marker : LineComments.Lines()) {
    if (!LooksAt(marker)) continue;
    pos_ += marker.size();
    while (pos_ < end_ && text_[pos_] != '\n' && text_[pos_] != '\r') ++pos_;
    return ptLineComment;
  }

  for (int i = 0; i < BlockStarts.Count(); ++i) {
    const std::string& opener = BlockStarts[i];
    if (!LooksAt(opener)) continue;
    pos_ += opener.size();
    // Block comments do not nest: the first closer ends it, and without one
    // it runs to the end of the text.
    const std::string_view closer = EntryAt(BlockEnds, i);
    const size_t found = closer.empty() ? std::string_view::npos : Text().find(closer, pos_);
    pos_ = found == std::string_view::npos ? end_ : found + closer.size();
    return ptBlockComment;
  }

  for (const std::string& closer : BlockEnds.Lines()) {
    if (!LooksAt(closer)) continue;
    pos_ += closer.size();
    return ptBlockCommentEnd;
  }

  for (int i = 0; i < BracketStarts.Count(); ++i) {
    const std::string& opener = BracketStarts[i];
    if (!LooksAt(opener)) continue;
    pos_ += opener.size();
    // A bracket never spans a blank: macro names hold none, and stopping
    // there keeps a stray opener from swallowing the rest of the statement.
    const std::string_view closer = EntryAt(BracketEnds, i);
    while (pos_ < end_ && !LooksAt(closer) && text_[pos_] != ' ') ++pos_;
    if (pos_ < end_) {
      // The closer is part of the token. When a blank stopped the scan, the
      // token ends with that blank and nothing after it, whatever the
      // closer's length, so the next word stays whole.
      pos_ += LooksAt(closer) ? closer.size() : 1;
    }
    return ptBracket;
  }

  for (const std::string& closer : BracketEnds.Lines()) {
    if (!LooksAt(closer)) continue;
    pos_ += closer.size();
    return ptBracket;
  }

  for (const std::string& op : Operators.Lines()) {
    if (!LooksAt(op)) continue;
    pos_ += op.size();
    return ptOperator;
  }

  if (c == '\'' || c == '"') return ScanQuoted(c);

  if (c == '`') {
    const size_t found = Text().find('`', pos_ + 1);
    pos_ = found == std::string_view::npos ? end_ : found + 1;
    return ptIdentifier;
  }

  if (IsWordStart(c)) {
    ++pos_;
    while (pos_ < end_ && IsWordChar(text_[pos_])) ++pos_;
    return ptIdentifier;
  }

  if (IsDigit(c)) return ScanNumber();

  ++pos_;
  return static_cast<uint8_t>(c);
}

uint8_t TBasicParser::ScanQuoted(char quote) {
  ++pos_;  // the opening quote
  while (pos_ < end_) {
    const char c = text_[pos_];
    // An unterminated string ends before the line end.
    if (c == '\n' || c == '\r') break;
    if (c == '\\') {
      // A backslash escapes the next character, so a quote after an odd
      // number of backslashes stays inside the string and one after an even
      // number ends it. A line end or the end of the text is never escaped.
      ++pos_;
      if (pos_ < end_ && text_[pos_] != '\n' && text_[pos_] != '\r') ++pos_;
      continue;
    }
    ++pos_;
    if (c == quote) break;
  }
  return ptString;
}

uint8_t TBasicParser::ScanNumber() {
  while (pos_ < end_ && IsDigit(text_[pos_])) ++pos_;
  number_suffix_ = 0;
  if (pos_ >= end_) return ptInteger;
  const char next = text_[pos_];
  if (next != '.' && next != 'E' && next != 'e') return ptInteger;

  // Fraction and exponent: one run of digits, ".", "E" and at most one sign,
  // so that "1.5e-3-2" ends before the second "-".
  bool signed_run = false;
  while (pos_ < end_) {
    const char c = text_[pos_];
    if (c == '+' || c == '-') {
      if (signed_run) break;
      signed_run = true;
    } else if (!IsDigit(c) && c != '.' && c != 'E' && c != 'e') {
      break;
    }
    ++pos_;
  }
  if (pos_ < end_) {
    const char c = text_[pos_];
    if (c == 'C' || c == 'D' || c == 'S' || c == 'c' || c == 'd' || c == 's') {
      number_suffix_ = c;
      ++pos_;
    }
  }
  return ptReal;
}

void ConfigureParser(TBasicParser& parser, std::string_view operators, std::string_view open,
                     std::string_view close) {
  parser.Operators.SetCommaText(operators);
  parser.HexPrefix = "0x";
  parser.LineComments.SetCommaText("\"-- \",#");
  parser.BlockStarts.SetCommaText("/*");
  parser.BlockEnds.SetCommaText("*/");
  parser.BracketStarts.Clear();
  parser.BracketStarts.Add(std::string(open));
  parser.BracketEnds.Clear();
  parser.BracketEnds.Add(std::string(close));
}

void ConfigureForSplit(TBasicParser& parser) { ConfigureParser(parser, kSplitOperators, "[", "]"); }

void ConfigureForMacros(TBasicParser& parser) { ConfigureParser(parser, kMacroOperators, "[", "]"); }

void ConfigureForExpansion(TBasicParser& parser, std::string_view open, std::string_view close) {
  ConfigureParser(parser, kExpansionOperators, open, close);
}

namespace {

// Holds off the list's change notifications until the split is complete.
class UpdateScope {
 public:
  explicit UpdateScope(TStringList& list) : list_(list) { list_.BeginUpdate(); }
  ~UpdateScope() { list_.EndUpdate(); }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

 private:
  TStringList& list_;
};

}  // namespace

namespace {

using Statements = std::vector<std::string>;

// Scripts longer than this are split for their one use.
constexpr size_t kMaxCachedScript = 4096;
constexpr size_t kMaxCachedScripts = 128;

Statements Split(std::string_view text) {
  Statements out;
  TBasicParser parser(text);
  ConfigureForSplit(parser);

  std::string statement;
  // Whitespace or a comment stood between the last kept token and the next:
  // they must stay apart ("select\t1" is not "select1"), by one blank.
  bool apart = false;
  for (;;) {
    const TTokenProps& token = parser.NextToken(false);
    switch (token.Kind) {
      case ptLineComment:
      case ptBlockComment:
      case ptBlockCommentEnd:
      case ptLineEnd:
        apart = true;
        break;
      default:
        if (!token.Text.empty()) {
          if (apart && !statement.empty() && statement.back() != ' ') statement += ' ';
          statement += token.Text;
          apart = IsBlankOrControl(parser.CharAtReadPos());
        }
        break;
    }
    if (token.Kind == ptSeparator || token.Kind == ptEnd) {
      std::string trimmed = Trim(statement);
      if (!trimmed.empty()) out.push_back(std::move(trimmed));
      statement.clear();
      apart = false;
    }
    if (token.Kind == ptEnd) break;
  }
  return out;
}

}  // namespace

void SplitStatements(TStringList& list) {
  // Joined with CR LF whatever line break the list itself writes, so that
  // lines never run into each other.
  std::string text;
  for (const std::string& line : list.Lines()) {
    text += line;
    text += "\r\n";
  }
  // The same few scripts are split on every page: once per process.
  std::shared_ptr<const Statements> statements;
  if (text.size() <= kMaxCachedScript) {
    static auto* cache = new SharedTextCache<Statements>(kMaxCachedScripts);  // used from exit paths too
    statements = cache->Get(text, [&] { return std::make_shared<const Statements>(Split(text)); });
  } else {
    statements = std::make_shared<const Statements>(Split(text));
  }
  UpdateScope scope(list);
  list.Clear();
  for (const std::string& statement : *statements) list.Add(statement);
}

}  // namespace quill
