// The page compiler: page text and includes in, one JScript program and its
// line map out.
#include "host/asp/page_parser.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "base/string_list.h"
#include "base/utf8.h"
#include "host/asp/call_assignment.h"

namespace quill::asp {

PageError::PageError(std::string file, int line, const std::string& message)
    : std::runtime_error(file + ", line " + std::to_string(line) + ": " + message),
      file_(std::move(file)),
      line_(line),
      message_(message) {}

SourceLine CompiledPage::Origin(int generated) const {
  if (lines.empty()) return SourceLine{};
  const size_t index = static_cast<size_t>(std::clamp(generated, 1, static_cast<int>(lines.size())));
  return lines[index - 1];
}

std::string CompiledPage::Describe(int generated) const {
  const SourceLine at = Origin(generated);
  const std::string name =
      at.file >= 0 && static_cast<size_t>(at.file) < files.size() ? files[at.file] : "?";
  return name + ", line " + std::to_string(at.line);
}

namespace {

int CountNewlines(std::string_view text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view prefix) {
  if (text.size() - std::min(at, text.size()) < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    const char a = text[at + i];
    const char b = prefix[i];
    if (std::tolower(static_cast<unsigned char>(a)) != std::tolower(static_cast<unsigned char>(b))) {
      return false;
    }
  }
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Writes `text` as a JScript string literal. Everything outside printable
// ASCII is escaped, so the program is plain ASCII whatever the page's bytes
// were (invalid UTF-8 reads as U+FFFD) and no character can end the
// literal or the line.
void AppendLiteral(std::string& out, std::string_view text) {
  out.push_back('"');
  bool ascii = std::all_of(text.begin(), text.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  auto put = [&out](char16_t u) {
    if (u == '"' || u == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(u));
    } else if (u == '\n') {
      out += "\\n";
    } else if (u == '\r') {
      out += "\\r";
    } else if (u == '\t') {
      out += "\\t";
    } else if (u >= 0x20 && u < 0x7F) {
      out.push_back(static_cast<char>(u));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\u%04X", static_cast<unsigned>(u));
      out += buf;
    }
  };
  if (ascii) {
    for (const char c : text) put(static_cast<char16_t>(c));
  } else {
    for (const char16_t u : Utf8ToUtf16(text)) put(u);
  }
  out.push_back('"');
}

// The program being generated and its line map.
class ProgramBuilder {
 public:
  // Starts a new program line that came from `origin`.
  void NewLine(SourceLine origin) {
    if (!page_.lines.empty()) page_.script.push_back('\n');
    page_.lines.push_back(origin);
  }
  // Appends script text that came from (file, line), mapping each of its
  // lines; then starts a fresh line at the position after it.
  void Code(int file, int line, std::string_view code) {
    NewLine({file, line});
    for (const char c : RewriteCallAssignments(code)) {
      if (c == '\n') {
        NewLine({file, ++line});
      } else {
        page_.script.push_back(c);
      }
    }
    // No ';' after the code: `<% if (a) %>text` must keep the text as the
    // body of the if. Each part starting on a line of its own is enough to
    // separate statements.
  }
  void Text(int file, int line, std::string_view text) {
    if (text.empty()) return;
    NewLine({file, line});
    page_.script += kWriteFunction;
    page_.script.push_back('(');
    AppendLiteral(page_.script, text);
    page_.script += ");";
  }
  void Expression(int file, int line, std::string_view expression) {
    NewLine({file, line});
    page_.script += kWriteFunction;
    page_.script.push_back('(');
    int at = line;
    for (const char c : expression) {
      if (c == '\n') {
        NewLine({file, ++at});
      } else {
        page_.script.push_back(c);
      }
    }
    // The closing parenthesis on a line of its own: a trailing // comment
    // in the expression must not reach it.
    NewLine({file, at});
    page_.script += ");";
  }
  int AddFile(const std::string& name) {
    page_.files.push_back(name);
    return static_cast<int>(page_.files.size()) - 1;
  }
  const std::string& FileName(int file) const { return page_.files[file]; }
  CompiledPage Take() { return std::move(page_); }

 private:
  CompiledPage page_;
};

class Compiler {
 public:
  explicit Compiler(PageSource& source) : source_(source) {}

  CompiledPage Run(const SourceFile& page) {
    File(page, 0);
    CompiledPage compiled = builder_.Take();
    constexpr std::string_view kStreamingMembers[] = {"Flush", "Buffer", "IsClientConnected", "Execute", "Transfer"};
    compiled.may_stream = std::any_of(std::begin(kStreamingMembers), std::end(kStreamingMembers),
                                      [&](std::string_view m) { return ContainsText(compiled.script, m); });
    return compiled;
  }

 private:
  [[noreturn]] void Fail(int file, int line, const std::string& message) {
    throw PageError(builder_.FileName(file), line, message);
  }

  void File(const SourceFile& source, int depth) {
    total_bytes_ += source.text.size();
    const int file = builder_.AddFile(source.name);
    if (total_bytes_ > kMaxPageBytes) {
      Fail(file, 1, "the page and its includes exceed " + std::to_string(kMaxPageBytes >> 20) +
                        " MiB");
    }
    stack_.push_back(Lower(source.name));
    std::string_view text = source.text;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // byte order mark
    size_t pos = 0;
    int line = 1;
    while (pos < text.size()) {
      const size_t block = text.find("<%", pos);
      size_t include = text.find("<!--", pos);
      // A comment that is no include directive is just text.
      while (include != std::string_view::npos && include < block && !IsInclude(text, include)) {
        include = text.find("<!--", include + 4);
      }
      const size_t next = std::min(block, include);
      if (next == std::string_view::npos) {
        builder_.Text(file, line, text.substr(pos));
        break;
      }
      builder_.Text(file, line, text.substr(pos, next - pos));
      line += CountNewlines(text.substr(pos, next - pos));
      if (next == include) {
        pos = Include(text, include, file, line, depth);
      } else {
        pos = Block(text, block, file, line);
      }
    }
    stack_.pop_back();
  }

  static bool IsInclude(std::string_view text, size_t at) {
    size_t i = at + 4;
    while (i < text.size() && IsSpace(text[i])) ++i;
    return StartsWithNoCase(text, i, "#include");
  }

  // A <% ... %> block at `at`; answers the position after it and advances
  // `line` past it.
  size_t Block(std::string_view text, size_t at, int file, int& line) {
    const size_t close = text.find("%>", at + 2);
    if (close == std::string_view::npos) {
      Fail(file, line, "'<%' is not closed by '%>'");
    }
    const std::string_view body = text.substr(at + 2, close - at - 2);
    if (!body.empty() && body[0] == '@') {
      Directive(body.substr(1), file, line);
    } else if (!body.empty() && body[0] == '=') {
      builder_.Expression(file, line, body.substr(1));
    } else {
      builder_.Code(file, line, body);
    }
    line += CountNewlines(body);
    return close + 2;
  }

  void Directive(std::string_view body, int file, int line) {
    if (seen_directive_) Fail(file, line, "a page can have only one <%@ ... %> directive");
    seen_directive_ = true;
    size_t i = 0;
    while (true) {
      while (i < body.size() && IsSpace(body[i])) ++i;
      if (i >= body.size()) break;
      const size_t name_start = i;
      while (i < body.size() && !IsSpace(body[i]) && body[i] != '=') ++i;
      const std::string name = Lower(body.substr(name_start, i - name_start));
      while (i < body.size() && IsSpace(body[i])) ++i;
      if (i >= body.size() || body[i] != '=') {
        Fail(file, line, "malformed directive: '" + name + "' has no value");
      }
      ++i;
      while (i < body.size() && IsSpace(body[i])) ++i;
      std::string value;
      if (i < body.size() && (body[i] == '"' || body[i] == '\'')) {
        const char quote = body[i];
        const size_t end = body.find(quote, i + 1);
        if (end == std::string_view::npos) Fail(file, line, "malformed directive: unclosed quote");
        value = body.substr(i + 1, end - i - 1);
        i = end + 1;
      } else {
        const size_t start = i;
        while (i < body.size() && !IsSpace(body[i])) ++i;
        value = body.substr(start, i - start);
      }
      if (name == "language") {
        const std::string lang = Lower(value);
        if (lang != "jscript" && lang != "javascript") {
          Fail(file, line, "the language \"" + value +
                               "\" is not supported: pages are written in JScript");
        }
      }
      // Other attributes (code page, locale, session state) mean nothing to
      // this host and are accepted as they are.
    }
  }

  size_t Include(std::string_view text, size_t at, int file, int& line, int depth) {
    const size_t close = text.find("-->", at + 4);
    if (close == std::string_view::npos) Fail(file, line, "include directive is not closed by '-->'");
    std::string_view body = text.substr(at + 4, close - at - 4);
    const int directive_line = line;
    line += CountNewlines(body);
    size_t i = body.find('#');
    i += 8;  // "#include"
    while (i < body.size() && IsSpace(body[i])) ++i;
    bool is_virtual = false;
    if (StartsWithNoCase(body, i, "file")) {
      i += 4;
    } else if (StartsWithNoCase(body, i, "virtual")) {
      is_virtual = true;
      i += 7;
    } else {
      Fail(file, directive_line, "malformed include directive: expected file=\"...\" or virtual=\"...\"");
    }
    while (i < body.size() && IsSpace(body[i])) ++i;
    if (i >= body.size() || body[i] != '=') {
      Fail(file, directive_line, "malformed include directive: expected '=' after the attribute");
    }
    ++i;
    while (i < body.size() && IsSpace(body[i])) ++i;
    if (i >= body.size() || (body[i] != '"' && body[i] != '\'')) {
      Fail(file, directive_line, "malformed include directive: the path must be quoted");
    }
    const char quote = body[i];
    const size_t end = body.find(quote, i + 1);
    if (end == std::string_view::npos) {
      Fail(file, directive_line, "malformed include directive: unclosed quote");
    }
    const std::string path(body.substr(i + 1, end - i - 1));
    for (size_t k = end + 1; k < body.size(); ++k) {
      if (!IsSpace(body[k])) Fail(file, directive_line, "malformed include directive: unexpected text after the path");
    }
    if (path.empty()) Fail(file, directive_line, "include directive with an empty path");
    if (depth + 1 > kMaxIncludeDepth) {
      Fail(file, directive_line, "includes nested deeper than " + std::to_string(kMaxIncludeDepth));
    }
    SourceFile included;
    try {
      included = source_.Include(builder_.FileName(file), is_virtual, path);
    } catch (const PageError&) {
      throw;
    } catch (const std::exception& e) {
      Fail(file, directive_line, "cannot include \"" + path + "\": " + e.what());
    }
    if (std::find(stack_.begin(), stack_.end(), Lower(included.name)) != stack_.end()) {
      Fail(file, directive_line, "\"" + included.name + "\" includes itself");
    }
    File(included, depth + 1);
    return close + 3;
  }

  PageSource& source_;
  ProgramBuilder builder_;
  std::vector<std::string> stack_;  // names of the files being compiled, outermost first
  size_t total_bytes_ = 0;
  bool seen_directive_ = false;
};

}  // namespace

CompiledPage CompilePage(const SourceFile& page, PageSource& source) {
  return Compiler(source).Run(page);
}

}  // namespace quill::asp
