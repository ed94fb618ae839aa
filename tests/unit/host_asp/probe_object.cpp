#include "probe_object.h"

#include <memory>

namespace quill::asp::test {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void ProbeObject::AddProperty(const std::string& name, DISPID id, Var initial) {
  auto value = std::make_shared<Var>(initial);
  Add(name, id, [value](const Call& call, VARIANT* result, EXCEPINFO*) -> HRESULT {
    if (call.flags & DISPATCH_PROPERTYPUT) {
      if (call.named_values.empty()) return DISP_E_PARAMNOTFOUND;
      *value = call.named_values[0];
      return S_OK;
    }
    if (result != nullptr) VariantCopy(result, &value->get());
    return S_OK;
  });
}

HRESULT ProbeObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  ++lookups;
  if (count != 1) return DISP_E_UNKNOWNNAME;
  const std::string wanted = Lower(Utf16ToUtf8(names[0]));
  for (const Member& m : members_) {
    if (Lower(m.name) == wanted) {
      ids[0] = m.id;
      return S_OK;
    }
  }
  ids[0] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT ProbeObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* excep, UINT*) {
  for (const Member& m : members_) {
    if (m.id != id) continue;
    Call call;
    call.member = m.name;
    call.id = id;
    call.flags = flags;
    const UINT named = params->cNamedArgs;
    for (UINT i = 0; i < named; ++i) {
      call.named.push_back(params->rgdispidNamedArgs[i]);
      call.named_values.emplace_back(params->rgvarg[i]);
    }
    for (UINT i = params->cArgs; i > named; --i) call.args.emplace_back(params->rgvarg[i - 1]);
    calls.push_back(call);
    // Keep the object alive while a handler runs script-visible code.
    AddRef();
    const HRESULT hr = m.handler(call, result, excep);
    Release();
    return hr;
  }
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT Fail(EXCEPINFO* excep, HRESULT scode, const std::string& description) {
  if (excep != nullptr) {
    *excep = EXCEPINFO{};
    excep->scode = scode;
    const std::u16string w = Utf8ToUtf16(description);
    excep->bstrDescription = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    excep->bstrSource = SysAllocString(u"probe");
  }
  return DISP_E_EXCEPTION;
}

}  // namespace quill::asp::test
