// TCopyParser: the token copier that streams a page template to its output.
//
// A template is read through a fixed buffer of kBufferSize bytes. The parser
// hands out one token at a time (a symbol, one other character, or the end
// of the text) and copies what it is told to the output: the page producers
// copy everything outside tags and take tags apart with ReadUpTo. Lines must
// fit the buffer: when a full buffer holds no line feed at which the read
// can stop, the template is refused with "Line too long on line %d".
//
// The end of the buffered text is marked by a NUL sentinel, so a NUL byte in
// the template itself reads as the end of the text: what follows it is never
// rendered.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "base/errors.h"

namespace quill {

// The parser's failure ("Line too long on line 1").
class EParserError : public Exception {
 public:
  using Exception::Exception;
};

// A template file that cannot be opened ("Cannot open file %s").
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};

// Where a template is read from.
class TTextSource {
 public:
  virtual ~TTextSource() = default;
  // Copies up to `count` bytes into `dest` and returns how many were
  // copied; 0 only at the end of the text. Failures raise.
  virtual size_t Read(char* dest, size_t count) = 0;
};

// A template held in memory. The text must outlive the source.
class TStringSource final : public TTextSource {
 public:
  explicit TStringSource(std::string_view text) : text_(text) {}
  size_t Read(char* dest, size_t count) override;

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// A template file, opened for reading with a shared lock so that a writer
// holding the file exclusively keeps it from being read half-written.
class TFileSource final : public TTextSource {
 public:
  // Raises EFOpenError "Cannot open file <path>" when the file cannot be
  // opened for reading (missing, unreadable, a directory, locked).
  explicit TFileSource(const std::string& path);
  ~TFileSource() override;
  TFileSource(const TFileSource&) = delete;
  TFileSource& operator=(const TFileSource&) = delete;
  // Raises EFOpenError when reading fails part way.
  size_t Read(char* dest, size_t count) override;

 private:
  std::string path_;
  int fd_ = -1;
};

class TCopyParser {
 public:
  static constexpr size_t kBufferSize = 4096;

  // Token kinds besides the code of a single character.
  static constexpr int kEndOfText = 0;
  static constexpr int kSymbol = 1;

  // Reads the first token, copying the blanks before it to `output`.
  // Both arguments must outlive the parser. May raise as FillBuffer does.
  TCopyParser(TTextSource& source, std::string& output);
  TCopyParser(const TCopyParser&) = delete;
  TCopyParser& operator=(const TCopyParser&) = delete;

  // The current token: kEndOfText, kSymbol (an ASCII letter or "_" followed
  // by letters, digits and "_"), or the code (0..255) of any other single
  // character.
  int Token() const { return token_; }
  // The current token's text ("" at the end of the text).
  std::string_view CurrentText() const {
    return std::string_view(token_ptr_, static_cast<size_t>(source_ptr_ - token_ptr_));
  }
  // Line of the read position: line feeds passed plus one.
  int SourceLine() const { return line_; }

  // Advances over blanks (bytes 1 to 32), refilling the buffer as needed;
  // with `copy` they are written to the output; with `collect` they are
  // appended there as well.
  void SkipSpace(bool copy, std::string* collect = nullptr);
  // SkipSpace(copy_blanks), then reads the next token; with `copy_token` its
  // text is written to the output too. Returns the new token.
  int ReadToken(bool copy_blanks, bool copy_token = false);
  // Writes the current token's text to the output.
  void CopyToken();
  // Collects the exact text between the current token and the next token
  // equal to `target` (or the end of the text), blanks included and nothing
  // copied to the output; that token becomes current and is not collected.
  std::string ReadUpTo(char target);

 private:
  // Moves the unread text to the start of the buffer and fills the rest from
  // the source. A completely full buffer is cut back after its last line
  // feed (among positions 1..kBufferSize-2); without one, raises
  // EParserError "Line too long on line %d".
  void FillBuffer();

  TTextSource& source_;
  std::string& output_;
  std::unique_ptr<char[]> buffer_;
  char* buf_end_;      // end of the bytes read into the buffer
  char* source_ptr_;   // read position
  char* source_end_;   // where the sentinel stands
  char* token_ptr_;    // start of the current token
  char saved_char_ = 0;
  int line_ = 1;
  int token_ = kEndOfText;
};

}  // namespace quill
