// The script-host caller of the shell tests.
#include "script_host.h"

#include <gtest/gtest.h>

#include <cassert>

#include "activex_shell/activex_shell.h"
#include "base/utf8.h"

namespace quill::testing {

int32_t Var::i4() const {
  if (v_.vt != VT_I4) {
    ADD_FAILURE() << "expected VT_I4, got vt " << v_.vt;
    return -999999;
  }
  return v_.lVal;
}
bool Var::boolean() const {
  if (v_.vt != VT_BOOL) {
    ADD_FAILURE() << "expected VT_BOOL, got vt " << v_.vt;
    return false;
  }
  return v_.boolVal != VARIANT_FALSE;
}
double Var::r8() const {
  if (v_.vt != VT_R8) {
    ADD_FAILURE() << "expected VT_R8, got vt " << v_.vt;
    return -999999.0;
  }
  return v_.dblVal;
}
std::string Var::text() const {
  if (v_.vt != VT_BSTR) {
    ADD_FAILURE() << "expected VT_BSTR, got vt " << v_.vt;
    return "<not a text>";
  }
  return Utf16ToUtf8(std::u16string_view(v_.bstrVal, SysStringLen(v_.bstrVal)));
}
IDispatch* Var::dispatch() const {
  if (v_.vt != VT_DISPATCH) {
    ADD_FAILURE() << "expected VT_DISPATCH, got vt " << v_.vt;
    return nullptr;
  }
  return v_.pdispVal;
}

Var I4(int32_t v) {
  Var out;
  out.ptr()->vt = VT_I4;
  out.ptr()->lVal = v;
  return out;
}
Var R8(double v) {
  Var out;
  out.ptr()->vt = VT_R8;
  out.ptr()->dblVal = v;
  return out;
}
Var Bool(bool v) {
  Var out;
  out.ptr()->vt = VT_BOOL;
  out.ptr()->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
  return out;
}
Var Text(std::string_view utf8) {
  std::u16string wide = Utf8ToUtf16(utf8);
  Var out;
  out.ptr()->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  out.ptr()->vt = VT_BSTR;
  return out;
}
Var Null() {
  Var out;
  out.ptr()->vt = VT_NULL;
  return out;
}
Var Missing() {
  Var out;
  out.ptr()->vt = VT_ERROR;
  out.ptr()->scode = DISP_E_PARAMNOTFOUND;
  return out;
}
Var Disp(IDispatch* d) {
  Var out;
  out.ptr()->vt = VT_DISPATCH;
  out.ptr()->pdispVal = d;
  if (d) d->AddRef();
  return out;
}
Var RefTo(VARIANT* target) {
  Var out;
  out.ptr()->vt = VT_BYREF | VT_VARIANT;
  out.ptr()->pvarVal = target;
  return out;
}
Var Array(std::vector<Var> items, int32_t low) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, low, static_cast<ULONG>(items.size()));
  for (size_t i = 0; i < items.size(); ++i) {
    LONG index = low + static_cast<LONG>(i);
    SafeArrayPutElement(psa, &index, &items[i].get());
  }
  Var out;
  out.ptr()->vt = VT_ARRAY | VT_VARIANT;
  out.ptr()->parray = psa;
  return out;
}

Obj Obj::FromVariant(VARIANT v) {
  assert(v.vt == VT_DISPATCH);
  return Obj(v.pdispVal);
}

Obj Obj::ShellOver(TObject* o) { return FromVariant(shell_variant(o)); }

bool IdOf(IDispatch* d, std::string_view name, DISPID* id) {
  std::u16string wide = Utf8ToUtf16(name);
  LPOLESTR names[] = {wide.data()};
  return d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id) == S_OK;
}

Outcome InvokeId(IDispatch* d, DISPID id, WORD flags, const std::vector<const Var*>& args) {
  std::vector<VARIANTARG> reversed;
  for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back((*it)->get());
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &put_id;
    params.cNamedArgs = 1;
  }
  Outcome out;
  EXCEPINFO excep{};
  UINT arg_error = 0;
  out.hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, out.result.ptr(), &excep,
                     &arg_error);
  if (excep.bstrDescription) {
    out.error = Utf16ToUtf8(
        std::u16string_view(excep.bstrDescription, SysStringLen(excep.bstrDescription)));
  }
  out.scode = excep.scode;
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrHelpFile);
  return out;
}

Outcome CallFlags(IDispatch* d, std::string_view name, WORD flags,
                  const std::vector<const Var*>& args) {
  DISPID id = 0;
  if (!IdOf(d, name, &id)) {
    Outcome out;
    out.hr = DISP_E_UNKNOWNNAME;
    return out;
  }
  return InvokeId(d, id, flags, args);
}

Outcome Get(IDispatch* d, std::string_view name) {
  return CallFlags(d, name, DISPATCH_PROPERTYGET);
}
Outcome Put(IDispatch* d, std::string_view name, const Var& value) {
  return CallFlags(d, name, DISPATCH_PROPERTYPUT, {&value});
}
Outcome Call(IDispatch* d, std::string_view name, const std::vector<const Var*>& args) {
  return CallFlags(d, name, DISPATCH_METHOD, args);
}

}  // namespace quill::testing
