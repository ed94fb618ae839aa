// Name resolution and type-library-driven invocation of IQuill members.
// Arguments are converted with the runtime's VariantChangeType, so a script
// may pass any value that converts (a number as text, a Boolean as a
// number); nothing is converted by hand here.
#include "script_object/dispatch_invoke.h"

#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "platform/olert/automation.h"
#include "script_object/type_library.h"

namespace quill {

namespace {

// Holds the converted arguments and clears them on every exit.
class ArgumentBlock {
 public:
  explicit ArgumentBlock(size_t count) : args_(count) {
    for (VARIANT& v : args_) VariantInit(&v);
  }
  ~ArgumentBlock() {
    for (VARIANT& v : args_) VariantClear(&v);
  }
  ArgumentBlock(const ArgumentBlock&) = delete;
  ArgumentBlock& operator=(const ArgumentBlock&) = delete;
  VARIANT* data() { return args_.data(); }
  VARIANT& operator[](size_t i) { return args_[i]; }

 private:
  std::vector<VARIANT> args_;
};

bool IsOmitted(const VARIANT* arg) {
  if (arg == nullptr) return true;
  const VARIANT* v = arg;
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal != nullptr) v = v->pvarVal;
  return v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND;
}

// Converts one given argument to the declared type.
HRESULT ConvertArgument(const TParamInfo& param, const VARIANT& src, VARIANT* dest) {
  if (param.Type == VT_VARIANT) return VariantCopy(dest, &src);
  if (param.Type == VT_UNKNOWN) {
    const VARIANT* v = &src;
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal != nullptr) v = v->pvarVal;
    // Nothing, Empty and Null all mean "no object" to a script.
    if (v->vt == VT_EMPTY || v->vt == VT_NULL) {
      dest->vt = VT_UNKNOWN;
      dest->punkVal = nullptr;
      return S_OK;
    }
  }
  return VariantChangeType(dest, &src, 0, param.Type);
}

void FillExcepInfo(HRESULT member_hr, EXCEPINFO* excep) {
  std::memset(excep, 0, sizeof(*excep));
  excep->scode = member_hr;
  olert::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Receive()) == S_OK && info) {
    info->GetSource(&excep->bstrSource);
    info->GetDescription(&excep->bstrDescription);
    info->GetHelpFile(&excep->bstrHelpFile);
    info->GetHelpContext(&excep->dwHelpContext);
  }
}

}  // namespace

HRESULT QuillGetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_INVALIDARG;
  HRESULT hr = S_OK;
  const auto text = [](LPOLESTR s) {
    return s == nullptr ? std::u16string_view() : std::u16string_view(s);
  };
  const TMemberInfo* member = FindMemberByName(text(names[0]));
  ids[0] = member != nullptr ? member->Id : DISPID_UNKNOWN;
  if (member == nullptr) hr = DISP_E_UNKNOWNNAME;
  for (UINT i = 1; i < count; ++i) {
    const int pos = member != nullptr ? FindParam(*member, text(names[i])) : -1;
    ids[i] = pos >= 0 ? pos : DISPID_UNKNOWN;
    if (pos < 0) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT QuillInvoke(IQuill* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                    EXCEPINFO* excep, UINT* arg_error) {
  if (self == nullptr) return E_POINTER;
  const TMemberInfo* member = FindMember(id);
  if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
  if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) return DISP_E_MEMBERNOTFOUND;
  WORD allowed = DISPATCH_METHOD;
  if (member->Kind == TMemberKind::PropertyGet) allowed |= DISPATCH_PROPERTYGET;
  if ((flags & allowed) == 0) return DISP_E_MEMBERNOTFOUND;

  DISPPARAMS none{nullptr, nullptr, 0, 0};
  if (params == nullptr) params = &none;
  if (params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  if (params->cNamedArgs > params->cArgs) return E_INVALIDARG;
  if (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr) return E_INVALIDARG;

  const size_t declared = member->Params.size();
  if (params->cArgs > declared) return DISP_E_BADPARAMCOUNT;
  const UINT positional = params->cArgs - params->cNamedArgs;

  // Which rgvarg entry supplies each declared argument (-1: none).
  std::vector<long> source(declared, -1);
  for (UINT i = 0; i < positional; ++i) source[i] = static_cast<long>(params->cArgs - 1 - i);
  for (UINT j = 0; j < params->cNamedArgs; ++j) {
    const DISPID pos = params->rgdispidNamedArgs[j];
    if (pos < 0 || static_cast<size_t>(pos) >= declared || source[static_cast<size_t>(pos)] >= 0) {
      if (arg_error != nullptr) *arg_error = j;
      return DISP_E_PARAMNOTFOUND;
    }
    source[static_cast<size_t>(pos)] = static_cast<long>(j);
  }

  try {
    ArgumentBlock args(declared);
    for (size_t i = 0; i < declared; ++i) {
      const TParamInfo& param = member->Params[i];
      const VARIANT* given = source[i] >= 0 ? &params->rgvarg[source[i]] : nullptr;
      if (IsOmitted(given)) {
        switch (param.Use) {
          case TParamUse::Default:
            MakeDefaultValue(param, &args[i]);
            continue;
          case TParamUse::OptionalNoDefault:
            args[i].vt = VT_ERROR;
            args[i].scode = DISP_E_PARAMNOTFOUND;
            continue;
          case TParamUse::Required:
            if (arg_error != nullptr) *arg_error = given != nullptr ? static_cast<UINT>(source[i]) : 0;
            return DISP_E_PARAMNOTOPTIONAL;
        }
      }
      const HRESULT hr = ConvertArgument(param, *given, &args[i]);
      if (FAILED(hr)) {
        if (arg_error != nullptr) *arg_error = static_cast<UINT>(source[i]);
        return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
      }
    }

    olert::ScopedVariant value;
    const HRESULT hr = member->Call(self, args.data(), value.get());
    if (FAILED(hr)) {
      if (excep != nullptr) FillExcepInfo(hr, excep);
      return DISP_E_EXCEPTION;
    }
    if (result != nullptr) {
      VariantClear(result);
      *result = value.Detach();  // ownership moves to the caller
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace quill
