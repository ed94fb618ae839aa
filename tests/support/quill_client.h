// A late-bound client of Quill.so for tests, written the way any client of
// an in-process automation server is written: load the module, ask its
// class factory for an object, call the object through IDispatch by name.
// It uses the binary contract only (olert.h, dlopen, the four entry points,
// IDispatch), never the module's own headers.
//
//   quill::test::Dispatch q = quill::test::CreateQuill();
//   auto r = q.Get(u"FormatDateTime", {Arg::Str("yyyy"), Arg::Date(36526)});
//   EXPECT_EQ(r.hr, S_OK);
//   EXPECT_EQ(r.Text(), "2000");
//
// The module path comes from the QUILL_MODULE_PATH compile definition.
#pragma once

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/olert/automation.h"

namespace quill::test {

// {96C7168E-E85B-46D8-9EF7-0D5777765005}
inline constexpr CLSID kQuillClsid = {
    0x96C7168E, 0xE85B, 0x46D8, {0x9E, 0xF7, 0x0D, 0x57, 0x77, 0x76, 0x50, 0x05}};
// {C189C591-72BF-4E1C-A89D-C9DF2F206FBC}
inline constexpr IID kIQuillIid = {
    0xC189C591, 0x72BF, 0x4E1C, {0xA8, 0x9D, 0xC9, 0xDF, 0x2F, 0x20, 0x6F, 0xBC}};
// {1A270250-07E4-441E-A11A-1A8102D5AE48}: IQuill2, which extends IQuill.
inline constexpr IID kIQuill2Iid = {
    0x1A270250, 0x07E4, 0x441E, {0xA1, 0x1A, 0x1A, 0x81, 0x02, 0xD5, 0xAE, 0x48}};
// {7A8B9910-F33C-11D2-9EDD-00C04F6539EE}
inline constexpr IID kIPageEventsIid = {
    0x7A8B9910, 0xF33C, 0x11D2, {0x9E, 0xDD, 0x00, 0xC0, 0x4F, 0x65, 0x39, 0xEE}};
// {D97A6DA0-A868-11CF-83AE-00B0C90C2BD8}
inline constexpr IID kIScriptingContextIid = {
    0xD97A6DA0, 0xA868, 0x11CF, {0x83, 0xAE, 0x00, 0xB0, 0xC9, 0x0C, 0x2B, 0xD8}};

#ifndef QUILL_MODULE_PATH
#error "QUILL_MODULE_PATH must name Quill.so"
#endif

// --- Text -----------------------------------------------------------------------------

inline std::u16string Wide(std::string_view utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp = c;
    size_t len = 1;
    if (c >= 0xF0 && i + 3 < utf8.size() + 0) {
      cp = ((c & 0x07u) << 18) | ((utf8[i + 1] & 0x3Fu) << 12) | ((utf8[i + 2] & 0x3Fu) << 6) |
           (utf8[i + 3] & 0x3Fu);
      len = 4;
    } else if (c >= 0xE0 && i + 2 < utf8.size()) {
      cp = ((c & 0x0Fu) << 12) | ((utf8[i + 1] & 0x3Fu) << 6) | (utf8[i + 2] & 0x3Fu);
      len = 3;
    } else if (c >= 0xC0 && i + 1 < utf8.size()) {
      cp = ((c & 0x1Fu) << 6) | (utf8[i + 1] & 0x3Fu);
      len = 2;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

inline std::string Narrow(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size()) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

inline std::string BstrText(BSTR b) {
  return b == nullptr ? std::string() : Narrow(std::u16string_view(b, SysStringLen(b)));
}

inline BSTR NewBstr(std::string_view utf8) {
  const std::u16string w = Wide(utf8);
  return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

// --- The module -------------------------------------------------------------------------

struct QuillModule {
  void* handle = nullptr;
  HRESULT (*GetClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT (*CanUnloadNow)() = nullptr;
  HRESULT (*RegisterServer)() = nullptr;
  HRESULT (*UnregisterServer)() = nullptr;

  // Loads the module once per process; it stays loaded.
  static QuillModule& Get() {
    static QuillModule* module = [] {
      auto* m = new QuillModule;
      m->handle = dlopen(QUILL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
      if (m->handle == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
      m->GetClassObject = reinterpret_cast<decltype(m->GetClassObject)>(
          dlsym(m->handle, "DllGetClassObject"));
      m->CanUnloadNow =
          reinterpret_cast<decltype(m->CanUnloadNow)>(dlsym(m->handle, "DllCanUnloadNow"));
      m->RegisterServer =
          reinterpret_cast<decltype(m->RegisterServer)>(dlsym(m->handle, "DllRegisterServer"));
      m->UnregisterServer = reinterpret_cast<decltype(m->UnregisterServer)>(
          dlsym(m->handle, "DllUnregisterServer"));
      if (!m->GetClassObject || !m->CanUnloadNow || !m->RegisterServer || !m->UnregisterServer) {
        throw std::runtime_error("Quill.so lacks an entry point");
      }
      return m;
    }();
    return *module;
  }
};

// --- Arguments ------------------------------------------------------------------------------

// One argument, owning its VARIANT.
class Arg {
 public:
  Arg() { VariantInit(&v_); }
  Arg(const Arg& other) {
    VariantInit(&v_);
    VariantCopy(&v_, &other.v_);
  }
  Arg& operator=(const Arg& other) {
    if (this != &other) VariantCopy(&v_, &other.v_);
    return *this;
  }
  // Moves hand the value over without copying it (a page may be megabytes).
  Arg(Arg&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
  Arg& operator=(Arg&& other) noexcept {
    if (this != &other) {
      VariantClear(&v_);
      v_ = other.v_;
      VariantInit(&other.v_);
    }
    return *this;
  }
  ~Arg() { VariantClear(&v_); }

  static Arg Str(std::string_view utf8) {
    Arg a;
    a.v_.vt = VT_BSTR;
    a.v_.bstrVal = NewBstr(utf8);
    return a;
  }
  static Arg I4(int32_t n) {
    Arg a;
    a.v_.vt = VT_I4;
    a.v_.lVal = n;
    return a;
  }
  static Arg R8(double d) {
    Arg a;
    a.v_.vt = VT_R8;
    a.v_.dblVal = d;
    return a;
  }
  static Arg Bool(bool b) {
    Arg a;
    a.v_.vt = VT_BOOL;
    a.v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return a;
  }
  static Arg Date(double days) {
    Arg a;
    a.v_.vt = VT_DATE;
    a.v_.date = days;
    return a;
  }
  static Arg Null() {
    Arg a;
    a.v_.vt = VT_NULL;
    return a;
  }
  // An omitted argument, as script hosts pass one.
  static Arg Missing() {
    Arg a;
    a.v_.vt = VT_ERROR;
    a.v_.scode = DISP_E_PARAMNOTFOUND;
    return a;
  }
  // Takes a new reference.
  static Arg Unknown(IUnknown* p) {
    Arg a;
    a.v_.vt = VT_UNKNOWN;
    a.v_.punkVal = p;
    if (p != nullptr) p->AddRef();
    return a;
  }
  static Arg Dispatch(IDispatch* p) {
    Arg a;
    a.v_.vt = VT_DISPATCH;
    a.v_.pdispVal = p;
    if (p != nullptr) p->AddRef();
    return a;
  }
  // A one-dimensional array of VARIANTs with lower bound `lower`.
  static Arg Array(const std::vector<Arg>& items, LONG lower = 0) {
    Arg a;
    SAFEARRAYBOUND bound{static_cast<ULONG>(items.size()), lower};
    SAFEARRAY* sa = SafeArrayCreate(VT_VARIANT, 1, &bound);
    for (size_t i = 0; i < items.size(); ++i) {
      LONG index = lower + static_cast<LONG>(i);
      SafeArrayPutElement(sa, &index, const_cast<VARIANT*>(&items[i].v_));
    }
    a.v_.vt = VT_ARRAY | VT_VARIANT;
    a.v_.parray = sa;
    return a;
  }
  // An array of BSTRs (a typed array, not of VARIANTs).
  static Arg StrArray(const std::vector<std::string>& items) {
    Arg a;
    SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
      LONG index = static_cast<LONG>(i);
      BSTR b = NewBstr(items[i]);
      SafeArrayPutElement(sa, &index, b);
      SysFreeString(b);
    }
    a.v_.vt = VT_ARRAY | VT_BSTR;
    a.v_.parray = sa;
    return a;
  }
  // A reference to `target`, which must outlive the call.
  static Arg Ref(VARIANT* target) {
    Arg a;
    a.v_.vt = VT_BYREF | VT_VARIANT;
    a.v_.pvarVal = target;
    return a;
  }
  // Takes over `v`.
  static Arg Adopt(VARIANT v) {
    Arg a;
    a.v_ = v;
    return a;
  }

  VARIANT& var() { return v_; }
  const VARIANT& var() const { return v_; }

 private:
  VARIANT v_;
};

// --- Calls -------------------------------------------------------------------------------------

// What a call answered.
struct Outcome {
  HRESULT hr = E_FAIL;
  std::string error;   // EXCEPINFO description
  std::string source;  // EXCEPINFO source
  SCODE scode = 0;     // EXCEPINFO scode
  UINT arg_error = ~0u;
  Arg value;

  bool ok() const { return hr == S_OK; }
  // The value as text (VariantChangeType to VT_BSTR); "<no text>" when it
  // has none.
  std::string Text() const {
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, &value.var(), VARIANT_ALPHABOOL, VT_BSTR))) return "<no text>";
    std::string s = BstrText(t.bstrVal);
    VariantClear(&t);
    return s;
  }
  IDispatch* Object() const {
    return value.var().vt == VT_DISPATCH ? value.var().pdispVal : nullptr;
  }
};

class Dispatch {
 public:
  Dispatch() = default;
  // Takes over one reference of `p`.
  explicit Dispatch(IDispatch* p) : p_(p) {}
  Dispatch(const Dispatch& o) : p_(o.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  Dispatch(Dispatch&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  Dispatch& operator=(Dispatch o) {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Dispatch() { Reset(); }
  void Reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }
  IDispatch* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // A new reference to the object in `o`'s value (null when it holds none).
  static Dispatch From(const Outcome& o) {
    IDispatch* d = o.Object();
    if (d != nullptr) d->AddRef();
    return Dispatch(d);
  }

  DISPID Id(std::u16string_view name) const {
    if (p_ == nullptr) return DISPID_UNKNOWN;
    std::u16string n(name);
    LPOLESTR names[] = {n.data()};
    DISPID id = DISPID_UNKNOWN;
    p_->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    return id;
  }

  // Calls `name` with `args` in script order; `named` are named arguments
  // (name, value) resolved with GetIDsOfNames.
  Outcome Call(std::u16string_view name, WORD flags, std::vector<Arg> args = {},
               std::vector<std::pair<std::u16string, Arg>> named = {}) const {
    Outcome out;
    if (p_ == nullptr) {
      out.hr = E_POINTER;
      out.error = "no object";
      return out;
    }
    std::vector<std::u16string> names{std::u16string(name)};
    for (auto& n : named) names.push_back(n.first);
    std::vector<LPOLESTR> raw;
    for (auto& n : names) raw.push_back(n.data());
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    out.hr = p_->GetIDsOfNames(IID_NULL, raw.data(), static_cast<UINT>(raw.size()), 0, ids.data());
    if (FAILED(out.hr)) return out;
    // Named arguments first, then positional ones last-to-first.
    std::vector<VARIANT> rg;
    std::vector<DISPID> named_ids;
    for (size_t i = 0; i < named.size(); ++i) {
      rg.push_back(named[i].second.var());
      named_ids.push_back(ids[i + 1]);
    }
    for (auto it = args.rbegin(); it != args.rend(); ++it) rg.push_back(it->var());
    DISPPARAMS params{rg.empty() ? nullptr : rg.data(),
                      named_ids.empty() ? nullptr : named_ids.data(),
                      static_cast<UINT>(rg.size()), static_cast<UINT>(named_ids.size())};
    EXCEPINFO excep;
    std::memset(&excep, 0, sizeof(excep));
    out.hr = p_->Invoke(ids[0], IID_NULL, 0, flags, &params, &out.value.var(), &excep,
                        &out.arg_error);
    if (out.hr == DISP_E_EXCEPTION) {
      out.error = BstrText(excep.bstrDescription);
      out.source = BstrText(excep.bstrSource);
      out.scode = excep.scode;
    }
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    return out;
  }
  Outcome Get(std::u16string_view name, std::vector<Arg> args = {},
              std::vector<std::pair<std::u16string, Arg>> named = {}) const {
    return Call(name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, std::move(args), std::move(named));
  }
  Outcome Method(std::u16string_view name, std::vector<Arg> args = {},
                 std::vector<std::pair<std::u16string, Arg>> named = {}) const {
    return Call(name, DISPATCH_METHOD, std::move(args), std::move(named));
  }
  // Writes a property (one value, as DISPID_PROPERTYPUT).
  Outcome Put(std::u16string_view name, Arg value) const {
    Outcome out;
    if (p_ == nullptr) {
      out.hr = E_POINTER;
      out.error = "no object";
      return out;
    }
    const DISPID id = Id(name);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value.var(), &put, 1, 1};
    EXCEPINFO excep;
    std::memset(&excep, 0, sizeof(excep));
    out.hr = p_->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, &excep, nullptr);
    if (out.hr == DISP_E_EXCEPTION) out.error = BstrText(excep.bstrDescription);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    return out;
  }

 private:
  IDispatch* p_ = nullptr;
};

// A new Quill object through the module's class factory.
inline Dispatch CreateQuill() {
  IClassFactory* factory = nullptr;
  HRESULT hr = QuillModule::Get().GetClassObject(kQuillClsid, IID_IClassFactory,
                                                 reinterpret_cast<void**>(&factory));
  if (FAILED(hr) || factory == nullptr) throw std::runtime_error("no class factory");
  IDispatch* object = nullptr;
  hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
  factory->Release();
  if (FAILED(hr) || object == nullptr) throw std::runtime_error("CreateInstance failed");
  return Dispatch(object);
}

// --- Objects a test hands to the module -------------------------------------------------------

// A dispatch object whose members are functions of the test: each name
// maps to a function of the arguments (script order) that stores a result.
// Names compare without regard to ASCII case. With `context` set, the
// object also answers IScriptingContext (as the page's context does).
class TestObject final : public olert::RefCounted<IDispatch> {
 public:
  using Member = std::function<HRESULT(const std::vector<VARIANT>& args, VARIANT* result)>;

  static TestObject* New(bool context = false) { return new TestObject(context); }

  void Add(const std::string& name, Member member) {
    names_.push_back(Lower(name));
    members_.push_back(std::move(member));
  }
  // A member that answers a copy of `value`.
  void AddValue(const std::string& name, const Arg& value) {
    Arg copy = value;
    Add(name, [copy](const std::vector<VARIANT>&, VARIANT* r) {
      return VariantCopy(r, &copy.var());
    });
  }
  ULONG refs() const { return RefCount(); }

  // Also answers IScriptingContext when made as a context.
  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out != nullptr && context_ && riid == kIScriptingContextIid) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return QueryListed(riid, out);
  }
  HRESULT GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** p) override {
    *p = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      const std::string n = Lower(Narrow(names[i]));
      for (size_t k = 0; k < names_.size(); ++k) {
        if (names_[k] == n) ids[i] = static_cast<DISPID>(k + 1);
      }
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (id == DISPID_VALUE) id = Find("value");
    if (id < 1 || static_cast<size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
    std::vector<VARIANT> args;
    for (UINT i = params->cArgs; i > 0; --i) args.push_back(params->rgvarg[i - 1]);
    VARIANT scratch;
    VariantInit(&scratch);
    if (result == nullptr) result = &scratch;
    const HRESULT hr = members_[static_cast<size_t>(id - 1)](args, result);
    VariantClear(&scratch);
    return hr;
  }

 private:
  explicit TestObject(bool context) : context_(context) {}
  ~TestObject() override = default;
  static std::string Lower(std::string s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
  }
  DISPID Find(const std::string& name) const {
    for (size_t k = 0; k < names_.size(); ++k) {
      if (names_[k] == name) return static_cast<DISPID>(k + 1);
    }
    return DISPID_UNKNOWN;
  }

  bool context_;
  std::vector<std::string> names_;
  std::vector<Member> members_;
};

// The page's scripting context with a posted form of (key, value) pairs:
// Context.Request.Form answers Count, Key(i) (from 1) and Item(key). Item
// gives, as a page host does, a collection object whose default value is
// the text; an unknown key gives Empty.
inline IUnknown* NewFormContext(std::vector<std::pair<std::string, std::string>> items) {
  auto shared = std::make_shared<std::vector<std::pair<std::string, std::string>>>(std::move(items));
  TestObject* form = TestObject::New();
  form->Add("Count", [shared](const std::vector<VARIANT>&, VARIANT* r) {
    r->vt = VT_I4;
    r->lVal = static_cast<LONG>(shared->size());
    return S_OK;
  });
  form->Add("Key", [shared](const std::vector<VARIANT>& args, VARIANT* r) {
    if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
    VARIANT i;
    VariantInit(&i);
    if (FAILED(VariantChangeType(&i, &args[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
    if (i.lVal < 1 || static_cast<size_t>(i.lVal) > shared->size()) return DISP_E_BADINDEX;
    r->vt = VT_BSTR;
    r->bstrVal = NewBstr((*shared)[static_cast<size_t>(i.lVal - 1)].first);
    return S_OK;
  });
  form->Add("Item", [shared](const std::vector<VARIANT>& args, VARIANT* r) {
    if (args.size() != 1 || args[0].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    const std::string key = BstrText(args[0].bstrVal);
    for (const auto& [k, value] : *shared) {
      if (k != key) continue;
      TestObject* values = TestObject::New();
      values->AddValue("value", Arg::Str(value));
      r->vt = VT_DISPATCH;
      r->pdispVal = values;  // its one reference moves to the caller
      return S_OK;
    }
    return S_OK;  // Empty
  });
  TestObject* request = TestObject::New();
  request->AddValue("Form", Arg::Dispatch(form));
  form->Release();
  TestObject* context = TestObject::New(/*context=*/true);
  context->AddValue("Request", Arg::Dispatch(request));
  request->Release();
  return context;
}

}  // namespace quill::test
