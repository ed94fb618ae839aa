// One script heap per request: limits, the writer of the generated program,
// and running a compiled page.
#include "host/asp/script_engine.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "host/asp/automation_object.h"
#include "host/asp/duk_internals.h"
#include "host/asp/duk_text.h"

// The engine's timeout hook (DUK_USE_EXEC_TIMEOUT_CHECK), called with the
// heap's user data, which is its ScriptEngine.
extern "C" int quill_asp_exec_timeout_check(void* udata) {
  return udata != nullptr && static_cast<quill::asp::ScriptEngine*>(udata)->ShouldInterrupt() ? 1 : 0;
}

namespace quill::asp {

namespace {

constexpr const char* kEngineKey = "\xFF" "quillEngine";
// The name the program is compiled under; errors carry it.
constexpr const char* kProgramName = "page";

std::atomic<size_t> g_heaps_created{0};

bool StopRequestedHook(void* engine) { return static_cast<ScriptEngine*>(engine)->stop_requested(); }

void AssignNoThrow(std::string* out, const char* p, size_t n) noexcept {
  try {
    out->assign(p != nullptr ? p : "", p != nullptr ? n : 0);
  } catch (...) {
    out->clear();
  }
}

template <typename F>
duk_int_t SafeRun(duk_context* ctx, F& body, duk_idx_t nargs, duk_idx_t nrets) {
  return duk_safe_call(
      ctx, [](duk_context* c, void* udata) -> duk_ret_t { return (*static_cast<F*>(udata))(c); },
      &body, nargs, nrets);
}

// What a thrown value says about itself.
struct ThrownValue {
  std::string name;     // "TypeError", ... (empty for a value that is no Error)
  std::string message;  // engine bytes
  double line = 0;      // lineNumber, 0 when absent
  bool has_number = false;
  double number = 0;
};

// Reads the thrown value at the top of the stack (which stays). Never fails:
// whatever cannot be read is left empty.
ThrownValue ReadThrown(duk_context* ctx) {
  ThrownValue out;
  auto body = [&out](duk_context* c) noexcept -> duk_ret_t {
    duk_size_t n = 0;
    if (duk_is_error(c, -1)) {
      duk_get_prop_string(c, -1, "lineNumber");
      out.line = duk_get_number_default(c, -1, 0);
      duk_pop(c);
      duk_get_prop_string(c, -1, "number");
      if (duk_is_number(c, -1)) {
        out.has_number = true;
        out.number = duk_get_number(c, -1);
      }
      duk_pop(c);
      duk_get_prop_string(c, -1, "name");
      if (duk_is_string(c, -1)) {
        const char* p = duk_get_lstring(c, -1, &n);
        AssignNoThrow(&out.name, p, n);
      }
      duk_pop(c);
      duk_get_prop_string(c, -1, "message");
      const char* p = duk_safe_to_lstring(c, -1, &n);
      AssignNoThrow(&out.message, p, n);
      duk_pop(c);
    } else {
      duk_dup(c, -1);
      const char* p = duk_safe_to_lstring(c, -1, &n);
      AssignNoThrow(&out.message, p, n);
      duk_pop(c);
    }
    return 0;
  };
  if (SafeRun(ctx, body, 0, 1) == DUK_EXEC_SUCCESS) {
    duk_pop(ctx);
  } else {
    duk_pop(ctx);  // reading it failed too; keep what was read
  }
  return out;
}

// A compiler message ends in " (line N)"; the line is reported apart.
std::string StripLineSuffix(std::string message) {
  const size_t at = message.rfind(" (line ");
  if (at != std::string::npos && !message.empty() && message.back() == ')') message.resize(at);
  return message;
}

}  // namespace

std::string ScriptOutcome::Describe() const {
  if (file.empty()) return message;
  if (line <= 0) return message + " (" + file + ")";
  return message + " (" + file + ", line " + std::to_string(line) + ")";
}

ScriptEngine::ScriptEngine(const EngineLimits& limits) : limits_(limits) {
  deadline_ = std::chrono::steady_clock::now() + limits_.timeout;
  ctx_ = duk_create_heap(Alloc, Realloc, Free, this, Fatal);
  if (ctx_ == nullptr) throw std::runtime_error("cannot create the script engine (out of memory)");
  g_heaps_created.fetch_add(1, std::memory_order_relaxed);
  try {
    bridge_ = std::make_unique<DispatchBridge>(ctx_, StopRequestedHook, this);
  } catch (...) {
    duk_destroy_heap(ctx_);
    throw std::runtime_error("cannot set up the script engine (out of memory)");
  }
  auto install = [this](duk_context* c) noexcept -> duk_ret_t {
    duk_push_global_stash(c);
    duk_push_pointer(c, this);
    duk_put_prop_string(c, -2, kEngineKey);
    duk_pop(c);
    duk_push_c_function(c, WriteNative, DUK_VARARGS);
    duk_put_global_string(c, kWriteFunction);
    duk_get_global_string(c, "Duktape");
    duk_push_c_function(c, ThrowHook, 1);
    duk_put_prop_string(c, -2, "errThrow");
    duk_pop(c);
    return 0;
  };
  const duk_int_t rc = SafeRun(ctx_, install, 0, 1);
  duk_pop(ctx_);
  if (rc != DUK_EXEC_SUCCESS) {
    bridge_.reset();
    duk_destroy_heap(ctx_);
    throw std::runtime_error("cannot set up the script engine (out of memory)");
  }
}

ScriptEngine::~ScriptEngine() {
  // Finalizers run while the heap goes and still reach the bridge; only
  // then does the bridge release what no finalizer did.
  duk_destroy_heap(ctx_);
  ctx_ = nullptr;
  bridge_.reset();
  quill_duk_baseline_free(baseline_);
}

// --- The pool of idle heaps -------------------------------------------------
//
// Creating a heap builds the engine's built-in objects, and destroying one
// walks it: about half of what a small page costs. So the heap of a page
// that left it as good as new is kept for the next page, on whatever thread
// that runs. The host bounds the pages that run at once, and so the heaps.

namespace {

// Pages a heap runs before it is replaced all the same, so that nothing a
// page leaves behind unseen (interned texts, grown tables) adds up for long.
constexpr int kPagesPerHeap = 1000;
// A heap still bigger than this after its page's cleanup is not kept.
constexpr size_t kMaxKeptHeapBytes = 4u << 20;
// Idle heaps kept at most.
constexpr size_t kMaxIdleHeaps = 64;

struct IdleHeaps {
  std::mutex mutex;
  std::vector<std::unique_ptr<ScriptEngine>> engines;
};

// Never destroyed: the heaps left at exit go with the process.
IdleHeaps& Idle() {
  static auto* idle = new IdleHeaps;
  return *idle;
}

}  // namespace

size_t ScriptEngine::HeapsCreated() { return g_heaps_created.load(std::memory_order_relaxed); }

std::unique_ptr<ScriptEngine> ScriptEngine::Acquire(const EngineLimits& limits) {
  std::unique_ptr<ScriptEngine> engine;
  {
    IdleHeaps& idle = Idle();
    std::lock_guard<std::mutex> lock(idle.mutex);
    if (!idle.engines.empty()) {
      engine = std::move(idle.engines.back());
      idle.engines.pop_back();
    }
  }
  if (engine) {
    engine->limits_ = limits;
    return engine;
  }
  engine = std::make_unique<ScriptEngine>(limits);
  engine->baseline_ = quill_duk_baseline_take(engine->ctx_);  // null: used once only
  return engine;
}

void ScriptEngine::Recycle(std::unique_ptr<ScriptEngine> engine) {
  if (!engine || !engine->ResetForNextPage()) return;  // destroyed here
  IdleHeaps& idle = Idle();
  std::lock_guard<std::mutex> lock(idle.mutex);
  if (idle.engines.size() < kMaxIdleHeaps) idle.engines.push_back(std::move(engine));
}

void ScriptEngine::DropIdleHeaps() {
  std::vector<std::unique_ptr<ScriptEngine>> engines;
  IdleHeaps& idle = Idle();
  std::lock_guard<std::mutex> lock(idle.mutex);
  engines.swap(idle.engines);
}

bool ScriptEngine::ResetForNextPage() {
  output_ = nullptr;
  if (baseline_ == nullptr || !last_run_clean_ || running_ || ++pages_run_ >= kPagesPerHeap) return false;
  last_run_clean_ = false;
  if (!quill_duk_baseline_intact(ctx_, baseline_)) return false;
  if (bridge_->LiveReferences() != 0) {
    // Held in a cycle: the collector's second pass frees what the first
    // one finalized.
    duk_gc(ctx_, 0);
    duk_gc(ctx_, 0);
    if (bridge_->LiveReferences() != 0 || !quill_duk_baseline_intact(ctx_, baseline_)) return false;
  }
  if (heap_bytes_ > kMaxKeptHeapBytes) return false;
  stop_requested_ = false;
  timed_out_ = false;
  last_throw_line_ = 0;
  return true;
}

void ScriptEngine::DefineObject(const char* name, IDispatch* object) {
  if (!bridge_->DefineGlobal(name, object)) {
    throw std::runtime_error(std::string("cannot define the script object ") + name);
  }
}

bool ScriptEngine::ShouldInterrupt() {
  if (stop_requested_ || timed_out_) return true;
  if (std::chrono::steady_clock::now() >= deadline_) timed_out_ = true;
  return timed_out_;
}

void* ScriptEngine::Alloc(void* udata, duk_size_t size) {
  auto* engine = static_cast<ScriptEngine*>(udata);
  if (size > engine->limits_.max_heap_bytes - std::min(engine->heap_bytes_, engine->limits_.max_heap_bytes)) {
    return nullptr;  // the engine collects garbage and retries, then fails the allocation
  }
  void* block = engine->arena_.Allocate(size);
  if (block == nullptr) return nullptr;
  engine->heap_bytes_ += size;
  return block;
}

void* ScriptEngine::Realloc(void* udata, void* ptr, duk_size_t size) {
  auto* engine = static_cast<ScriptEngine*>(udata);
  if (ptr == nullptr) return Alloc(udata, size);
  if (size == 0) {
    Free(udata, ptr);
    return nullptr;
  }
  const size_t old_size = ScriptArena::SizeOf(ptr);
  if (size > old_size &&
      size - old_size > engine->limits_.max_heap_bytes - std::min(engine->heap_bytes_, engine->limits_.max_heap_bytes)) {
    return nullptr;
  }
  void* grown = engine->arena_.Reallocate(ptr, size);
  if (grown == nullptr) return nullptr;
  engine->heap_bytes_ = engine->heap_bytes_ - old_size + size;
  return grown;
}

void ScriptEngine::Free(void* udata, void* ptr) {
  if (ptr == nullptr) return;
  auto* engine = static_cast<ScriptEngine*>(udata);
  engine->heap_bytes_ -= ScriptArena::SizeOf(ptr);
  engine->arena_.Release(ptr);
}

void ScriptEngine::Fatal(void*, const char* message) {
  // Only reached through an error outside every protected call, which the
  // host never makes: a fault of the host, not of a page.
  std::fprintf(stderr, "quill-asp: fatal script engine error: %s\n", message != nullptr ? message : "?");
  std::abort();
}

duk_ret_t ScriptEngine::WriteNative(duk_context* ctx) {
  const duk_idx_t count = duk_get_top(ctx);
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kEngineKey);
  auto* engine = static_cast<ScriptEngine*>(duk_get_pointer(ctx, -1));
  duk_pop_2(ctx);
  for (duk_idx_t i = 0; i < count; ++i) {
    if (engine->WriteValue(i) < 0) return duk_throw(ctx);
  }
  return 0;
}

// Duktape.errThrow, called with every value about to be thrown. An Error
// knows its line; for any other value (`throw "text"`) the line of the
// statement that throws it is noted here.
duk_ret_t ScriptEngine::ThrowHook(duk_context* ctx) {
  if (!duk_is_error(ctx, 0)) {
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, kEngineKey);
    auto* engine = static_cast<ScriptEngine*>(duk_get_pointer(ctx, -1));
    duk_pop_2(ctx);
    duk_inspect_callstack_entry(ctx, -2);
    if (engine != nullptr && duk_is_object(ctx, -1)) {
      duk_get_prop_string(ctx, -1, "lineNumber");
      const int line = duk_get_int_default(ctx, -1, 0);
      if (line > 0) engine->last_throw_line_ = line;
      duk_pop(ctx);
    }
    duk_pop(ctx);
  }
  duk_dup(ctx, 0);
  return 1;
}

// Writes the value at `index`. Answers 0, or -1 with an error pushed.
int ScriptEngine::WriteValue(duk_idx_t index) {
  if (output_ == nullptr || duk_is_undefined(ctx_, index) || duk_is_null(ctx_, index)) return 0;
  try {
    if (duk_is_string(ctx_, index) && !duk_is_symbol(ctx_, index)) {
      duk_size_t n = 0;
      const char* p = duk_get_lstring(ctx_, index, &n);
      std::string scratch;
      output_->Write(DukAsUtf8(std::string_view(p, n), &scratch));
      return 0;
    }
    olert::ScopedVariant value;
    if (!bridge_->ToVariant(index, value.get())) return -1;
    std::string text;
    if (!VariantToUtf8(*value, &text)) {
      bridge_->PushError(DISP_E_TYPEMISMATCH, "the value has no text form to write");
      return -1;
    }
    output_->Write(text);
    return 0;
  } catch (const std::exception& e) {
    bridge_->PushError(E_FAIL, e.what());
    return -1;
  } catch (...) {
    bridge_->PushError(E_FAIL, "cannot write the value");
    return -1;
  }
}

ScriptOutcome ScriptEngine::Run(const CompiledPage& page, ProgramCode* code) {
  const DispatchBridge::RunScope scope(*bridge_);
  ScriptOutcome outcome;
  deadline_ = std::chrono::steady_clock::now() + limits_.timeout;
  running_ = true;
  last_throw_line_ = 0;
  const std::string& program = page.script;
  const std::shared_ptr<const std::string> bytecode = code != nullptr ? code->Get() : nullptr;
  auto compile = [&program, &bytecode](duk_context* c) noexcept -> duk_ret_t {
    if (bytecode) {
      // Our own dump of this very program, never bytes from outside.
      void* buffer = duk_push_fixed_buffer(c, bytecode->size());
      std::memcpy(buffer, bytecode->data(), bytecode->size());
      duk_load_function(c);
      return 1;
    }
    duk_push_string(c, kProgramName);
    duk_compile_lstring_filename(c, 0, program.data(), program.size());
    return 1;
  };
  bool ok = SafeRun(ctx_, compile, 0, 1) == DUK_EXEC_SUCCESS;
  bool compiled = ok;
  if (ok && code != nullptr && !bytecode) {
    std::string dumped;
    auto dump = [&dumped](duk_context* c) noexcept -> duk_ret_t {
      duk_dup(c, 0);
      duk_dump_function(c);
      duk_size_t n = 0;
      const char* p = static_cast<const char*>(duk_get_buffer_data(c, -1, &n));
      AssignNoThrow(&dumped, p, n);
      duk_pop(c);
      return 1;  // the program, still to be run
    };
    ok = SafeRun(ctx_, dump, 1, 1) == DUK_EXEC_SUCCESS;
    if (ok && !dumped.empty()) {
      try {
        code->Set(std::move(dumped));
      } catch (...) {
        // Not kept: the next run compiles again.
      }
    }
  }
  if (ok) ok = duk_pcall(ctx_, 0) == DUK_EXEC_SUCCESS;
  running_ = false;
  if (!ok) {
    const ThrownValue thrown = ReadThrown(ctx_);
    if (stop_requested_) {
      outcome.kind = ScriptOutcome::Kind::kStopped;
    } else if (timed_out_) {
      outcome.kind = ScriptOutcome::Kind::kTimedOut;
      const long long ms = static_cast<long long>(limits_.timeout.count());
      outcome.message = ms % 1000 == 0
                            ? "the page ran longer than its " + std::to_string(ms / 1000) + " s and was stopped"
                            : "the page ran longer than its " + std::to_string(ms) + " ms and was stopped";
    } else {
      outcome.kind = ScriptOutcome::Kind::kFailed;
      std::string message = DukToUtf8(thrown.message);
      if (!compiled) message = StripLineSuffix(message);
      if (thrown.has_number) {
        outcome.number = static_cast<HRESULT>(static_cast<int64_t>(thrown.number));
      } else if (!thrown.name.empty()) {
        message = DukToUtf8(thrown.name) + ": " + message;
      }
      outcome.message = message;
      const double line = thrown.line >= 1 ? thrown.line : last_throw_line_;
      if (line >= 1 && !page.lines.empty()) {
        const SourceLine at = page.Origin(static_cast<int>(line));
        outcome.file = page.files.empty() ? std::string() : page.files[static_cast<size_t>(at.file)];
        outcome.line = at.line;
      } else if (!page.files.empty()) {
        outcome.file = page.files[0];
      }
    }
  } else if (stop_requested_) {
    outcome.kind = ScriptOutcome::Kind::kStopped;
  }
  duk_pop(ctx_);
  last_run_clean_ = outcome.kind == ScriptOutcome::Kind::kCompleted || outcome.kind == ScriptOutcome::Kind::kStopped;
  return outcome;
}

}  // namespace quill::asp
