// TBasicParser: the configurable SQL tokenizer.
//
// The dataset has to find macro brackets, clause keywords and statement ends
// in SQL that users write, without being fooled by quoted strings and
// comments. TBasicParser hands out that text one token at a time. It is a
// lexer whose vocabulary is configuration: the operator list, the
// hexadecimal prefix, the comment markers and the bracket pairs are string
// lists that every user fills in before the first call (the Configure*
// helpers below hold the three configurations the system uses).
//
// The parser never changes the text and never copies it: it reads the
// caller's characters in place, so the text must stay unchanged and alive
// while the parser is used. Callers rebuild text from the token texts they
// get back. The text is read as 8-bit characters and ends at its first NUL
// or at the end of the view, whichever comes first; nothing past that point
// is ever read, whatever the text holds.
//
// Typical use:
//
//   TBasicParser parser(sql);
//   ConfigureForSplit(parser);
//   for (;;) {
//     const TTokenProps& token = parser.NextToken(false);
//     if (token.Kind == ptEnd) break;
//     bool blank_follows = parser.CharAtReadPos() == ' ';
//     ...
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/string_list.h"

namespace quill {

// Token kinds. The numeric values are part of the interface: callers store
// and compare them. A kind that is none of these is the code of a single
// character that no rule claims ("(", ")", ",", ".", "?", bytes above 127
// and so on); the token is then that one character. Kind 5 is unused.
inline constexpr uint8_t ptEnd = 0;               // end of text; repeats
inline constexpr uint8_t ptIdentifier = 1;        // a word or a `backquoted` name
inline constexpr uint8_t ptString = 2;            // text in single or double quotes
inline constexpr uint8_t ptInteger = 3;           // a run of decimal digits
inline constexpr uint8_t ptReal = 4;              // fraction, exponent or type suffix
inline constexpr uint8_t ptHex = 6;               // hex prefix and the hex digits after it
inline constexpr uint8_t ptOperator = 7;          // an entry of Operators
inline constexpr uint8_t ptLineComment = 8;       // line-comment marker and rest of line
inline constexpr uint8_t ptBlockComment = 9;      // block comment, delimiters included
inline constexpr uint8_t ptLineEnd = 10;          // a line feed, when not skipped
inline constexpr uint8_t ptBlockCommentEnd = 11;  // a block-comment closer standing alone
inline constexpr uint8_t ptSeparator = 12;        // ";"
inline constexpr uint8_t ptBracket = 13;          // bracket opener up to its closer, or a lone closer
inline constexpr uint8_t ptNone = 99;             // set by Reset: no token read yet

// The current token. Owned by the parser, overwritten by every NextToken.
struct TTokenProps {
  // 0-based offset of the token's first character in the text.
  int32_t Position = 0;
  // The token's characters exactly as they stand in the text (quotes,
  // comment markers and brackets included); a single blank for ptLineEnd;
  // empty for ptEnd and ptNone.
  std::string Text;
  // One of the pt* kinds above, or a character code.
  uint8_t Kind = ptNone;
};

class TBasicParser {
 public:
  // Creates the empty configuration and positions at the start of `text`
  // (see Reset).
  // REQUIRES: the characters of `text` stay unchanged and alive while the
  // parser reads them.
  TBasicParser();
  explicit TBasicParser(std::string_view text);
  // A NUL-terminated text; null reads as an empty text.
  explicit TBasicParser(const char* text);
  // A temporary string would be freed while the parser still reads it.
  explicit TBasicParser(std::string&& text) = delete;

  TBasicParser(const TBasicParser&) = delete;
  TBasicParser& operator=(const TBasicParser&) = delete;

  // Configuration. Fill these before the first NextToken; they are read on
  // every call and never changed by the parser. Matching is case-sensitive
  // and tries the entries of a list in list order, the first match winning
  // (so a two-character operator must stand before the one-character
  // operator that begins it). BlockStarts[i] pairs with BlockEnds[i] and
  // BracketStarts[i] with BracketEnds[i]; an opener without a closer at its
  // index, or with an empty one, is closed only by the end of the text (for
  // a bracket: also by a blank). Empty entries never match anything.
  TStringList Operators;
  TStringList LineComments;
  TStringList BlockStarts;
  TStringList BlockEnds;
  TStringList BracketStarts;
  TStringList BracketEnds;
  // Prefix of hexadecimal numbers, e.g. "0x". Only a prefix of one or two
  // characters is recognised; empty (the default) turns hex numbers off.
  std::string HexPrefix;

  // Positions at the first character of `text`, sets the line counter and
  // NumberSuffix to 0 and the current token to position 0, empty text, kind
  // ptNone. Leaves the configuration unchanged. The text ends at its first
  // NUL; a text longer than 2^31 - 1 characters is read only that far, so
  // that every position fits TTokenProps::Position.
  // REQUIRES: as for the constructor.
  void Reset(std::string_view text);
  void Reset(const char* text);
  void Reset(std::string&& text) = delete;

  // Reads the next token and returns the current token record, which stays
  // valid until the next call to NextToken or Reset. Blanks and control
  // characters before the token are skipped (see SkipBlanks); when
  // `skipLineEnds` is false a line feed is returned as a ptLineEnd token.
  // At the end of the text returns ptEnd at the end position, consuming
  // nothing, on this and every later call. Every other token consumes at
  // least one character. Never throws except std::bad_alloc.
  const TTokenProps& NextToken(bool skipLineEnds);

  // Advances the read position over characters of code 1 to 32. A line feed
  // stops it when `skipLineEnds` is false; when it is true the line feed is
  // skipped and Line() incremented. A carriage return is always skipped.
  // Stops at the end of the text and at every character of code 33 or more.
  void SkipBlanks(bool skipLineEnds);

  // The current token record (kind ptNone right after Reset).
  const TTokenProps& Token() const { return token_; }

  // The character at the read position, i.e. the first character after the
  // current token; 0 at the end of the text. Callers look at it to learn
  // whether a blank follows the token.
  char CharAtReadPos() const { return pos_ < end_ ? text_[pos_] : '\0'; }
  // Offset of the read position (first character not yet consumed).
  size_t ReadPosition() const { return pos_; }
  // Offset of the current token's first character.
  int32_t TokenPosition() const { return static_cast<int32_t>(token_start_); }
  // The characters from the current token's start to the read position,
  // viewed in place. Unlike Token().Text this is the line feed itself for a
  // ptLineEnd token. Valid while the text is.
  std::string_view TokenText() const { return text_.substr(token_start_, pos_ - token_start_); }

  // The type-suffix letter ("C", "D", "S" in either case) of the last number
  // token when it was a ptReal with a suffix; 0 after any other number
  // token and after Reset. Tokens that are not numbers leave it unchanged.
  char NumberSuffix() const { return number_suffix_; }

  // Number of line feeds that SkipBlanks(true) has passed since Reset.
  // Line feeds returned as ptLineEnd tokens are not counted.
  int Line() const { return line_; }

  // The text being read, up to (not including) its end or first NUL.
  std::string_view Text() const { return text_.substr(0, end_); }

 private:
  bool AtEnd() const { return pos_ >= end_; }
  // True when the unread text starts with `s`. An empty `s` never matches.
  bool LooksAt(std::string_view s) const;
  // The entry of `list` at `index`, or an empty text past its end.
  static std::string_view EntryAt(const TStringList& list, int index);
  // Scans one token starting at pos_ and returns its kind.
  uint8_t Scan();
  uint8_t ScanQuoted(char quote);
  uint8_t ScanNumber();

  std::string_view text_;
  size_t end_ = 0;          // first position past the text (its NUL or its end)
  size_t pos_ = 0;          // read position: first character not yet consumed
  size_t token_start_ = 0;  // first character of the current token
  int line_ = 0;
  char number_suffix_ = 0;
  TTokenProps token_;
};

// The operator lists of the three users of the parser. They hold the same
// operators in slightly different orders; each keeps every two-character
// operator before the one-character operator that begins it.
inline constexpr std::string_view kSplitOperators = "+,-,*,/,=,||,&&,&,<>,|,<<,>>,>,<,~,!,%";
inline constexpr std::string_view kMacroOperators = "+,-,*,/,=,||,&&,&,<>,<<,|,>>,>,<,~,!,%";
inline constexpr std::string_view kExpansionOperators = "+,-,*,/,=,||,&&,&,<>,<<,>>,>,|,<,~,!,%";

// Replaces the whole configuration of `parser`: the given operators (comma
// text), hex prefix "0x", line comments "-- " and "#", block comment "/*"
// to "*/" and the single bracket pair `open` / `close` (taken verbatim, not
// as comma text, so any delimiter text works). Leaves the read position
// unchanged.
void ConfigureParser(TBasicParser& parser, std::string_view operators, std::string_view open,
                     std::string_view close);
// The configuration of SplitStatements: kSplitOperators, brackets "[" "]".
void ConfigureForSplit(TBasicParser& parser);
// The configuration for collecting macro names: kMacroOperators, brackets
// "[" "]".
void ConfigureForMacros(TBasicParser& parser);
// The configuration for expanding macros: kExpansionOperators, brackets
// `open` and `close` (the dataset's macro delimiters).
void ConfigureForExpansion(TBasicParser& parser, std::string_view open, std::string_view close);

// Turns the text of `list` into one statement per line of the same list.
// The lines are joined with CR LF and read with the split configuration;
// comments are dropped, every other token is kept as it stands, and tokens
// that were separated by blanks, tabs, line ends or a comment are separated
// by exactly one blank. A statement ends after each ";" (which stays at its
// end) and at the end of the text; it is trimmed of blanks and control
// characters and kept only when something remains. So "select 1; select 2"
// gives "select 1;" and "select 2", and a ";" inside quotes does not split.
// An empty list stays empty. Change notifications of `list` fire once.
void SplitStatements(TStringList& list);

}  // namespace quill
