// The frame rules of the automation bridge, and the reference table entry
// that its parts share.
//
// The engine reports errors by longjmp, which runs no C++ destructor. So a
// native function the engine calls (a Proxy trap, a VBArray or Enumerator
// method) reads its arguments with calls that cannot throw, hands the work
// to C++ code that owns whatever it needs (Guarded), lets that code touch
// the engine only through SafeRun, and throws the error the code left on
// the stack (Finish) only after it has returned. The bodies run under
// SafeRun are "engine frames": they own nothing, so an engine error
// unwinding them loses nothing. Engine frames raise with BRIDGE_ERROR.
//
// Every automation reference a script object stands for (an object, an
// array, an enumerator) is a Ref in the bridge's table; the script object
// keeps only the Ref's id in a hidden property, and its finalizer drops it.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "duktape.h"
#include "host/asp/dispatch_bridge.h"
#include "host/asp/text_writer.h"
#include "platform/olert/automation.h"

namespace quill::asp {

// Destroys a safe array the bridge took over.
struct SafeArrayDestroyer {
  void operator()(SAFEARRAY* array) const noexcept { SafeArrayDestroy(array); }
};
using OwnedSafeArray = std::unique_ptr<SAFEARRAY, SafeArrayDestroyer>;

// One reference the bridge holds; which members are set depends on `kind`.
struct DispatchBridge::Ref {
  RefKind kind = RefKind::Object;
  // Declared in this order so that they go in the order the runtime expects:
  // the current item first, the array last.
  OwnedSafeArray array;
  olert::ComPtr<IEnumVARIANT> enumerator;
  olert::ComPtr<IDispatch> object;
  olert::ScopedVariant current;  // the enumerator's current item
  bool at_end = true;
  // Names as script spells them -> DISPID, DISPID_UNKNOWN for names the
  // object does not know: each is asked of the object once.
  std::unordered_map<std::string, DISPID> ids;
  bool self_resolved = false;
  DISPID self_id = DISPID_VALUE;
  int store = -1;  // answers IID_IQuillValueStore: 1, not: 0, not asked yet: -1
  // The object's IQuillTextWriter (the host's Response), asked for once.
  olert::ComPtr<IQuillTextWriter> text_writer;
  bool text_writer_asked = false;
};

namespace bridge {

// Hidden property names of the bridge's own script objects (kRefIdKey, the
// reference id, is in dispatch_bridge.h).
inline constexpr const char* kDispIdKey = "\xFF" "quillDispId";  // a member function's DISPID
inline constexpr const char* kNameKey = "\xFF" "quillName";      // ... and its name
inline constexpr const char* kTargetKey = "\xFF" "quillTarget";  // ... and its object

// Errors raised here blame the page line that made the call, not this file.
#define BRIDGE_ERROR(ctx, code, ...) duk_error_raw((ctx), (code), nullptr, 0, __VA_ARGS__)

// Runs `body` (an engine frame: a noexcept callable that owns nothing, taking
// the context and answering the engine's return count) under duk_safe_call.
// On failure the error is the value at the top.
template <typename F>
duk_int_t SafeRun(duk_context* ctx, F& body, duk_idx_t nargs, duk_idx_t nrets) {
  return duk_safe_call(
      ctx, [](duk_context* c, void* udata) -> duk_ret_t { return (*static_cast<F*>(udata))(c); },
      &body, nargs, nrets);
}

// Runs `work`, C++ code that answers 1 with its result pushed or -1 with an
// error pushed; an exception (memory ran out) also becomes an error pushed.
template <typename F>
int Guarded(DispatchBridge* b, F&& work) noexcept {
  try {
    return work();
  } catch (...) {
    b->PushError(E_OUTOFMEMORY, "out of memory");
    return -1;
  }
}

// The end of a native function: throws the error at the top when `rc` < 0
// (Guarded's answer), else answers `rc`.
inline duk_ret_t Finish(duk_context* ctx, int rc) {
  if (rc < 0) return duk_throw(ctx);
  return rc;
}

// The reference id kept in the hidden property of the object at `index`; 0
// when there is none. Engine frame.
uint32_t RefIdAt(duk_context* ctx, duk_idx_t index) noexcept;

// The reference of `this` of a method call when it is of `kind`, or null.
// Raises nothing.
DispatchBridge::Ref* ThisRef(duk_context* ctx, DispatchBridge* b, DispatchBridge::RefKind kind) noexcept;

// The object reference `id`, or null with "the automation object has been
// released" pushed.
DispatchBridge::Ref* ObjectOrError(DispatchBridge* b, uint32_t id);

// Pushes a plain script object standing for reference `id`, with
// `prototype` and the finalizer that drops the reference. Engine frame.
void PushRefObject(duk_context* ctx, DispatchBridge* b, uint32_t id, void* prototype) noexcept;
// Pushes a function bound to reference `id` that runs `fn`. Engine frame.
void PushBoundFunction(duk_context* ctx, duk_c_function fn, uint32_t id) noexcept;
// The finalizer of every script object that stands for a reference.
duk_ret_t RefFinalizer(duk_context* ctx);

// The description a failed call of member `name` gets when the object gave
// none ("Type mismatch in 'Name'").
std::string StandardDescription(HRESULT hr, std::string_view name);

// How a failed call of an automation member reaches script.
struct CallFailure {
  HRESULT number = S_OK;    // the error's number: EXCEPINFO's code, else the HRESULT
  std::string description;  // from EXCEPINFO, the thread's error information, or standard
};

// Invokes member `dispid` of `object` with `params` into *result (null for a
// put). Clears the thread's error information first, so that what is read
// on failure comes from this call; on failure fills *failure, naming the
// member `name` in a standard description. Answers the HRESULT.
HRESULT CallMember(IDispatch* object, DISPID dispid, WORD flags, DISPPARAMS& params, VARIANT* result,
                   std::string_view name, CallFailure* failure);

// Response.Write of one text through `writer`, failing as CallMember does.
HRESULT CallWriteText(IQuillTextWriter* writer, std::string_view utf8, std::string_view name,
                      CallFailure* failure);

// A native function and its argument count, as the installation lists them.
struct NativeMethod {
  const char* name;
  duk_c_function fn;
  duk_idx_t nargs;
};

// A class the bridge defines as a global: its constructor (one argument)
// and the methods of its prototype.
struct ScriptClass {
  const char* global;
  duk_c_function construct;
  std::span<const NativeMethod> methods;
};

}  // namespace bridge
}  // namespace quill::asp
