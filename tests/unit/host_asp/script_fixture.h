// Running bits of page text in a ScriptEngine, for the tests.
#pragma once

#include <stdexcept>
#include <string>

#include "host/asp/page_parser.h"
#include "host/asp/script_engine.h"

namespace quill::asp::test {

class CapturedOutput : public OutputSink {
 public:
  void Write(std::string_view utf8) override { text.append(utf8); }
  std::string text;
};

// A page source without files: every include fails.
class NoIncludes : public PageSource {
 public:
  SourceFile Include(const std::string&, bool, const std::string&) override {
    throw std::runtime_error("no includes here");
  }
};

struct PageRun {
  ScriptOutcome outcome;
  std::string output;
  bool ok() const { return outcome.kind == ScriptOutcome::Kind::kCompleted; }
};

inline PageRun RunPage(ScriptEngine& engine, const std::string& page_text) {
  NoIncludes source;
  const CompiledPage page = CompilePage(SourceFile{"/test.asp", page_text}, source);
  CapturedOutput out;
  engine.SetOutput(&out);
  PageRun run{engine.Run(page), std::string()};
  engine.SetOutput(nullptr);
  run.output = out.text;
  return run;
}

// Runs `code` as one script block.
inline PageRun RunScript(ScriptEngine& engine, const std::string& code) {
  return RunPage(engine, "<%" + code + "%>");
}

}  // namespace quill::asp::test
