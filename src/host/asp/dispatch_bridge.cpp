// Installation of the automation bridge into a script heap: the Proxy
// handler, the reference finalizer, the VBArray and Enumerator classes, and
// the heap's own Date and Symbol.toPrimitive, noted before a page can
// replace them. The parts live next door: bridge_frame (the rules every
// native function keeps, the reference table), bridge_values (conversion),
// bridge_proxy, bridge_vbarray and bridge_enumerator.
#include "host/asp/dispatch_bridge.h"

#include <new>

#include "host/asp/bridge_enumerator.h"
#include "host/asp/bridge_frame.h"
#include "host/asp/bridge_proxy.h"
#include "host/asp/bridge_vbarray.h"
#include "host/asp/call_assignment.h"

namespace quill::asp {

namespace {

// Where the bridge keeps its heap objects, in the heap's stash.
constexpr const char* kBridgeKey = "\xFF" "quillBridge";
constexpr const char* kHandlerKey = "\xFF" "quillHandler";
constexpr const char* kFinalizerKey = "\xFF" "quillFinalizer";
constexpr const char* kVBArrayKey = "\xFF" "quillVBArray";
constexpr const char* kEnumeratorKey = "\xFF" "quillEnumerator";
constexpr const char* kDateKey = "\xFF" "quillDate";
constexpr const char* kGetTimeKey = "\xFF" "quillGetTime";
constexpr const char* kToPrimitiveKey = "\xFF" "quillToPrimitive";

// Pushes an object with the native functions `methods`. Engine frame.
void PushMethods(duk_context* ctx, std::span<const bridge::NativeMethod> methods) noexcept {
  duk_push_object(ctx);
  for (const bridge::NativeMethod& m : methods) {
    duk_push_c_function(ctx, m.fn, m.nargs);
    duk_put_prop_string(ctx, -2, m.name);
  }
}

// Defines the global class `c`, its prototype also kept in the stash under
// `key`. Engine frame.
void DefineClass(duk_context* ctx, duk_idx_t stash, const bridge::ScriptClass& c, const char* key) noexcept {
  duk_push_c_function(ctx, c.construct, 1);
  PushMethods(ctx, c.methods);  // the prototype
  duk_dup(ctx, -1);
  duk_put_prop_string(ctx, stash, key);
  duk_put_prop_string(ctx, -2, "prototype");
  duk_put_global_string(ctx, c.global);
}

}  // namespace

// Installs the heap objects of the bridge and notes where they are. Engine
// frame.
duk_ret_t DispatchBridge::Install(duk_context* ctx, void* udata) {
  auto* b = static_cast<DispatchBridge*>(udata);
  duk_push_global_stash(ctx);
  const duk_idx_t stash = duk_get_top_index(ctx);
  duk_push_pointer(ctx, b);
  duk_put_prop_string(ctx, stash, kBridgeKey);

  PushMethods(ctx, bridge::ProxyTraps());
  duk_put_prop_string(ctx, stash, kHandlerKey);

  duk_push_c_function(ctx, bridge::RefFinalizer, 2);
  duk_put_prop_string(ctx, stash, kFinalizerKey);

  DefineClass(ctx, stash, bridge::VBArrayClass(), kVBArrayKey);
  DefineClass(ctx, stash, bridge::EnumeratorClass(), kEnumeratorKey);

  // The originals, in case a page replaces them.
  duk_get_global_string(ctx, "Date");
  duk_get_prop_string(ctx, -1, "prototype");
  duk_get_prop_string(ctx, -1, "getTime");
  duk_put_prop_string(ctx, stash, kGetTimeKey);
  duk_pop(ctx);
  duk_put_prop_string(ctx, stash, kDateKey);
  duk_get_global_string(ctx, "Symbol");
  if (duk_is_object(ctx, -1)) {
    duk_get_prop_string(ctx, -1, "toPrimitive");
    duk_put_prop_string(ctx, stash, kToPrimitiveKey);
  }
  duk_pop(ctx);

  auto heap_object = [ctx, stash](const char* key) noexcept {
    duk_get_prop_string(ctx, stash, key);
    void* p = duk_get_heapptr(ctx, -1);
    duk_pop(ctx);
    return p;
  };
  b->handler_ = heap_object(kHandlerKey);
  b->finalizer_ = heap_object(kFinalizerKey);
  b->vbarray_proto_ = heap_object(kVBArrayKey);
  b->enumerator_proto_ = heap_object(kEnumeratorKey);
  b->date_ctor_ = heap_object(kDateKey);
  b->date_get_time_ = heap_object(kGetTimeKey);
  b->to_primitive_ = heap_object(kToPrimitiveKey);
  duk_pop(ctx);  // the stash
  InstallCallAssignment(ctx);
  return 0;
}

namespace {

// The bridge of the innermost RunScope on this thread.
thread_local DispatchBridge* t_running = nullptr;

void* HeapToken(duk_context* ctx) {
  duk_memory_functions functions{};
  duk_get_memory_functions(ctx, &functions);
  return functions.udata;
}

}  // namespace

DispatchBridge::DispatchBridge(duk_context* ctx, bool (*should_stop)(void*), void* stop_data)
    : ctx_(ctx), heap_token_(HeapToken(ctx)), should_stop_(should_stop), stop_data_(stop_data) {
  const duk_int_t rc = duk_safe_call(ctx, Install, this, 0, 1);
  duk_pop(ctx);
  if (rc != DUK_EXEC_SUCCESS) throw std::bad_alloc();
}

DispatchBridge::~DispatchBridge() { ReleaseAll(); }

DispatchBridge::RunScope::RunScope(DispatchBridge& bridge) : outer_(t_running) {
  t_running = &bridge;
}

DispatchBridge::RunScope::~RunScope() { t_running = outer_; }

DispatchBridge* DispatchBridge::Of(duk_context* ctx) {
  // A heap's token is its owner's address, unique while the heap lives; the
  // running bridge's heap lives as long as its scope.
  if (t_running != nullptr && t_running->heap_token_ != nullptr &&
      HeapToken(ctx) == t_running->heap_token_) {
    return t_running;
  }
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kBridgeKey);
  auto* b = static_cast<DispatchBridge*>(duk_get_pointer(ctx, -1));
  duk_pop_2(ctx);
  return b;
}

}  // namespace quill::asp
