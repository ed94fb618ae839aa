// The Proxy over an automation object: its traps, the functions that stand
// for its members at a call site, and the one place where script arguments
// become DISPPARAMS and a member is invoked. Names resolve through
// GetIDsOfNames once per object and name (the Ref's cache).
#include "host/asp/bridge_proxy.h"

#include <string>
#include <type_traits>
#include <vector>

#include "host/asp/automation_object.h"
#include "host/asp/bridge_values.h"
#include "host/asp/call_assignment.h"
#include "host/asp/duk_internals.h"
#include "host/asp/duk_text.h"
#include "host/asp/script_values.h"
#include "host/asp/value_store.h"

namespace quill::asp::bridge {

namespace {

// The arguments of one call are owned as ScopedVariants and handed to the
// object as the VARIANT array DISPPARAMS wants: the owner is the VARIANT.
static_assert(sizeof(olert::ScopedVariant) == sizeof(VARIANT) &&
              std::is_standard_layout_v<olert::ScopedVariant>);

// Resolves `name` on the object of `ref`, through its cache. DISPID_UNKNOWN
// when the object does not know it.
DISPID Resolve(DispatchBridge::Ref& ref, std::string_view name) {
  const std::string key(name);
  if (auto found = ref.ids.find(key); found != ref.ids.end()) return found->second;
  std::u16string wide = DukToUtf16(name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(ref.object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
    id = DISPID_UNKNOWN;
  }
  ref.ids.emplace(key, id);
  return id;
}

// The member a call of the object itself goes to: the one with the empty
// name when the object has one, else the default member.
DISPID ResolveSelf(DispatchBridge::Ref& ref) {
  if (!ref.self_resolved) {
    OLECHAR empty[] = {0};
    LPOLESTR names[] = {empty};
    DISPID id = DISPID_UNKNOWN;
    if (SUCCEEDED(ref.object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) &&
        id != DISPID_UNKNOWN) {
      ref.self_id = id;
    } else {
      ref.self_id = DISPID_VALUE;
    }
    ref.self_resolved = true;
  }
  return ref.self_id;
}

// True when the object of `ref` keeps what is put into it beyond the page.
bool IsStore(DispatchBridge::Ref& ref) {
  if (ref.store < 0) ref.store = ref.object.Query<IUnknown>(IID_IQuillValueStore) ? 1 : 0;
  return ref.store == 1;
}

// A JScript array or plain object: what a store keeps packed. Engine frame.
bool IsStructure(duk_context* ctx, DispatchBridge* b, duk_idx_t index) noexcept {
  if (!duk_is_object(ctx, index) || duk_is_function(ctx, index) || RefIdAt(ctx, index) != 0) return false;
  return !IsDate(ctx, b, index);
}

// *out becomes the packed form of the structure at `index`; false with an
// error pushed when it cannot be packed.
bool PackValue(duk_context* ctx, duk_idx_t index, olert::ScopedVariant* out) {
  const duk_idx_t absolute = duk_normalize_index(ctx, index);
  auto body = [absolute](duk_context* c) noexcept -> duk_ret_t {
    PushPackedText(c, absolute);
    return 1;
  };
  if (SafeRun(ctx, body, 0, 1) != DUK_EXEC_SUCCESS) return false;
  duk_size_t n = 0;
  const char* p = duk_get_lstring(ctx, -1, &n);
  VARIANT* slot = out->Receive();
  slot->vt = VT_UNKNOWN;
  slot->punkVal = PackedValue::Create(std::string(p, n));
  duk_pop(ctx);
  return true;
}

// The object's IQuillTextWriter when `name` is its Write, else null.
IQuillTextWriter* TextWriterFor(DispatchBridge::Ref& ref, std::string_view name) {
  if (name.size() != 5 || !SameNoCase(name, "write")) return nullptr;
  if (!ref.text_writer_asked) {
    ref.text_writer = ref.object.Query<IQuillTextWriter>(IID_IQuillTextWriter);
    ref.text_writer_asked = true;
  }
  return ref.text_writer.get();
}

// Response.Write(text) of the host's own Response: the engine's bytes go
// out as UTF-8 without a BSTR in between. Same answers as Invoke.
int WriteText(duk_context* ctx, DispatchBridge* b, IQuillTextWriter* target, duk_idx_t index,
              std::string_view name) {
  const olert::ComPtr<IQuillTextWriter> writer = olert::ComPtr<IQuillTextWriter>::Retain(target);
  duk_size_t n = 0;
  const char* p = duk_get_lstring(ctx, index, &n);
  std::string scratch;
  const std::string_view text = DukAsUtf8(std::string_view(p, n), &scratch);
  CallFailure failure;
  const HRESULT hr = CallWriteText(writer.get(), text, name, &failure);
  if (b->StopRequested()) quill_duk_interrupt_now(ctx);
  if (FAILED(hr)) {
    b->PushError(failure.number, failure.description);
    return -1;
  }
  duk_push_undefined(ctx);
  return 1;
}

// Invokes member `dispid` of object `id` with the script values at
// [first, first + count) as arguments and, when put_index >= 0, the value
// there as the property put's value. Leaves the result (or, on failure, an
// Error) at the top of the stack; answers 1 or -1.
int Invoke(duk_context* ctx, DispatchBridge* b, uint32_t id, DISPID dispid, WORD flags, duk_idx_t first,
           duk_idx_t count, duk_idx_t put_index, std::string_view name) noexcept {
  return Guarded(b, [&]() -> int {
    DispatchBridge::Ref* ref = ObjectOrError(b, id);
    if (ref == nullptr) return -1;
    const bool put = put_index >= 0;
    if (!put && count == 1 && flags == (DISPATCH_METHOD | DISPATCH_PROPERTYGET) && duk_is_string(ctx, first) &&
        !duk_is_symbol(ctx, first)) {
      if (IQuillTextWriter* writer = TextWriterFor(*ref, name)) return WriteText(ctx, b, writer, first, name);
    }
    const olert::ComPtr<IDispatch> object = ref->object;  // the Ref may be dropped while arguments convert

    const size_t total = static_cast<size_t>(count) + (put ? 1 : 0);
    std::vector<olert::ScopedVariant> args(total);
    // rgvarg holds the put value first (it is the named argument), then the
    // positional arguments last to first.
    if (put && !(IsStore(*ref) && IsStructure(ctx, b, put_index) ? PackValue(ctx, put_index, &args[0])
                                                                 : b->ToVariant(put_index, args[0].get()))) {
      return -1;
    }
    for (duk_idx_t i = 0; i < count; ++i) {
      if (!b->ToVariant(first + i, args[total - 1 - static_cast<size_t>(i)].get())) return -1;
    }
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{total > 0 ? args[0].get() : nullptr, put ? &named : nullptr, static_cast<UINT>(total),
                      put ? 1u : 0u};
    olert::ScopedVariant result;
    CallFailure failure;
    const HRESULT hr = CallMember(object.get(), dispid, flags, params, put ? nullptr : result.get(), name, &failure);
    if (b->StopRequested()) quill_duk_interrupt_now(ctx);
    if (FAILED(hr)) {
      b->PushError(failure.number, failure.description);
      return -1;
    }
    if (put) {
      duk_push_true(ctx);
      return 1;
    }
    return b->PushVariant(*result) ? 1 : -1;
  });
}

// A call of member `dispid` (of `name`) with the script values at
// [first, first + count) as arguments: `obj.Name(...)` and `obj(...)`. With
// arguments it may be a parameterised property as well as a method.
int CallWithArguments(duk_context* ctx, DispatchBridge* b, uint32_t id, DISPID dispid, duk_idx_t first,
                      duk_idx_t count, std::string_view name) noexcept {
  const WORD flags = count > 0 ? static_cast<WORD>(DISPATCH_METHOD | DISPATCH_PROPERTYGET) : DISPATCH_METHOD;
  return Invoke(ctx, b, id, dispid, flags, first, count, -1, name);
}

// Pushes the error for a name the object does not know.
int UnknownName(DispatchBridge* b, std::string_view name) {
  b->PushError(DISP_E_UNKNOWNNAME, StandardDescription(DISP_E_UNKNOWNNAME, DukToUtf8(name)));
  return -1;
}

// --- Native functions --------------------------------------------------------

duk_ret_t ProxyTarget(duk_context* ctx) {
  BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "an automation object cannot be used with 'new'");
  return 0;
}

// The function that reads the default member: toString, valueOf and
// Symbol.toPrimitive of a bridged object.
duk_ret_t DefaultValue(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  duk_push_current_function(ctx);
  const uint32_t id = RefIdAt(ctx, -1);
  duk_pop(ctx);
  return Finish(ctx, Guarded(b, [&]() -> int {
                  DispatchBridge::Ref* ref = ObjectOrError(b, id);
                  if (ref == nullptr) return -1;
                  DISPPARAMS none{nullptr, nullptr, 0, 0};
                  olert::ScopedVariant result;
                  CallFailure failure;
                  const HRESULT hr = CallMember(ref->object.get(), DISPID_VALUE, DISPATCH_PROPERTYGET, none,
                                                result.get(), "default member", &failure);
                  if (FAILED(hr)) {
                    if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME) {
                      failure.description = "the automation object has no default value";
                    }
                    b->PushError(failure.number, failure.description);
                    return -1;
                  }
                  if (result.vt() == VT_DISPATCH || result.vt() == VT_UNKNOWN) {
                    // An object's primitive value is its own default value, as text.
                    std::string text;
                    if (!VariantToUtf8(*result, &text)) {
                      b->PushError(DISP_E_TYPEMISMATCH, "the automation object has no default value");
                      return -1;
                    }
                    olert::ScopedVariant converted;
                    converted->vt = VT_BSTR;
                    converted->bstrVal = Utf8ToBstr(text);
                    return b->PushVariant(*converted) ? 1 : -1;
                  }
                  return b->PushVariant(*result) ? 1 : -1;
                }));
}

// A member reached at a call site: `obj.Name(...)`.
duk_ret_t MemberCall(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const duk_idx_t count = duk_get_top(ctx);
  duk_push_current_function(ctx);
  const uint32_t id = RefIdAt(ctx, -1);
  GetHiddenProp(ctx, -1, kDispIdKey);
  const DISPID dispid = duk_get_int(ctx, -1);
  duk_pop(ctx);
  GetHiddenProp(ctx, -1, kNameKey);  // stays on the stack while its text is used
  duk_size_t n = 0;
  const char* name = duk_get_lstring(ctx, -1, &n);
  return Finish(ctx, CallWithArguments(ctx, b, id, dispid, 0, count, std::string_view(name != nullptr ? name : "", n)));
}

// `X(args) = value` and `X.Name(args) = value` (see call_assignment.h): a
// property put (or, for the read of a compound assignment, get) with the
// arguments noted by __quill_put, which the trap pushed at `first` (the
// member's name, then `count` arguments). A put's value is at 2.
int PutThroughCall(duk_context* ctx, DispatchBridge* b, DispatchBridge::Ref& ref, uint32_t id, duk_idx_t first,
                   duk_idx_t count, bool put) {
  duk_size_t n = 0;
  const char* member = duk_get_lstring(ctx, first, &n);
  const std::string name(member != nullptr ? member : "", n);
  DISPID dispid = DISPID_UNKNOWN;
  if (name.empty()) {
    dispid = ResolveSelf(ref);
  } else {
    dispid = Resolve(ref, name);
    if (dispid == DISPID_UNKNOWN) return UnknownName(b, name);
  }
  return Invoke(ctx, b, id, dispid, put ? DISPATCH_PROPERTYPUT : DISPATCH_PROPERTYGET, first + 1, count,
                put ? 2 : -1, name.empty() ? std::string_view("default member") : std::string_view(name));
}

// get(target, key, receiver)
duk_ret_t TrapGet(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t id = RefIdAt(ctx, 0);
  if (duk_is_symbol(ctx, 1)) {
    if (b->to_primitive_symbol() != nullptr && duk_get_heapptr(ctx, 1) == b->to_primitive_symbol()) {
      PushBoundFunction(ctx, DefaultValue, id);
    } else {
      duk_push_undefined(ctx);
    }
    return 1;
  }
  const bool for_call = quill_duk_read_is_for_call(ctx) != 0;
  duk_size_t n = 0;
  const char* key = duk_get_lstring(ctx, 1, &n);
  const std::string_view name(key != nullptr ? key : "", n);
  // The read of a compound assignment to a call: the noted arguments stay
  // for the put that follows. Nothing in this frame owns anything yet.
  const bool through_call = name == kPutKey;
  const duk_idx_t first = duk_get_top(ctx);
  const duk_idx_t count = through_call ? PushPendingPut(ctx, true) : 0;
  return Finish(ctx, Guarded(b, [&]() -> int {
                  DispatchBridge::Ref* ref = ObjectOrError(b, id);
                  if (ref == nullptr) return -1;
                  if (through_call) return PutThroughCall(ctx, b, *ref, id, first, count, false);
                  const DISPID dispid = Resolve(*ref, name);
                  if (dispid == DISPID_UNKNOWN) {
                    if (name == "toString" || name == "valueOf") {
                      auto push = [id](duk_context* c) noexcept -> duk_ret_t {
                        PushBoundFunction(c, DefaultValue, id);
                        return 1;
                      };
                      return SafeRun(ctx, push, 0, 1) == DUK_EXEC_SUCCESS ? 1 : -1;
                    }
                    if (!for_call && (name == "toJSON" || name == "then" || name == "constructor")) {
                      // Probes the language makes of any object.
                      duk_push_undefined(ctx);
                      return 1;
                    }
                    return UnknownName(b, name);
                  }
                  if (for_call) {
                    auto push = [id, dispid, key, n](duk_context* c) noexcept -> duk_ret_t {
                      duk_push_c_function(c, MemberCall, DUK_VARARGS);
                      duk_push_uint(c, id);
                      PutHiddenProp(c, -2, kRefIdKey);
                      duk_push_int(c, dispid);
                      PutHiddenProp(c, -2, kDispIdKey);
                      duk_push_lstring(c, key, n);
                      PutHiddenProp(c, -2, kNameKey);
                      // The member keeps the object alive for as long as it lives.
                      duk_dup(c, 0);
                      PutHiddenProp(c, -2, kTargetKey);
                      return 1;
                    };
                    return SafeRun(ctx, push, 0, 1) == DUK_EXEC_SUCCESS ? 1 : -1;
                  }
                  return Invoke(ctx, b, id, dispid, DISPATCH_PROPERTYGET, 0, 0, -1, name);
                }));
}

// set(target, key, value, receiver)
duk_ret_t TrapSet(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t id = RefIdAt(ctx, 0);
  if (duk_is_symbol(ctx, 1)) {
    BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "an automation object has no Symbol properties");
    return 0;
  }
  duk_size_t n = 0;
  const char* key = duk_get_lstring(ctx, 1, &n);
  const std::string_view name(key != nullptr ? key : "", n);
  const bool through_call = name == kPutKey;
  const duk_idx_t first = duk_get_top(ctx);
  // Nothing in this frame owns anything yet: the engine may raise here.
  const duk_idx_t count = through_call ? PushPendingPut(ctx) : 0;
  return Finish(ctx, Guarded(b, [&]() -> int {
                  DispatchBridge::Ref* ref = ObjectOrError(b, id);
                  if (ref == nullptr) return -1;
                  if (through_call) return PutThroughCall(ctx, b, *ref, id, first, count, true);
                  const DISPID dispid = Resolve(*ref, name);
                  if (dispid == DISPID_UNKNOWN) return UnknownName(b, name);
                  return Invoke(ctx, b, id, dispid, DISPATCH_PROPERTYPUT, 0, 0, 2, name);
                }));
}

// has(target, key)
duk_ret_t TrapHas(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t id = RefIdAt(ctx, 0);
  if (duk_is_symbol(ctx, 1)) {
    duk_push_false(ctx);
    return 1;
  }
  duk_size_t n = 0;
  const char* key = duk_get_lstring(ctx, 1, &n);
  bool known = false;
  bool failed = false;
  try {
    if (DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Object)) {
      known = Resolve(*ref, std::string_view(key != nullptr ? key : "", n)) != DISPID_UNKNOWN;
    }
  } catch (...) {
    failed = true;
  }
  if (failed) {
    BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
    return 0;
  }
  duk_push_boolean(ctx, known);
  return 1;
}

duk_ret_t TrapDelete(duk_context* ctx) {
  duk_push_false(ctx);
  return 1;
}

// apply(target, thisArg, args): a call of the object itself.
duk_ret_t TrapApply(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t id = RefIdAt(ctx, 0);
  const duk_size_t length = duk_get_length(ctx, 2);
  if (length > 1024 || !duk_check_stack(ctx, static_cast<duk_idx_t>(length) + 8)) {
    BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "too many arguments for an automation call");
    return 0;
  }
  const duk_idx_t first = duk_get_top(ctx);
  for (duk_size_t i = 0; i < length; ++i) duk_get_prop_index(ctx, 2, static_cast<duk_uarridx_t>(i));
  const duk_idx_t count = static_cast<duk_idx_t>(length);
  return Finish(ctx, Guarded(b, [&]() -> int {
                  DispatchBridge::Ref* ref = ObjectOrError(b, id);
                  if (ref == nullptr) return -1;
                  return CallWithArguments(ctx, b, id, ResolveSelf(*ref), first, count, "default member");
                }));
}

}  // namespace

void PushProxy(duk_context* ctx, DispatchBridge* b, uint32_t id) noexcept {
  duk_push_c_function(ctx, ProxyTarget, DUK_VARARGS);
  duk_push_uint(ctx, id);
  PutHiddenProp(ctx, -2, kRefIdKey);
  duk_push_heapptr(ctx, b->finalizer());
  duk_set_finalizer(ctx, -2);
  duk_push_heapptr(ctx, b->handler());
  duk_push_proxy(ctx, 0);
}

std::span<const NativeMethod> ProxyTraps() {
  static const NativeMethod kTraps[] = {{"get", TrapGet, 3},
                                        {"set", TrapSet, 4},
                                        {"has", TrapHas, 2},
                                        {"deleteProperty", TrapDelete, 2},
                                        {"apply", TrapApply, 3}};
  return kTraps;
}

}  // namespace quill::asp::bridge
