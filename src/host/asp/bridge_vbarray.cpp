// VBArray over a safe array in the bridge's reference table. The table
// holds a copy of the array the object returned, so a VBArray stays as it
// was when it was read.
#include "host/asp/bridge_vbarray.h"

#include <cmath>
#include <string>
#include <vector>

namespace quill::asp::bridge {

namespace {

// The VBArray `this` of a method: its reference, or null with an error pushed.
DispatchBridge::Ref* ThisArray(duk_context* ctx, DispatchBridge* b) {
  DispatchBridge::Ref* ref = ThisRef(ctx, b, DispatchBridge::RefKind::Array);
  if (ref == nullptr) b->PushError(E_UNEXPECTED, "not a VBArray, or one that has been released");
  return ref;
}

// Pushes element k of `elements`; answers 1, or -1 with an error pushed.
int PushElement(DispatchBridge* b, const olert::SafeArrayElements& elements, size_t k) {
  olert::ScopedVariant element;
  const HRESULT hr = elements.CopyTo(k, element.get());
  if (FAILED(hr)) {
    b->PushError(hr, "cannot read an element of the array");
    return -1;
  }
  return b->PushVariant(*element) ? 1 : -1;
}

duk_ret_t VBArrayToArray(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  return Finish(ctx, Guarded(b, [&]() -> int {
                  DispatchBridge::Ref* ref = ThisArray(ctx, b);
                  if (ref == nullptr) return -1;
                  const olert::SafeArrayElements elements(ref->array.get());
                  auto make = [](duk_context* c) noexcept -> duk_ret_t {
                    duk_push_array(c);
                    return 1;
                  };
                  if (SafeRun(ctx, make, 0, 1) != DUK_EXEC_SUCCESS) return -1;
                  const duk_idx_t out = duk_get_top_index(ctx);
                  for (size_t k = 0; k < elements.size(); ++k) {
                    if (PushElement(b, elements, k) < 0) return -1;
                    auto put = [out, k](duk_context* c) noexcept -> duk_ret_t {
                      duk_put_prop_index(c, out, static_cast<duk_uarridx_t>(k));
                      return 0;
                    };
                    if (SafeRun(ctx, put, 1, 0) != DUK_EXEC_SUCCESS) return -1;
                  }
                  return 1;
                }));
}

duk_ret_t VBArrayBound(duk_context* ctx, bool upper) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const UINT dim = duk_is_undefined(ctx, 0) ? 1 : static_cast<UINT>(duk_get_int(ctx, 0));
  return Finish(ctx, Guarded(b, [&]() -> int {
                  DispatchBridge::Ref* ref = ThisArray(ctx, b);
                  if (ref == nullptr) return -1;
                  LONG bound = 0;
                  const HRESULT hr = upper ? SafeArrayGetUBound(ref->array.get(), dim, &bound)
                                           : SafeArrayGetLBound(ref->array.get(), dim, &bound);
                  if (FAILED(hr)) {
                    b->PushError(DISP_E_BADINDEX,
                                 "Subscript out of range: the array has no dimension " + std::to_string(dim));
                    return -1;
                  }
                  duk_push_int(ctx, bound);
                  return 1;
                }));
}

duk_ret_t VBArrayLBound(duk_context* ctx) { return VBArrayBound(ctx, false); }
duk_ret_t VBArrayUBound(duk_context* ctx) { return VBArrayBound(ctx, true); }

duk_ret_t VBArrayDimensions(duk_context* ctx) {
  DispatchBridge::Ref* ref = ThisRef(ctx, DispatchBridge::Of(ctx), DispatchBridge::RefKind::Array);
  if (ref == nullptr) {
    BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "not a VBArray, or one that has been released");
    return 0;
  }
  duk_push_uint(ctx, SafeArrayGetDim(ref->array.get()));
  return 1;
}

duk_ret_t VBArrayGetItem(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const duk_idx_t count = duk_get_top(ctx);
  return Finish(ctx, Guarded(b, [&]() -> int {
                  DispatchBridge::Ref* ref = ThisArray(ctx, b);
                  if (ref == nullptr) return -1;
                  SAFEARRAY* array = ref->array.get();
                  if (static_cast<UINT>(count) != array->cDims) {
                    b->PushError(DISP_E_BADPARAMCOUNT,
                                 "getItem needs " + std::to_string(array->cDims) + " index(es), one per dimension");
                    return -1;
                  }
                  std::vector<LONG> indexes(static_cast<size_t>(count));
                  for (duk_idx_t i = 0; i < count; ++i) {
                    const double d = duk_get_number_default(ctx, i, std::nan(""));
                    if (!std::isfinite(d) || d != std::trunc(d) || d < -2147483648.0 || d > 2147483647.0) {
                      b->PushError(DISP_E_TYPEMISMATCH,
                                   "getItem: index " + std::to_string(i + 1) + " is not a whole number");
                      return -1;
                    }
                    indexes[static_cast<size_t>(i)] = static_cast<LONG>(d);
                  }
                  void* data = nullptr;
                  if (FAILED(SafeArrayPtrOfIndex(array, indexes.data(), &data)) || data == nullptr) {
                    b->PushError(DISP_E_BADINDEX, "Subscript out of range");
                    return -1;
                  }
                  // The element's place in storage order.
                  const size_t k =
                      static_cast<size_t>(static_cast<char*>(data) - static_cast<char*>(array->pvData)) /
                      array->cbElements;
                  return PushElement(b, olert::SafeArrayElements(array), k);
                }));
}

// new VBArray(value): a VBArray as it is, or an array made into one.
duk_ret_t VBArrayConstruct(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  if (b->Find(RefIdAt(ctx, 0), DispatchBridge::RefKind::Array) != nullptr) {
    duk_dup(ctx, 0);
    return 1;
  }
  if (!duk_is_array(ctx, 0)) {
    BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "VBArray expects a safe array (or an array)");
    return 0;
  }
  return Finish(ctx, Guarded(b, [&]() -> int {
                  olert::ScopedVariant value;
                  if (!b->ToVariant(0, value.get())) return -1;
                  return b->PushVariant(*value) ? 1 : -1;
                }));
}

}  // namespace

ScriptClass VBArrayClass() {
  static const NativeMethod kMethods[] = {{"toArray", VBArrayToArray, 0},
                                          {"lbound", VBArrayLBound, 1},
                                          {"ubound", VBArrayUBound, 1},
                                          {"getItem", VBArrayGetItem, DUK_VARARGS},
                                          {"dimensions", VBArrayDimensions, 0}};
  return ScriptClass{"VBArray", VBArrayConstruct, kMethods};
}

}  // namespace quill::asp::bridge
