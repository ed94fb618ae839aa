// DispatchBridge: automation objects as script objects, and values both ways.
//
// An IDispatch reaches script as a Proxy over a callable target:
//   obj.Name            DISPATCH_PROPERTYGET
//   obj.Name = v        DISPATCH_PROPERTYPUT, v as the named argument
//                       DISPID_PROPERTYPUT
//   obj.Name(a, b)      DISPATCH_METHOD | DISPATCH_PROPERTYGET (a
//                       parameterised property or a method)
//   obj.Name()          DISPATCH_METHOD alone (a verb such as MoveNext)
//   obj(a)              the member with the empty name when the object has
//                       one, else the default member (DISPID 0), with the
//                       same flags as a named call
// Names are resolved by GetIDsOfNames once per object and name. A name the
// object does not know raises an error naming it; toString and valueOf
// then read the default member, as does conversion to a primitive.
//
// Values: integral numbers within 32 bits are VT_I4, other numbers VT_R8,
// strings BSTR, booleans VT_BOOL, null VT_NULL, undefined VT_EMPTY, arrays a
// safe array of VARIANT (nested arrays nested), bridged objects
// VT_DISPATCH, Date VT_DATE (local time), other objects their text. Back:
// every numeric type a number, BSTR a string, VT_DATE a Date, VT_DISPATCH
// a bridged object (null for a null pointer), a safe array a VBArray object
// (toArray, lbound, ubound, getItem, dimensions); `new Enumerator(c)` walks
// a collection through DISPID_NEWENUM (or an array).
//
// A failing call throws an Error whose `number` is the HRESULT (as a
// signed 32-bit number) and whose `description` and `message` are the
// error's description, from EXCEPINFO or else from the thread's error
// information (GetErrorInfo).
//
// Every reference the bridge takes (objects, arrays, enumerators) is held
// in its table and released when the script object holding it is collected
// (its finalizer) and, at the latest, by ReleaseAll or the destructor.
//
// The engine reports errors by longjmp. So no function of the bridge lets
// an engine call that can throw run in a frame that owns C++ resources: such
// calls run inside duk_safe_call, in frames that own nothing (the rules are
// in bridge_frame.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "duktape.h"
#include "platform/olert/olert.h"

namespace quill::asp {

class DispatchBridge {
 public:
  // Installs the bridge into the heap of `ctx`: the Proxy handler, VBArray
  // and Enumerator. `should_stop` is asked after each call into an object
  // whether the page has been told to stop (Response.End); when it answers
  // true the engine is interrupted at once. REQUIRES: called outside any
  // script call; the bridge outlives every use of the heap.
  DispatchBridge(duk_context* ctx, bool (*should_stop)(void*), void* stop_data);
  ~DispatchBridge();
  DispatchBridge(const DispatchBridge&) = delete;
  DispatchBridge& operator=(const DispatchBridge&) = delete;

  // Makes global variable `name` the script object for `object` (AddRef'd).
  // Answers false when the engine fails (out of memory).
  bool DefineGlobal(const char* name, IDispatch* object);

  // Converts the script value at `index` into *out (which must be
  // initialised; it is cleared first). Answers false with the engine's error
  // object pushed when the value cannot be converted (an array nested too
  // deep or that contains itself, an invalid Date, a throwing toString).
  // Safe to call from a frame that owns resources.
  bool ToVariant(duk_idx_t index, VARIANT* out);
  // Pushes the script value of `value`; answers false with an error object
  // pushed instead when it has no script form. Safe as ToVariant.
  bool PushVariant(const VARIANT& value);
  // Pushes an Error with `number` and description `message`. Never fails:
  // when memory runs out the engine's own error is pushed instead.
  void PushError(HRESULT number, const std::string& message);

  // References (objects, arrays, enumerators) the bridge still holds.
  size_t LiveReferences() const { return refs_.size(); }
  // Releases every reference; script objects still alive then answer
  // "the object has been released" when used.
  void ReleaseAll();

  // The bridge of the heap `ctx` belongs to (kept in the heap's stash).
  static DispatchBridge* Of(duk_context* ctx);

  // While one lives on a thread, Of() answers its bridge for that bridge's
  // heap without a lookup in the stash (every member call asks). Scopes
  // nest: a page run inside another restores the outer one.
  class RunScope {
   public:
    explicit RunScope(DispatchBridge& bridge);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

   private:
    DispatchBridge* outer_;
  };

  // --- Internals shared with the bridge's native functions ------------------
  struct Ref;
  enum class RefKind { Object, Array, Enumerator };
  // Registers a reference: AddRefs `object` (Object, Enumerator) or takes
  // over `array` (destroying it when it cannot be registered). Answers the
  // new id, or 0 when memory runs out.
  uint32_t AddObject(IDispatch* object) noexcept;
  uint32_t AddArray(SAFEARRAY* array) noexcept;
  uint32_t AddEnumerator(IEnumVARIANT* enumerator) noexcept;
  Ref* Find(uint32_t id, RefKind kind) noexcept;
  void Drop(uint32_t id) noexcept;

  duk_context* ctx() const { return ctx_; }
  void* handler() const { return handler_; }
  void* finalizer() const { return finalizer_; }
  void* vbarray_prototype() const { return vbarray_proto_; }
  void* enumerator_prototype() const { return enumerator_proto_; }
  void* date_constructor() const { return date_ctor_; }
  void* date_get_time() const { return date_get_time_; }
  void* to_primitive_symbol() const { return to_primitive_; }
  bool StopRequested() const { return should_stop_ != nullptr && should_stop_(stop_data_); }

 private:
  uint32_t Add(std::unique_ptr<Ref> ref) noexcept;
  static duk_ret_t Install(duk_context* ctx, void* udata);

  duk_context* ctx_;
  // The heap's own user data, which tells its contexts from other heaps'
  // (null: Of() always looks in the stash).
  void* heap_token_ = nullptr;
  bool (*should_stop_)(void*);
  void* stop_data_;
  std::unordered_map<uint32_t, std::unique_ptr<Ref>> refs_;
  uint32_t next_id_ = 1;
  // Objects of the heap the bridge uses, kept reachable from the stash.
  void* handler_ = nullptr;
  void* finalizer_ = nullptr;
  void* vbarray_proto_ = nullptr;
  void* enumerator_proto_ = nullptr;
  void* date_ctor_ = nullptr;
  void* date_get_time_ = nullptr;
  void* to_primitive_ = nullptr;  // the engine keeps Symbol.toPrimitive as a string
};

// Hidden property names (the engine keeps them out of reach of script
// property access and of Proxy traps).
inline constexpr const char* kRefIdKey = "\xFF" "quillRef";

// Reads and writes of a hidden property. The names are static strings, so
// the engine's literal cache finds their interned string by address instead
// of hashing the text on every member call.
inline duk_bool_t GetHiddenProp(duk_context* ctx, duk_idx_t obj, const char* key) {
  return duk_get_prop_literal_raw(ctx, obj, key, std::char_traits<char>::length(key));
}
inline duk_bool_t PutHiddenProp(duk_context* ctx, duk_idx_t obj, const char* key) {
  return duk_put_prop_literal_raw(ctx, obj, key, std::char_traits<char>::length(key));
}

}  // namespace quill::asp
