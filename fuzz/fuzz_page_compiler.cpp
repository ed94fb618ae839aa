// Fuzz target: the page compiler (text, blocks, directives, includes) on
// any bytes. The input is a page and up to three include files separated by
// NUL bytes, named /a.inc, /b.inc and /c.inc. Whatever the input, compiling
// either raises PageError or gives a program whose every line has an origin
// in a file that was read; and a page that is text only writes its text
// back when run.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "base/utf8.h"
#include "host/asp/page_parser.h"
#include "host/asp/script_engine.h"
#include "host/asp/site_root.h"

namespace {

// The checks hold in every build: assert would vanish under NDEBUG, which
// the fuzz build (RelWithDebInfo) defines.
void Check(bool ok) {
  if (!ok) std::abort();
}

class Files : public quill::asp::PageSource {
 public:
  std::map<std::string, std::string> files;
  quill::asp::SourceFile Include(const std::string& from, bool, const std::string& path) override {
    const std::string name = quill::asp::SiteRoot::CombineVirtual(quill::asp::VirtualFolder(from), path);
    auto found = files.find(name);
    if (found == files.end()) throw std::runtime_error("not found");
    return {name, found->second};
  }
};

class Collect : public quill::asp::OutputSink {
 public:
  void Write(std::string_view text) override { out.append(text); }
  std::string out;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string parts[4];
  size_t part = 0;
  for (const char c : input) {
    if (c == '\0' && part < 3) {
      ++part;
    } else {
      parts[part].push_back(c);
    }
  }
  Files source;
  source.files["/a.inc"] = parts[1];
  source.files["/b.inc"] = parts[2];
  source.files["/c.inc"] = parts[3];
  quill::asp::CompiledPage page;
  try {
    page = quill::asp::CompilePage({"/page.asp", parts[0]}, source);
  } catch (const quill::asp::PageError& e) {
    Check(e.line() >= 1);
    return 0;
  }
  for (const quill::asp::SourceLine& line : page.lines) {
    Check(line.file >= 0 && static_cast<size_t>(line.file) < page.files.size());
    Check(line.line >= 1);
  }
  const bool text_only = parts[0].find("<%") == std::string::npos && parts[0].find("<!--") == std::string::npos;
  if (text_only && parts[0].size() < 4096 && parts[0].rfind("\xEF\xBB\xBF", 0) != 0) {
    quill::asp::EngineLimits limits;
    limits.timeout = std::chrono::milliseconds(200);
    quill::asp::ScriptEngine engine(limits);
    Collect out;
    engine.SetOutput(&out);
    const quill::asp::ScriptOutcome outcome = engine.Run(page);
    Check(outcome.kind == quill::asp::ScriptOutcome::Kind::kCompleted);
    // The text comes back as written, with what is not UTF-8 replaced as
    // the system's conversion replaces it.
    Check(out.out == quill::Utf16ToUtf8(quill::Utf8ToUtf16(parts[0])));
  }
  return 0;
}
