// ScriptEngine: one Duktape heap, for one request at a time.
//
// The engine runs a compiled page with a deadline: the executor asks the
// engine every few hundred thousand instructions whether to go on, and a
// page past its deadline (or told to stop by Response.End) is unwound with
// an error that no try/catch of the page can hold, since the engine keeps
// raising it until the page has left the engine entirely. Memory is capped
// per heap. The automation bridge (DispatchBridge) lives in the engine, and
// destroying the engine releases every automation reference script held.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "duktape.h"
#include "host/asp/dispatch_bridge.h"
#include "host/asp/page_parser.h"
#include "host/asp/script_arena.h"

struct quill_duk_baseline;

namespace quill::asp {

struct EngineLimits {
  std::chrono::milliseconds timeout{10000};  // wall-clock time a page may run
  size_t max_heap_bytes = 128u << 20;        // memory the script engine may allocate
};

// Where the generated program's writes (text and <%= %>) go.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Appends text (UTF-8). May raise std::exception (the response is too
  // large), which becomes a script error.
  virtual void Write(std::string_view utf8) = 0;
};

// How a run ended.
struct ScriptOutcome {
  enum class Kind {
    kCompleted,  // ran to its end
    kStopped,    // stopped on request (Response.End, Response.Redirect)
    kTimedOut,   // ran past the deadline
    kFailed,     // a syntax error or an error no script caught
  };
  Kind kind = Kind::kCompleted;
  std::string message;   // kFailed: the error's message; kTimedOut: what happened
  std::string file;      // kFailed: name of the file the error is in, when known
  int line = 0;          // kFailed: line in that file, when known (else 0)
  HRESULT number = 0;    // kFailed: the error's `number`, when it has one

  // "message (file, line N)" or the message alone.
  std::string Describe() const;
};

// The engine's bytecode of a page's program, kept with a cached page so
// that its later runs load it instead of compiling the program again.
// Empty until a run compiled it. Safe from any thread.
class ProgramCode {
 public:
  std::shared_ptr<const std::string> Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return code_;
  }
  void Set(std::string code) {
    auto shared = std::make_shared<const std::string>(std::move(code));
    std::lock_guard<std::mutex> lock(mutex_);
    code_ = std::move(shared);
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const std::string> code_;
};

class ScriptEngine {
 public:
  // Raises std::runtime_error when the heap cannot be created.
  explicit ScriptEngine(const EngineLimits& limits = {});
  // Destroys the heap (script finalizers run, releasing what they hold),
  // then releases whatever automation references are left.
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  // The engine for one page: a heap an earlier page left as good as new,
  // else a new one. Raises as the constructor.
  static std::unique_ptr<ScriptEngine> Acquire(const EngineLimits& limits);
  // Takes back an engine from Acquire once its page is done. The heap is
  // kept for a later page only when the page completed or was
  // stopped, the globals it added are gone again, nothing else reachable
  // from the global object was changed (built-ins, their functions, the
  // host's globals) and script holds no automation reference any more.
  // Otherwise it is destroyed. Either way, script holds nothing on return.
  static void Recycle(std::unique_ptr<ScriptEngine> engine);
  // Heaps created so far in this process.
  static size_t HeapsCreated();
  // Destroys the heaps kept for later pages.
  static void DropIdleHeaps();

  duk_context* context() const { return ctx_; }
  DispatchBridge& bridge() { return *bridge_; }

  // Makes global variable `name` the script object of `object`. Raises
  // std::runtime_error when the engine fails.
  void DefineObject(const char* name, IDispatch* object);
  // Sends the program's writes to `sink` (null: they are dropped).
  void SetOutput(OutputSink* sink) { output_ = sink; }

  // Compiles and runs `page` as a global program. The deadline starts now.
  // Never raises; a failure is an outcome. With `code`, the program is
  // loaded from its bytecode when `code` has it, and else compiled and its
  // bytecode kept there.
  ScriptOutcome Run(const CompiledPage& page, ProgramCode* code = nullptr);

  // Asks the running page to stop as soon as control is back in script
  // (Response.End). Run then answers kStopped.
  void RequestStop() { stop_requested_ = true; }
  bool stop_requested() const { return stop_requested_; }

  // The executor's question: answers true once the page must stop.
  bool ShouldInterrupt();

  // Bytes the heap holds now.
  size_t heap_bytes() const { return heap_bytes_; }

 private:
  static void* Alloc(void* udata, duk_size_t size);
  static void* Realloc(void* udata, void* ptr, duk_size_t size);
  static void Free(void* udata, void* ptr);
  static void Fatal(void* udata, const char* message);
  static duk_ret_t WriteNative(duk_context* ctx);
  static duk_ret_t ThrowHook(duk_context* ctx);
  int WriteValue(duk_idx_t index);
  // Readies a heap for another page; false when it is not fit for one.
  bool ResetForNextPage();

  EngineLimits limits_;
  ScriptArena arena_;  // outlives the heap, which frees into it
  duk_context* ctx_ = nullptr;
  std::unique_ptr<DispatchBridge> bridge_;
  OutputSink* output_ = nullptr;
  std::chrono::steady_clock::time_point deadline_;
  bool running_ = false;
  bool stop_requested_ = false;
  bool timed_out_ = false;
  int last_throw_line_ = 0;  // program line of the latest throw of a non-Error
  size_t heap_bytes_ = 0;
  // Set by Acquire: the heap's state when new, and the pages it has run.
  quill_duk_baseline* baseline_ = nullptr;
  int pages_run_ = 0;
  bool last_run_clean_ = false;  // the latest Run completed or was stopped
};

// An engine of the pool (ScriptEngine::Acquire) for one page,
// given back when the scope ends.
class PooledEngine {
 public:
  explicit PooledEngine(const EngineLimits& limits) : engine_(ScriptEngine::Acquire(limits)) {}
  ~PooledEngine() { ScriptEngine::Recycle(std::move(engine_)); }
  PooledEngine(const PooledEngine&) = delete;
  PooledEngine& operator=(const PooledEngine&) = delete;

  ScriptEngine& operator*() const { return *engine_; }
  ScriptEngine* operator->() const { return engine_.get(); }

 private:
  std::unique_ptr<ScriptEngine> engine_;
};

}  // namespace quill::asp
