// Reading global.asa and running its events.
#include "host/asp/global_asa.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "host/asp/call_assignment.h"

namespace quill::asp {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The value of attribute `name` in the tag text `tag` (lower case), or "".
std::string Attribute(const std::string& tag, const std::string& name) {
  size_t at = 0;
  while ((at = tag.find(name, at)) != std::string::npos) {
    const bool starts = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' || tag[at - 1] == '\n' || tag[at - 1] == '\r');
    size_t i = at + name.size();
    while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
    if (!starts || i >= tag.size() || tag[i] != '=') {
      at += name.size();
      continue;
    }
    ++i;
    while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
    if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
      const size_t end = tag.find(tag[i], i + 1);
      return tag.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
    }
    const size_t start = i;
    while (i < tag.size() && !std::isspace(static_cast<unsigned char>(tag[i])) && tag[i] != '>') ++i;
    return tag.substr(start, i - start);
  }
  return "";
}

}  // namespace

bool GlobalAsa::Has(const std::string& name) const {
  size_t at = 0;
  const std::string& s = program.script;
  while ((at = s.find(name, at)) != std::string::npos) {
    const size_t f = s.rfind("function", at);
    if (f != std::string::npos && s.find_first_not_of(" \t\r\n", f + 8) == at) return true;
    at += name.size();
  }
  return false;
}

std::optional<GlobalAsa> LoadGlobalAsa(const std::filesystem::path& file, const std::string& name) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  if (text.size() > kMaxPageBytes) throw PageError(name, 1, "the file is too large");
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  const std::string lower = Lower(text);
  GlobalAsa asa;
  asa.program.files.push_back(name);
  // The program has the file's lines: script where the file has script,
  // empty lines elsewhere.
  std::string script;
  size_t pos = 0;
  int line = 1;
  auto blank_through = [&](size_t to) {
    const auto newlines = std::count(text.begin() + static_cast<std::ptrdiff_t>(pos),
                                     text.begin() + static_cast<std::ptrdiff_t>(to), '\n');
    script.append(static_cast<size_t>(newlines), '\n');
    line += static_cast<int>(newlines);
    pos = to;
  };
  while (true) {
    const size_t open = lower.find("<script", pos);
    if (open == std::string::npos) {
      blank_through(text.size());
      break;
    }
    const size_t tag_end = lower.find('>', open);
    if (tag_end == std::string::npos) throw PageError(name, line, "a <script> tag is not closed by '>'");
    blank_through(tag_end + 1);
    const std::string tag = lower.substr(open, tag_end - open);
    const size_t close = lower.find("</script", pos);
    if (close == std::string::npos) throw PageError(name, line, "<script> is not closed by </script>");
    if (Attribute(tag, "runat") == "server") {
      const std::string language = Attribute(tag, "language");
      if (!language.empty() && language != "jscript" && language != "javascript") {
        throw PageError(name, line, "the language \"" + language + "\" is not supported: global.asa is written in JScript");
      }
      const std::string code = RewriteCallAssignments(std::string_view(text).substr(pos, close - pos));
      script += code;
      line += static_cast<int>(std::count(code.begin(), code.end(), '\n'));
      pos = close;
    } else {
      blank_through(close);
    }
    const size_t close_end = lower.find('>', close);
    blank_through(close_end == std::string::npos ? text.size() : close_end + 1);
  }
  asa.program.script = script;
  const int lines = static_cast<int>(std::count(script.begin(), script.end(), '\n')) + 1;
  for (int i = 1; i <= lines; ++i) asa.program.lines.push_back(SourceLine{0, i});
  return asa;
}

std::string RunGlobalAsaEvent(const GlobalAsa& asa, const std::string& event, const EventObjects& objects,
                              const EngineLimits& limits) {
  if (!asa.Has(event)) return "";
  CompiledPage page = asa.program;
  page.script += "\n" + event + "();";
  page.lines.push_back(page.lines.empty() ? SourceLine{0, 1} : page.lines.back());
  try {
    ScriptEngine engine(limits);
    if (objects.application != nullptr) engine.DefineObject("Application", objects.application);
    if (objects.session != nullptr) engine.DefineObject("Session", objects.session);
    if (objects.request != nullptr) engine.DefineObject("Request", objects.request);
    if (objects.response != nullptr) engine.DefineObject("Response", objects.response);
    if (objects.server != nullptr) engine.DefineObject("Server", objects.server);
    const ScriptOutcome outcome = engine.Run(page);
    if (outcome.kind == ScriptOutcome::Kind::kFailed || outcome.kind == ScriptOutcome::Kind::kTimedOut) {
      return outcome.Describe();
    }
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

}  // namespace quill::asp
