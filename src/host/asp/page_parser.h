// The page compiler: turns a page and the files it includes into one
// JScript program, and keeps where every line of that program came from.
//
// A page is text with server-side parts:
//   <% code %>              script, run where it stands
//   <%= expression %>       the value of the expression, written out
//   <%@ Language="JScript" %>  the directive; JScript (or its other name,
//                           JavaScript) is the only language there is
//   <!--#include file="x" -->     the text of x, relative to the folder of
//   <!--#include virtual="/x" --> the including file, or to the site root
// Text outside them is written out as it stands. Every part of the program
// starts on a line of its own, so that `<% if (a) %>text` writes the text
// only when a holds, and a `//` comment at the end of an expression cannot
// swallow what follows. Errors name the file and line the author wrote,
// through includes.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace quill::asp {

// Where a line of the generated program came from.
struct SourceLine {
  int file = 0;  // index into CompiledPage::files
  int line = 1;  // 1-based line in that file
};

// A mistake in a page or one of its includes, with the place it was found.
class PageError : public std::runtime_error {
 public:
  PageError(std::string file, int line, const std::string& message);
  const std::string& file() const { return file_; }
  int line() const { return line_; }
  // The message without the place.
  const std::string& message() const { return message_; }

 private:
  std::string file_;
  int line_;
  std::string message_;
};

struct CompiledPage {
  std::string script;               // the program, UTF-8
  std::vector<std::string> files;   // names of the page ([0]) and its includes
  std::vector<SourceLine> lines;    // lines[g - 1]: origin of program line g
  // The program names, in any case, a member by which a page sends output
  // while it runs, asks about its client, or runs another page: Flush,
  // Buffer, IsClientConnected, Execute, Transfer. Only such a page needs
  // the connection while it runs; any other sends its answer at the end.
  bool may_stream = true;

  // The origin of program line `generated` (1-based); lines beyond either
  // end answer the nearest line that exists.
  SourceLine Origin(int generated) const;
  // "name, line N" of program line `generated`.
  std::string Describe(int generated) const;
};

// A file the compiler reads: a name for messages (a virtual path such as
// "/shop/list.asp") and its bytes.
struct SourceFile {
  std::string name;
  std::string text;
};

// Where the compiler gets its files from. Implementations raise
// std::runtime_error with a short reason ("not found", "outside the site
// root") when a file cannot be had; the compiler adds the place.
class PageSource {
 public:
  virtual ~PageSource() = default;
  // The file named by an include directive written in `from` (a name this
  // source gave out): `is_virtual` for virtual="...", else file="...".
  virtual SourceFile Include(const std::string& from, bool is_virtual, const std::string& path) = 0;
};

// Limits that keep a hostile page from exhausting the host.
inline constexpr int kMaxIncludeDepth = 16;
inline constexpr size_t kMaxPageBytes = 16u << 20;  // the page and its includes together

// Compiles `page`. Raises PageError for an unclosed block, a malformed or
// unresolvable include, an include loop or one nested too deep, a language
// other than JScript, a second @ directive, or more than kMaxPageBytes.
CompiledPage CompilePage(const SourceFile& page, PageSource& source);

// The name of the function the generated program writes text through; the
// script engine defines it.
inline constexpr const char* kWriteFunction = "__quill_write";

}  // namespace quill::asp
