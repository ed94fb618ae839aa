// A small in-process automation server for the page tests, loaded through
// the registry like any component. It behaves as a page component does: it
// keeps the scripting context OnStartPage gives it, reads the posted form
// through it late-bound (context.Request.Form: Count, Key(i), Item(key)),
// and lets it go at OnEndPage. Its counters are exported for the tests.
//
// ProgID QuillAspTest.Component, CLSID {5E1E0F3A-2B7C-4C4D-9A61-7D0C2B1E5A01}.
#include <atomic>
#include <string>

#include "platform/olert/automation.h"

namespace {

constexpr CLSID kClsid = {0x5E1E0F3A, 0x2B7C, 0x4C4D, {0x9A, 0x61, 0x7D, 0x0C, 0x2B, 0x1E, 0x5A, 0x01}};
constexpr IID kIScriptingContext = {0xD97A6DA0, 0xA868, 0x11CF, {0x83, 0xAE, 0x00, 0xB0, 0xC9, 0x0C, 0x2B, 0xD8}};

std::atomic<int> g_live{0};
std::atomic<int> g_locks{0};
std::atomic<int> g_started{0};
std::atomic<int> g_ended{0};

std::u16string Lower(const OLECHAR* s) {
  std::u16string out;
  for (; s != nullptr && *s != 0; ++s) out.push_back(*s >= u'A' && *s <= u'Z' ? static_cast<char16_t>(*s + 32) : *s);
  return out;
}

std::u16string Text(const VARIANT& v) {
  VARIANT copy;
  VariantInit(&copy);
  std::u16string out;
  if (SUCCEEDED(VariantChangeType(&copy, &v, 0, VT_BSTR))) out.assign(copy.bstrVal, SysStringLen(copy.bstrVal));
  VariantClear(&copy);
  return out;
}

// Reads member `name` of `object` (with one argument, when given).
HRESULT Get(IDispatch* object, const char16_t* name, const VARIANT* arg, VARIANT* out) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) return hr;
  VARIANT args[1];
  if (arg != nullptr) args[0] = *arg;
  DISPPARAMS params{arg != nullptr ? args : nullptr, nullptr, arg != nullptr ? 1u : 0u, 0};
  return object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &params, out, nullptr, nullptr);
}

class Component final : public olert::RefCounted<IDispatch> {
 public:
  Component() { ++g_live; }

  HRESULT GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** t) override {
    *t = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    static const struct {
      const char16_t* name;
      DISPID id;
    } kMembers[] = {{u"onstartpage", 1}, {u"onendpage", 2}, {u"formsummary", 3},
                    {u"echo", 4},        {u"hascontext", 5}};
    if (count != 1) return DISP_E_UNKNOWNNAME;
    const std::u16string wanted = Lower(names[0]);
    for (const auto& m : kMembers) {
      if (wanted == m.name) {
        ids[0] = m.id;
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                 UINT*) override {
    const UINT n = params != nullptr ? params->cArgs : 0;
    switch (id) {
      case 1: {  // OnStartPage(context)
        if (n != 1) return DISP_E_BADPARAMCOUNT;
        IUnknown* unknown = params->rgvarg[0].vt == VT_UNKNOWN || params->rgvarg[0].vt == VT_DISPATCH
                                ? params->rgvarg[0].punkVal
                                : nullptr;
        if (unknown == nullptr) return DISP_E_TYPEMISMATCH;
        if (context_ != nullptr) context_->Release();
        context_ = nullptr;
        const HRESULT hr = unknown->QueryInterface(kIScriptingContext, reinterpret_cast<void**>(&context_));
        if (FAILED(hr)) return hr;
        ++g_started;
        return S_OK;
      }
      case 2:  // OnEndPage()
        if (context_ != nullptr) context_->Release();
        context_ = nullptr;
        ++g_ended;
        return S_OK;
      case 3:  // FormSummary(): "key=value;..." read through the context
        return FormSummary(result, excep);
      case 4:  // Echo(value)
        if (n != 1) return DISP_E_BADPARAMCOUNT;
        if (result != nullptr) VariantCopy(result, &params->rgvarg[0]);
        return S_OK;
      case 5:
        if (result != nullptr) {
          result->vt = VT_BOOL;
          result->boolVal = context_ != nullptr ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  ~Component() override {
    if (context_ != nullptr) context_->Release();
    --g_live;
  }

  HRESULT FormSummary(VARIANT* result, EXCEPINFO* excep) {
    if (context_ == nullptr) {
      if (excep != nullptr) {
        *excep = EXCEPINFO{};
        excep->scode = E_UNEXPECTED;
        excep->bstrDescription = SysAllocString(u"no scripting context");
      }
      return DISP_E_EXCEPTION;
    }
    VARIANT request, form, count;
    VariantInit(&request);
    VariantInit(&form);
    VariantInit(&count);
    std::u16string summary;
    HRESULT hr = Get(context_, u"Request", nullptr, &request);
    if (SUCCEEDED(hr)) hr = Get(request.pdispVal, u"Form", nullptr, &form);
    if (SUCCEEDED(hr)) hr = Get(form.pdispVal, u"Count", nullptr, &count);
    for (LONG i = 1; SUCCEEDED(hr) && i <= count.lVal; ++i) {
      VARIANT index, key, item, value;
      VariantInit(&index);
      VariantInit(&key);
      VariantInit(&item);
      VariantInit(&value);
      index.vt = VT_I4;
      index.lVal = i;
      hr = Get(form.pdispVal, u"Key", &index, &key);
      if (SUCCEEDED(hr)) hr = Get(form.pdispVal, u"Item", &key, &item);
      if (SUCCEEDED(hr) && item.vt == VT_DISPATCH) {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        hr = item.pdispVal->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                                   nullptr);
      }
      if (SUCCEEDED(hr)) summary += Text(key) + u"=" + Text(value) + u";";
      VariantClear(&key);
      VariantClear(&item);
      VariantClear(&value);
    }
    VariantClear(&request);
    VariantClear(&form);
    VariantClear(&count);
    if (FAILED(hr)) return hr;
    if (result != nullptr) {
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocStringLen(summary.data(), static_cast<UINT>(summary.size()));
    }
    return S_OK;
  }

  IDispatch* context_ = nullptr;
};

class Factory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* c = new Component();
    const HRESULT hr = c->QueryInterface(riid, out);
    c->Release();
    return hr;
  }
  HRESULT LockServer(BOOL lock) override {
    g_locks += lock ? 1 : -1;
    return S_OK;
  }
};

Factory g_factory;

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!(clsid == kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, out);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return g_live == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

// Live components, OnStartPage calls and OnEndPage calls so far.
extern "C" __attribute__((visibility("default"))) void AspTestComponentCounts(int* live, int* started, int* ended) {
  *live = g_live;
  *started = g_started;
  *ended = g_ended;
}
