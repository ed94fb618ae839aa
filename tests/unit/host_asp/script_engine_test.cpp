// The engine's limits and its writer: runaway pages stop, memory is capped,
// the program's writes convert values as Response.Write does.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/asp/script_arena.h"
#include "host/asp/script_engine.h"
#include "script_fixture.h"

namespace quill::asp {
namespace {

using test::PageRun;
using test::RunPage;
using test::RunScript;

TEST(EngineLimits, ARunawayPageIsStoppedEvenIfItCatchesEverything) {
  EngineLimits limits;
  limits.timeout = std::chrono::milliseconds(300);
  ScriptEngine engine(limits);
  const auto start = std::chrono::steady_clock::now();
  const PageRun run = RunScript(engine,
                                "while (true) { try { for (;;) {} } catch (e) {} finally { continue; } }");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.outcome.kind, ScriptOutcome::Kind::kTimedOut);
  EXPECT_NE(run.outcome.message.find("300 ms"), std::string::npos) << run.outcome.message;
  EXPECT_LT(took, std::chrono::seconds(3));
}

TEST(EngineLimits, MemoryIsCappedAndTheEngineSurvivesIt) {
  EngineLimits limits;
  limits.max_heap_bytes = 8u << 20;
  ScriptEngine engine(limits);
  PageRun run = RunScript(engine, "var a = []; for (;;) a.push(new Array(100000).join('x') + a.length);");
  EXPECT_EQ(run.outcome.kind, ScriptOutcome::Kind::kFailed);
  EXPECT_LE(engine.heap_bytes(), limits.max_heap_bytes);
  // Running out can be caught, and then the page may go on.
  run = RunScript(engine,
                  "var ok = 'no'; try { var b = []; for (;;) b.push(new Array(100000).join('y') + b.length); }"
                  " catch (e) { b = null; ok = 'caught'; } __quill_write(ok)");
  EXPECT_EQ(run.output, "caught");
}

TEST(EngineLimits, DeepRecursionIsAnErrorNotACrash) {
  ScriptEngine engine;
  const PageRun run = RunScript(engine, "function f(n) { return f(n + 1) + 1; } f(0)");
  EXPECT_EQ(run.outcome.kind, ScriptOutcome::Kind::kFailed);
  EXPECT_EQ(run.outcome.message.rfind("RangeError", 0), 0u) << run.outcome.message;
}

TEST(EngineWrites, ValuesAreWrittenAsResponseWriteWritesThem) {
  ScriptEngine engine;
  EXPECT_EQ(RunPage(engine, "<%= 1.5 %>|<%= 7 %>|<%= true %>|<%= null %>|<%= undefined %>|<%= 'x' %>").output,
            "1.5|7|True|||x");
  EXPECT_EQ(RunPage(engine, "<%= [1, 'a'] %>|<%= {toString: function () { return 'obj'; }} %>").output,
            "1,a|obj");
  EXPECT_EQ(RunPage(engine, "<%= '\\u00fc\\ud83d\\ude00' %>").output, "\xC3\xBC\xF0\x9F\x98\x80");
}

TEST(EngineWrites, AFailingSinkIsAScriptError) {
  class Full : public OutputSink {
   public:
    void Write(std::string_view) override { throw std::runtime_error("the response is full"); }
  } full;
  ScriptEngine engine;
  engine.SetOutput(&full);
  test::NoIncludes source;
  const CompiledPage page =
      CompilePage(SourceFile{"/p.asp", "<% try { __quill_write('x') } catch (e) { var m = e.message } %><%\n"
                                       "  var n = 1;\n  __quill_write(m) %>"},
                  source);
  const ScriptOutcome outcome = engine.Run(page);
  EXPECT_EQ(outcome.kind, ScriptOutcome::Kind::kFailed);
  EXPECT_EQ(outcome.message, "the response is full");
  EXPECT_EQ(outcome.line, 3);
}

TEST(EngineErrors, OutcomesDescribeThemselves) {
  ScriptOutcome o;
  o.message = "boom";
  EXPECT_EQ(o.Describe(), "boom");
  o.file = "/a.asp";
  EXPECT_EQ(o.Describe(), "boom (/a.asp)");
  o.line = 4;
  EXPECT_EQ(o.Describe(), "boom (/a.asp, line 4)");
}

TEST(EngineErrors, HostileThrownValuesAreReportedSafely) {
  ScriptEngine engine;
  PageRun run = RunScript(engine, "throw { toString: function () { throw new Error('inner'); } }");
  EXPECT_EQ(run.outcome.kind, ScriptOutcome::Kind::kFailed);
  run = RunScript(engine, "var e = new Error('m'); Object.defineProperty(e, 'message', {get: function () { throw 1; }}); throw e;");
  EXPECT_EQ(run.outcome.kind, ScriptOutcome::Kind::kFailed);
  run = RunScript(engine, "throw undefined");
  EXPECT_EQ(run.outcome.kind, ScriptOutcome::Kind::kFailed);
  EXPECT_EQ(run.outcome.message, "undefined");
}

TEST(EngineErrors, ReplacedBuiltInsDoNotConfuseTheBridge) {
  ScriptEngine engine;
  const PageRun run = RunScript(engine,
                                "Date = function () { throw new Error('fake'); };"
                                "Duktape.errThrow = null; __quill_write('still', ' ', 'here')");
  EXPECT_EQ(run.output, "still here");
}

}  // namespace
}  // namespace quill::asp

// Under AddressSanitizer the arena gives every block its own allocation.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

TEST(ScriptArena, BlocksKeepTheirContentsAcrossSizesAndAreReused) {
  quill::asp::ScriptArena arena;
  std::vector<unsigned char*> blocks;
  for (size_t size : {1u, 15u, 16u, 17u, 1024u, 1025u, 70000u}) {
    auto* p = static_cast<unsigned char*>(arena.Allocate(size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
    EXPECT_EQ(quill::asp::ScriptArena::SizeOf(p), size);
    for (size_t k = 0; k < size; ++k) p[k] = static_cast<unsigned char>(k * 7 + size);
    blocks.push_back(p);
  }
  // Grow and shrink across the small/large border: the contents follow.
  for (size_t new_size : {8u, 600u, 5000u, 24u}) {
    const size_t old_size = quill::asp::ScriptArena::SizeOf(blocks[3]);
    std::vector<unsigned char> before(blocks[3], blocks[3] + std::min(old_size, new_size));
    auto* q = static_cast<unsigned char*>(arena.Reallocate(blocks[3], new_size));
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), q));
    EXPECT_EQ(quill::asp::ScriptArena::SizeOf(q), new_size);
    blocks[3] = q;
  }
  void* freed = blocks[1];
  arena.Release(freed);
  void* again = arena.Allocate(9);
  if (!kAddressSanitizer) {
    EXPECT_EQ(again, freed);  // the same size class hands it back
  }
  arena.Release(again);
  arena.Release(nullptr);
  for (size_t k = 0; k < blocks.size(); ++k) {
    if (k != 1) arena.Release(blocks[k]);
  }
}
