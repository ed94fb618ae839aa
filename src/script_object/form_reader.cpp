// Late-bound reading of Request.Form through the page's scripting context.
#include "script_object/form_reader.h"

#include <cstdio>
#include <vector>

#include "activex_shell/variant_convert.h"
#include "base/errors.h"
#include "base/utf8.h"
#include "script_object/quill_interface.h"

namespace quill {

namespace {

// Clears a VARIANT when it goes out of scope.
struct ScopedVariant {
  VARIANT v;
  ScopedVariant() { VariantInit(&v); }
  ~ScopedVariant() { VariantClear(&v); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
};

[[noreturn]] void FailStep(const std::string& step, HRESULT hr, EXCEPINFO* excep) {
  std::string detail;
  if (excep != nullptr && excep->bstrDescription != nullptr) {
    detail = BstrToString(excep->bstrDescription);
  }
  if (excep != nullptr) {
    SysFreeString(excep->bstrSource);
    SysFreeString(excep->bstrDescription);
    SysFreeString(excep->bstrHelpFile);
  }
  char code[16];
  std::snprintf(code, sizeof(code), "%08X", static_cast<unsigned>(hr));
  throw Exception("Cannot read the posted form (" + step + "): " +
                  (detail.empty() ? "error 0x" + std::string(code) : detail));
}

// Reads property or parameterised property `name` of `object` into *out.
void GetByName(IDispatch* object, const char16_t* name, std::vector<VARIANT>& args, VARIANT* out,
               const std::string& step) {
  if (object == nullptr) throw Exception("Cannot read the posted form (" + step + "): no object");
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) FailStep(step, hr, nullptr);
  // Arguments travel last-to-first.
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                    static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO excep{};
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET | DISPATCH_METHOD,
                      &params, out, &excep, nullptr);
  if (FAILED(hr)) FailStep(step, hr, hr == DISP_E_EXCEPTION ? &excep : nullptr);
}

IDispatch* TakeDispatch(VARIANT& value, const std::string& step) {
  IDispatch* result = nullptr;
  if (value.vt == VT_DISPATCH) {
    result = value.pdispVal;
    if (result != nullptr) result->AddRef();
  } else if (value.vt == VT_UNKNOWN && value.punkVal != nullptr) {
    value.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&result));
  }
  if (result == nullptr) {
    throw Exception("Cannot read the posted form (" + step + "): not an object");
  }
  return result;
}

}  // namespace

TFormReader::~TFormReader() {
  if (form_ != nullptr) form_->Release();
}

IDispatch* TFormReader::Form() {
  if (form_ != nullptr) return form_;
  if (context_ == nullptr) {
    throw Exception(
        "No scripting context: the posted form can only be read between OnStartPage and "
        "OnEndPage");
  }
  // The context is kept as IScriptingContext, a dual interface whose
  // vtable starts with IDispatch.
  IDispatch* context = static_cast<IDispatch*>(context_);
  std::vector<VARIANT> none;
  ScopedVariant request;
  GetByName(context, u"Request", none, &request.v, "Request");
  IDispatch* request_object = TakeDispatch(request.v, "Request");
  ScopedVariant form;
  try {
    GetByName(request_object, u"Form", none, &form.v, "Request.Form");
  } catch (...) {
    request_object->Release();
    throw;
  }
  request_object->Release();
  form_ = TakeDispatch(form.v, "Request.Form");
  return form_;
}

int TFormReader::Count() {
  IDispatch* form = Form();
  std::vector<VARIANT> none;
  ScopedVariant count;
  GetByName(form, u"Count", none, &count.v, "Request.Form.Count");
  if (FAILED(VariantChangeType(&count.v, &count.v, 0, VT_I4))) {
    throw Exception("Cannot read the posted form (Request.Form.Count): not a number");
  }
  return count.v.lVal;
}

std::string TFormReader::Key(int index) {
  IDispatch* form = Form();
  std::vector<VARIANT> args(1);
  args[0].vt = VT_I4;
  args[0].lVal = index;
  ScopedVariant key;
  GetByName(form, u"Key", args, &key.v, "Request.Form.Key");
  if (FAILED(VariantChangeType(&key.v, &key.v, 0, VT_BSTR))) {
    throw Exception("Cannot read the posted form (Request.Form.Key): not a text");
  }
  return BstrToString(key.v.bstrVal);
}

Variant TFormReader::Item(const std::string& key) {
  IDispatch* form = Form();
  std::vector<VARIANT> args(1);
  args[0].vt = VT_BSTR;
  args[0].bstrVal = StringToBstr(key);
  ScopedVariant item;
  try {
    GetByName(form, u"Item", args, &item.v, "Request.Form.Item");
  } catch (...) {
    VariantClear(&args[0]);
    throw;
  }
  VariantClear(&args[0]);
  if (item.v.vt == VT_DISPATCH && item.v.pdispVal != nullptr) {
    // The values posted under one name come as a collection whose default
    // property is their text.
    IDispatch* values = item.v.pdispVal;
    values->AddRef();
    ScopedVariant text;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO excep{};
    const HRESULT hr = values->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                                      DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, &text.v,
                                      &excep, nullptr);
    values->Release();
    if (FAILED(hr)) FailStep("Request.Form.Item", hr, hr == DISP_E_EXCEPTION ? &excep : nullptr);
    return VariantToValue(text.v);
  }
  return VariantToValue(item.v);
}

}  // namespace quill
