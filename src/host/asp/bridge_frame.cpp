// The bridge's frame rules put to work: the reference table, the script
// objects that stand for references, and how a failed automation call
// becomes a script error (number and description).
#include "host/asp/bridge_frame.h"

#include <new>

#include "host/asp/automation_object.h"
#include "host/asp/duk_text.h"

namespace quill::asp {
namespace bridge {

uint32_t RefIdAt(duk_context* ctx, duk_idx_t index) noexcept {
  if (!duk_is_object(ctx, index)) return 0;
  GetHiddenProp(ctx, index, kRefIdKey);
  const uint32_t id = duk_is_number(ctx, -1) ? duk_get_uint(ctx, -1) : 0;
  duk_pop(ctx);
  return id;
}

DispatchBridge::Ref* ThisRef(duk_context* ctx, DispatchBridge* b, DispatchBridge::RefKind kind) noexcept {
  duk_push_this(ctx);
  const uint32_t id = RefIdAt(ctx, -1);
  duk_pop(ctx);
  return b->Find(id, kind);
}

DispatchBridge::Ref* ObjectOrError(DispatchBridge* b, uint32_t id) {
  DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Object);
  if (ref == nullptr) b->PushError(E_UNEXPECTED, "the automation object has been released");
  return ref;
}

void PushRefObject(duk_context* ctx, DispatchBridge* b, uint32_t id, void* prototype) noexcept {
  duk_push_object(ctx);
  duk_push_heapptr(ctx, prototype);
  duk_set_prototype(ctx, -2);
  duk_push_uint(ctx, id);
  PutHiddenProp(ctx, -2, kRefIdKey);
  duk_push_heapptr(ctx, b->finalizer());
  duk_set_finalizer(ctx, -2);
}

void PushBoundFunction(duk_context* ctx, duk_c_function fn, uint32_t id) noexcept {
  duk_push_c_function(ctx, fn, DUK_VARARGS);
  duk_push_uint(ctx, id);
  PutHiddenProp(ctx, -2, kRefIdKey);
}

duk_ret_t RefFinalizer(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t id = RefIdAt(ctx, 0);
  if (b != nullptr && id != 0) b->Drop(id);
  return 0;
}

std::string StandardDescription(HRESULT hr, std::string_view name) {
  const std::string member = "'" + std::string(name) + "'";
  switch (hr) {
    case DISP_E_UNKNOWNNAME: return "Object doesn't support property or method " + member;
    case DISP_E_MEMBERNOTFOUND: return "Member " + member + " cannot be used this way";
    case DISP_E_BADPARAMCOUNT: return "Wrong number of arguments for " + member;
    case DISP_E_PARAMNOTOPTIONAL: return "Argument not optional in " + member;
    case DISP_E_TYPEMISMATCH: return "Type mismatch in " + member;
    case DISP_E_OVERFLOW: return "Overflow in " + member;
    case DISP_E_BADINDEX: return "Subscript out of range in " + member;
    case DISP_E_NONAMEDARGS: return member + " takes no named arguments";
    case DISP_E_BADVARTYPE: return "Bad value type for " + member;
    case DISP_E_PARAMNOTFOUND: return "Parameter not found in " + member;
    case E_NOTIMPL: return member + " is not implemented";
    case E_OUTOFMEMORY: return "Out of memory in " + member;
    case E_INVALIDARG: return "Invalid argument to " + member;
    case E_NOINTERFACE: return "No such interface supported by " + member;
    default: return member + " failed with error " + olert::HresultText(hr);
  }
}

namespace {

// The failure of a call that answered `hr`; empties `excep`.
CallFailure DescribeFailure(HRESULT hr, EXCEPINFO& excep, std::string_view name) {
  CallFailure failure;
  failure.number = hr;
  if (hr == DISP_E_EXCEPTION) {
    if (excep.pfnDeferredFillIn != nullptr) excep.pfnDeferredFillIn(&excep);
    if (excep.bstrDescription != nullptr) failure.description = BstrToUtf8(excep.bstrDescription);
    if (FAILED(excep.scode)) {
      failure.number = excep.scode;
    } else if (excep.wCode != 0) {
      failure.number = MakeHresult(0x800A0000u | excep.wCode);
    }
  } else {
    failure.description = ErrorInfoDescription();
  }
  olert::ClearExcepInfo(excep);
  excep = EXCEPINFO{};
  if (failure.description.empty()) failure.description = StandardDescription(failure.number, name);
  return failure;
}

}  // namespace

HRESULT CallMember(IDispatch* object, DISPID dispid, WORD flags, DISPPARAMS& params, VARIANT* result,
                   std::string_view name, CallFailure* failure) {
  EXCEPINFO excep{};
  UINT arg_error = 0;
  SetErrorInfo(0, nullptr);  // what GetErrorInfo reads must come from this call
  const HRESULT hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &excep, &arg_error);
  if (FAILED(hr)) {
    *failure = DescribeFailure(hr, excep, name);
  } else {
    olert::ClearExcepInfo(excep);
  }
  return hr;
}

HRESULT CallWriteText(IQuillTextWriter* writer, std::string_view utf8, std::string_view name,
                      CallFailure* failure) {
  EXCEPINFO excep{};
  SetErrorInfo(0, nullptr);
  const HRESULT hr = writer->WriteText(utf8, &excep);
  if (FAILED(hr)) {
    *failure = DescribeFailure(hr, excep, name);
  } else {
    olert::ClearExcepInfo(excep);
  }
  return hr;
}

}  // namespace bridge

// ---------------------------------------------------------------------------
// DispatchBridge: the reference table

uint32_t DispatchBridge::Add(std::unique_ptr<Ref> ref) noexcept {
  try {
    // Ids are never reused within a heap, so a stale id finds nothing.
    if (next_id_ == 0 || next_id_ > 0xFFFFFFF0u) return 0;
    const uint32_t id = next_id_++;
    refs_.emplace(id, std::move(ref));
    return id;
  } catch (...) {
    return 0;
  }
}

namespace {

// A new, empty reference of `kind`; null when memory runs out.
std::unique_ptr<DispatchBridge::Ref> NewRef(DispatchBridge::RefKind kind) noexcept {
  try {
    auto ref = std::make_unique<DispatchBridge::Ref>();
    ref->kind = kind;
    return ref;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

uint32_t DispatchBridge::AddObject(IDispatch* object) noexcept {
  std::unique_ptr<Ref> ref = NewRef(RefKind::Object);
  if (ref == nullptr) return 0;
  ref->object = olert::ComPtr<IDispatch>::Retain(object);
  return Add(std::move(ref));
}

uint32_t DispatchBridge::AddArray(SAFEARRAY* array) noexcept {
  OwnedSafeArray owned(array);
  std::unique_ptr<Ref> ref = NewRef(RefKind::Array);
  if (ref == nullptr) return 0;
  ref->array = std::move(owned);
  return Add(std::move(ref));
}

uint32_t DispatchBridge::AddEnumerator(IEnumVARIANT* enumerator) noexcept {
  std::unique_ptr<Ref> ref = NewRef(RefKind::Enumerator);
  if (ref == nullptr) return 0;
  ref->enumerator = olert::ComPtr<IEnumVARIANT>::Retain(enumerator);
  return Add(std::move(ref));
}

DispatchBridge::Ref* DispatchBridge::Find(uint32_t id, RefKind kind) noexcept {
  if (id == 0) return nullptr;
  auto found = refs_.find(id);
  if (found == refs_.end() || found->second->kind != kind) return nullptr;
  return found->second.get();
}

void DispatchBridge::Drop(uint32_t id) noexcept {
  auto found = refs_.find(id);
  if (found == refs_.end()) return;
  // Out of the table before the release: releasing may run other code.
  std::unique_ptr<Ref> ref = std::move(found->second);
  refs_.erase(found);
}

void DispatchBridge::ReleaseAll() {
  auto refs = std::move(refs_);
  refs_.clear();
  refs.clear();
}

void DispatchBridge::PushError(HRESULT number, const std::string& message) {
  std::string text;
  try {
    text = Utf8ToDuk(message);
  } catch (...) {
    text.clear();
  }
  const char* p = text.c_str();
  auto body = [p, number](duk_context* c) noexcept -> duk_ret_t {
    duk_push_error_object_raw(c, DUK_ERR_ERROR, nullptr, 0, "%s", p);
    duk_push_int(c, number);
    duk_put_prop_string(c, -2, "number");
    duk_push_string(c, p);
    duk_put_prop_string(c, -2, "description");
    return 1;
  };
  bridge::SafeRun(ctx_, body, 0, 1);
}

}  // namespace quill::asp
