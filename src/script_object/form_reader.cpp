// Late-bound reading of Request.Form through the page's scripting context.
#include "script_object/form_reader.h"

#include <vector>

#include "activex_shell/variant_convert.h"
#include "base/errors.h"
#include "base/utf8.h"
#include "platform/olert/automation.h"
#include "script_object/quill_interface.h"

namespace quill {

namespace {

using olert::ComPtr;
using olert::ScopedVariant;

[[noreturn]] void FailStep(const std::string& step, HRESULT hr, EXCEPINFO* excep) {
  std::string detail;
  if (excep != nullptr && excep->bstrDescription != nullptr) {
    detail = BstrToString(excep->bstrDescription);
  }
  if (excep != nullptr) olert::ClearExcepInfo(*excep);
  throw Exception("Cannot read the posted form (" + step + "): " +
                  (detail.empty() ? "error " + olert::HresultText(hr) : detail));
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

ComPtr<IDispatch> TakeDispatch(const VARIANT& value, const std::string& step) {
  ComPtr<IDispatch> result;
  if (value.vt == VT_DISPATCH) {
    result = ComPtr<IDispatch>::Retain(value.pdispVal);
  } else if (value.vt == VT_UNKNOWN && value.punkVal != nullptr) {
    value.punkVal->QueryInterface(IID_IDispatch, result.ReceiveVoid());
  }
  if (!result) throw Exception("Cannot read the posted form (" + step + "): not an object");
  return result;
}

}  // namespace

IDispatch* TFormReader::Form() {
  if (form_) return form_.get();
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
  GetByName(context, u"Request", none, request.get(), "Request");
  const ComPtr<IDispatch> request_object = TakeDispatch(*request, "Request");
  ScopedVariant form;
  GetByName(request_object.get(), u"Form", none, form.get(), "Request.Form");
  form_ = TakeDispatch(*form, "Request.Form");
  return form_.get();
}

int TFormReader::Count() {
  IDispatch* form = Form();
  std::vector<VARIANT> none;
  ScopedVariant count;
  GetByName(form, u"Count", none, count.get(), "Request.Form.Count");
  if (FAILED(VariantChangeType(count.get(), count.get(), 0, VT_I4))) {
    throw Exception("Cannot read the posted form (Request.Form.Count): not a number");
  }
  return count->lVal;
}

std::string TFormReader::Key(int index) {
  IDispatch* form = Form();
  std::vector<VARIANT> args(1);
  args[0].vt = VT_I4;
  args[0].lVal = index;
  ScopedVariant key;
  GetByName(form, u"Key", args, key.get(), "Request.Form.Key");
  if (FAILED(VariantChangeType(key.get(), key.get(), 0, VT_BSTR))) {
    throw Exception("Cannot read the posted form (Request.Form.Key): not a text");
  }
  return BstrToString(key->bstrVal);
}

Variant TFormReader::Item(const std::string& key) {
  IDispatch* form = Form();
  ScopedVariant name;
  name->bstrVal = StringToBstr(key);
  name->vt = VT_BSTR;
  // The argument list only borrows the name: `name` frees it.
  std::vector<VARIANT> args{*name};
  ScopedVariant item;
  GetByName(form, u"Item", args, item.get(), "Request.Form.Item");
  if (item.vt() == VT_DISPATCH && item->pdispVal != nullptr) {
    // The values posted under one name come as a collection whose default
    // property is their text.
    const ComPtr<IDispatch> values = ComPtr<IDispatch>::Retain(item->pdispVal);
    ScopedVariant text;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO excep{};
    const HRESULT hr = values->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                                      DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, text.get(),
                                      &excep, nullptr);
    if (FAILED(hr)) FailStep("Request.Form.Item", hr, hr == DISP_E_EXCEPTION ? &excep : nullptr);
    return VariantToValue(*text);
  }
  return VariantToValue(*item);
}

}  // namespace quill
