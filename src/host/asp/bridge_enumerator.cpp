// Enumerator over an IEnumVARIANT in the bridge's reference table: a
// collection's own enumerator, or a VariantEnumerator over the elements of
// an array. The Ref keeps the current item; moving fetches the next one.
#include "host/asp/bridge_enumerator.h"

#include <vector>

#include "host/asp/automation_object.h"

namespace quill::asp::bridge {

namespace {

void Fetch(DispatchBridge::Ref& ref) {
  ULONG fetched = 0;
  const HRESULT hr = ref.enumerator->Next(1, ref.current.Receive(), &fetched);
  ref.at_end = hr != S_OK || fetched != 1;
  if (ref.at_end) ref.current.Reset();
}

// The elements of a safe array in storage order.
bool ArrayElements(SAFEARRAY* array, std::vector<olert::ScopedVariant>* out) {
  const olert::SafeArrayElements elements(array);
  for (size_t k = 0; k < elements.size(); ++k) {
    olert::ScopedVariant element;
    if (FAILED(elements.CopyTo(k, element.get()))) return false;
    out->push_back(std::move(element));
  }
  return true;
}

// The enumerator of the collection `object` (its DISPID_NEWENUM member),
// or null with an error pushed.
olert::ComPtr<IEnumVARIANT> CollectionEnumerator(DispatchBridge* b, IDispatch* object) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  olert::ScopedVariant result;
  CallFailure failure;
  const HRESULT hr = CallMember(object, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, result.get(),
                                "_NewEnum", &failure);
  if (FAILED(hr)) {
    if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME) {
      failure.description = "Enumerator: the object is not a collection";
    }
    b->PushError(failure.number, failure.description);
    return nullptr;
  }
  IUnknown* unknown = result.vt() == VT_UNKNOWN    ? result->punkVal
                      : result.vt() == VT_DISPATCH ? result->pdispVal
                                                   : nullptr;
  olert::ComPtr<IEnumVARIANT> enumerator;
  if (unknown == nullptr || FAILED(unknown->QueryInterface(IID_IEnumVARIANT, enumerator.ReceiveVoid()))) {
    b->PushError(DISP_E_NOTACOLLECTION, "Enumerator: the object is not a collection");
    return nullptr;
  }
  return enumerator;
}

duk_ret_t EnumeratorConstruct(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t source_id = RefIdAt(ctx, 0);
  const bool is_array = duk_is_array(ctx, 0) != 0;
  const bool nothing = duk_is_undefined(ctx, 0) != 0;
  return Finish(ctx, Guarded(b, [&]() -> int {
                  olert::ComPtr<IEnumVARIANT> enumerator;
                  if (DispatchBridge::Ref* object = b->Find(source_id, DispatchBridge::RefKind::Object)) {
                    enumerator = CollectionEnumerator(b, object->object.get());
                    if (!enumerator) return -1;
                  } else {
                    std::vector<olert::ScopedVariant> values;
                    SAFEARRAY* array = nullptr;
                    olert::ScopedVariant converted;
                    if (DispatchBridge::Ref* ref = b->Find(source_id, DispatchBridge::RefKind::Array)) {
                      array = ref->array.get();
                    } else if (is_array) {
                      if (!b->ToVariant(0, converted.get())) return -1;
                      array = converted->parray;
                    } else if (!nothing) {
                      b->PushError(DISP_E_NOTACOLLECTION, "Enumerator expects a collection, a VBArray or an array");
                      return -1;
                    }
                    if (array != nullptr && !ArrayElements(array, &values)) {
                      b->PushError(E_FAIL, "cannot read an element of the array");
                      return -1;
                    }
                    enumerator = olert::ComPtr<IEnumVARIANT>::Adopt(VariantEnumerator::Create(std::move(values)));
                  }
                  const uint32_t id = b->AddEnumerator(enumerator.get());
                  if (id == 0) {
                    b->PushError(E_OUTOFMEMORY, "out of memory");
                    return -1;
                  }
                  Fetch(*b->Find(id, DispatchBridge::RefKind::Enumerator));
                  auto push = [b, id](duk_context* c) noexcept -> duk_ret_t {
                    PushRefObject(c, b, id, b->enumerator_prototype());
                    return 1;
                  };
                  return SafeRun(ctx, push, 0, 1) == DUK_EXEC_SUCCESS ? 1 : -1;
                }));
}

DispatchBridge::Ref* ThisEnumerator(duk_context* ctx) {
  return ThisRef(ctx, DispatchBridge::Of(ctx), DispatchBridge::RefKind::Enumerator);
}

duk_ret_t EnumeratorAtEnd(duk_context* ctx) {
  DispatchBridge::Ref* ref = ThisEnumerator(ctx);
  duk_push_boolean(ctx, ref == nullptr || ref->at_end);
  return 1;
}

duk_ret_t EnumeratorItem(duk_context* ctx) {
  DispatchBridge::Ref* ref = ThisEnumerator(ctx);
  if (ref == nullptr || ref->at_end) {
    duk_push_undefined(ctx);
    return 1;
  }
  return Finish(ctx, DispatchBridge::Of(ctx)->PushVariant(*ref->current) ? 1 : -1);
}

duk_ret_t EnumeratorMoveNext(duk_context* ctx) {
  DispatchBridge::Ref* ref = ThisEnumerator(ctx);
  if (ref != nullptr && !ref->at_end) Fetch(*ref);
  return 0;
}

duk_ret_t EnumeratorMoveFirst(duk_context* ctx) {
  DispatchBridge::Ref* ref = ThisEnumerator(ctx);
  if (ref != nullptr) {
    ref->enumerator->Reset();
    Fetch(*ref);
  }
  return 0;
}

}  // namespace

ScriptClass EnumeratorClass() {
  static const NativeMethod kMethods[] = {{"atEnd", EnumeratorAtEnd, 0},
                                          {"item", EnumeratorItem, 0},
                                          {"moveNext", EnumeratorMoveNext, 0},
                                          {"moveFirst", EnumeratorMoveFirst, 0}};
  return ScriptClass{"Enumerator", EnumeratorConstruct, kMethods};
}

}  // namespace quill::asp::bridge
