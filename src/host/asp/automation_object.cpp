// The base of the host's automation objects, their arguments and results,
// and the value enumerator.
#include "host/asp/automation_object.h"

#include <algorithm>
#include <cctype>
#include <new>

#include "base/utf8.h"

namespace quill::asp {

namespace {

std::atomic<int> g_live_objects{0};

char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool SameName(const char16_t* a, const char16_t* b) {
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
  }
  return *a == *b;
}

void FillException(EXCEPINFO* excep, HRESULT hr, const std::string& message) {
  if (excep == nullptr) return;
  *excep = EXCEPINFO{};
  excep->scode = hr;
  excep->bstrSource = SysAllocString(u"quill-asp");
  excep->bstrDescription = Utf8ToBstr(message);
}

}  // namespace

// ---------------------------------------------------------------------------
// Text

BSTR Utf8ToBstr(std::string_view utf8) {
  try {
    const std::u16string wide = Utf8ToUtf16(utf8);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  } catch (...) {
    return nullptr;
  }
}

std::string BstrToUtf8(BSTR text) {
  if (text == nullptr) return std::string();
  return Utf16ToUtf8(std::u16string_view(text, SysStringLen(text)));
}

std::string ErrorInfoDescription() {
  olert::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Receive()) != S_OK || !info) return std::string();
  olert::ScopedBstr text;
  if (FAILED(info->GetDescription(text.Receive()))) return std::string();
  return BstrToUtf8(text.get());
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

namespace {

// The elements of an array, as text, joined by commas in storage order (as
// the language joins an array), nested arrays likewise.
bool ArrayToUtf8(SAFEARRAY* array, std::string* out) {
  out->clear();
  if (array == nullptr) return true;
  const olert::SafeArrayElements elements(array);
  if (FAILED(elements.status())) return false;
  for (size_t k = 0; k < elements.size(); ++k) {
    std::string text;
    if (!VariantToUtf8(elements.View(k), &text)) return false;
    if (k > 0) out->push_back(',');
    out->append(text);
  }
  return true;
}

}  // namespace

bool VariantToUtf8(const VARIANT& value, std::string* out) {
  if ((value.vt & VT_ARRAY) != 0) {
    return ArrayToUtf8((value.vt & VT_BYREF) != 0 ? *value.pparray : value.parray, out);
  }
  // Text and nothing, the common arguments, are read where they are.
  if (value.vt == VT_BSTR) {
    *out = BstrToUtf8(value.bstrVal);
    return true;
  }
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
    out->clear();
    return true;
  }
  olert::ScopedVariant plain;
  if (FAILED(VariantCopyInd(plain.get(), &value))) return false;
  if (plain.vt() == VT_EMPTY || plain.vt() == VT_NULL) {
    out->clear();
  } else if (plain.vt() == VT_BSTR) {
    *out = BstrToUtf8(plain->bstrVal);
  } else if (SUCCEEDED(VariantChangeType(plain.get(), plain.get(), VARIANT_ALPHABOOL, VT_BSTR))) {
    *out = BstrToUtf8(plain->bstrVal);
  } else if (plain.vt() == VT_NULL || plain.vt() == VT_EMPTY) {
    out->clear();  // an object whose default value is Null or Empty
  } else {
    return false;
  }
  return true;
}

void SetResultText(VARIANT* result, std::string_view utf8) {
  if (result == nullptr) return;
  VariantClear(result);
  BSTR text = Utf8ToBstr(utf8);
  if (text == nullptr) throw std::bad_alloc();
  result->vt = VT_BSTR;
  result->bstrVal = text;
}

void SetResultInt(VARIANT* result, int32_t value) {
  if (result == nullptr) return;
  VariantClear(result);
  result->vt = VT_I4;
  result->lVal = value;
}

void SetResultBool(VARIANT* result, bool value) {
  if (result == nullptr) return;
  VariantClear(result);
  result->vt = VT_BOOL;
  result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void SetResultDispatch(VARIANT* result, IDispatch* object) {
  if (result == nullptr) return;
  VariantClear(result);
  result->vt = VT_DISPATCH;
  result->pdispVal = olert::ComPtr<IDispatch>::Retain(object).Detach();
}

void SetResultObject(VARIANT* result, olert::ComPtr<IDispatch> object) {
  if (result == nullptr) return;
  VariantClear(result);
  result->vt = VT_DISPATCH;
  result->pdispVal = object.Detach();
}

void SetResultEnumerator(VARIANT* result, const std::vector<std::string>& texts) {
  std::vector<olert::ScopedVariant> items;
  for (const std::string& text : texts) {
    olert::ScopedVariant item;
    item->vt = VT_BSTR;
    item->bstrVal = Utf8ToBstr(text);
    items.push_back(std::move(item));
  }
  olert::ComPtr<IUnknown> enumerator = olert::ComPtr<IUnknown>::Adopt(VariantEnumerator::Create(std::move(items)));
  if (result == nullptr) return;
  VariantClear(result);
  result->vt = VT_UNKNOWN;
  result->punkVal = enumerator.Detach();
}

// ---------------------------------------------------------------------------
// Arguments

Arguments::Arguments(const DISPPARAMS* params) {
  if (params == nullptr || params->rgvarg == nullptr) return;
  const UINT named = params->rgdispidNamedArgs != nullptr ? params->cNamedArgs : 0;
  // Named arguments come first in rgvarg; of them only the put value means
  // anything to the host's members.
  for (UINT i = 0; i < named && i < params->cArgs; ++i) {
    if (params->rgdispidNamedArgs[i] == DISPID_PROPERTYPUT) {
      VariantCopyInd(put_.get(), &params->rgvarg[i]);
      has_put_ = true;
    }
  }
  positional_.reserve(params->cArgs - std::min(named, params->cArgs));
  for (UINT i = params->cArgs; i > named; --i) {
    const VARIANT& given = params->rgvarg[i - 1];
    if (given.vt == VT_BSTR) {
      // Only read, and the caller's for the whole call: no copy.
      positional_.push_back(&given);
      continue;
    }
    olert::ScopedVariant copy;
    VariantCopyInd(copy.get(), &given);
    copies_.push_back(std::move(copy));
    positional_.push_back(nullptr);
  }
  // Pointers into copies_ only once it no longer grows.
  size_t next = 0;
  for (const VARIANT*& p : positional_) {
    if (p == nullptr) p = copies_[next++].get();
  }
}

bool Arguments::Missing(size_t i) const {
  if (i >= positional_.size()) return true;
  return positional_[i]->vt == VT_ERROR && positional_[i]->scode == DISP_E_PARAMNOTFOUND;
}

std::string Arguments::Text(size_t i, std::string_view member) const {
  if (Missing(i)) {
    throw AutomationError(DISP_E_PARAMNOTOPTIONAL,
                          std::string(member) + ": argument " + std::to_string(i + 1) + " is missing");
  }
  std::string text;
  if (!VariantToUtf8(*positional_[i], &text)) {
    throw AutomationError(DISP_E_TYPEMISMATCH, std::string(member) + ": argument " +
                                                   std::to_string(i + 1) + " is not a text");
  }
  return text;
}

int32_t Arguments::Int(size_t i, std::string_view member) const {
  if (Missing(i)) {
    throw AutomationError(DISP_E_PARAMNOTOPTIONAL,
                          std::string(member) + ": argument " + std::to_string(i + 1) + " is missing");
  }
  olert::ScopedVariant number;
  const HRESULT hr = VariantChangeType(number.get(), positional_[i], 0, VT_I4);
  if (FAILED(hr)) {
    throw AutomationError(hr, std::string(member) + ": argument " + std::to_string(i + 1) +
                                  " is not a whole number in range");
  }
  return number->lVal;
}

// ---------------------------------------------------------------------------
// AutomationObject

AutomationObject::AutomationObject() { ++g_live_objects; }
AutomationObject::~AutomationObject() { --g_live_objects; }

int AutomationObject::LiveObjects() { return g_live_objects.load(); }

HRESULT AutomationObject::QueryInterface(REFIID riid, void** object) {
  if (object != nullptr && AlsoImplements(riid)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  return QueryListed(riid, object);
}

HRESULT AutomationObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT AutomationObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT AutomationObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  // Only the member name (the first) is looked up; named arguments are not
  // supported by any host member.
  if (names[0] == nullptr) return DISP_E_UNKNOWNNAME;
  for (const Member& m : Members()) {
    if (SameName(m.name, names[0])) {
      ids[0] = m.id;
      break;
    }
  }
  if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  if (count > 1) hr = DISP_E_UNKNOWNNAME;
  return hr;
}

HRESULT AutomationObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* excep, UINT* arg_error) {
  if (arg_error != nullptr) *arg_error = 0;
  if (params != nullptr && params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  bool known = false;
  for (const Member& m : Members()) known = known || m.id == id;
  if (!known) return DISP_E_MEMBERNOTFOUND;
  try {
    const Arguments args(params);
    // The caller may hand in a result it never initialised only when it
    // passes none at all; an initialised one is cleared by the setters.
    Call(id, flags, args, result);
    return S_OK;
  } catch (...) {
    return CurrentFailure(excep);
  }
}

HRESULT AutomationObject::CurrentFailure(EXCEPINFO* excep) noexcept {
  try {
    throw;
  } catch (const AutomationError& e) {
    // A member that does not take the form of access asked for answers as
    // such, without exception information.
    if (e.hr() == DISP_E_MEMBERNOTFOUND && e.what()[0] == '\0') return DISP_E_MEMBERNOTFOUND;
    FillException(excep, e.hr(), e.what());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    FillException(excep, E_FAIL, e.what());
  } catch (...) {
    FillException(excep, E_FAIL, "Unexpected failure");
  }
  return DISP_E_EXCEPTION;
}

void AutomationObject::RequireRead(WORD flags, std::string_view) {
  if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) {
    throw AutomationError(DISP_E_MEMBERNOTFOUND, "");
  }
}

// ---------------------------------------------------------------------------
// VariantEnumerator

VariantEnumerator::VariantEnumerator(std::vector<olert::ScopedVariant> values) : values_(std::move(values)) {
  ++g_live_objects;
}

VariantEnumerator::~VariantEnumerator() { --g_live_objects; }

VariantEnumerator* VariantEnumerator::Create(std::vector<olert::ScopedVariant> values) {
  return new VariantEnumerator(std::move(values));
}

VariantEnumerator* VariantEnumerator::Create(const std::vector<VARIANT>& values) {
  std::vector<olert::ScopedVariant> copies;
  copies.reserve(values.size());
  for (const VARIANT& v : values) {
    olert::ScopedVariant copy;
    copy.CopyFrom(v);
    copies.push_back(std::move(copy));
  }
  return Create(std::move(copies));
}

HRESULT VariantEnumerator::Next(ULONG count, VARIANT* values, ULONG* fetched) {
  if (values == nullptr && count > 0) return E_POINTER;
  ULONG done = 0;
  for (; done < count && next_ < values_.size(); ++done, ++next_) {
    VariantInit(&values[done]);
    VariantCopy(&values[done], values_[next_].get());
  }
  if (fetched != nullptr) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT VariantEnumerator::Skip(ULONG count) {
  const size_t left = values_.size() - next_;
  if (count > left) {
    next_ = values_.size();
    return S_FALSE;
  }
  next_ += count;
  return S_OK;
}

HRESULT VariantEnumerator::Reset() {
  next_ = 0;
  return S_OK;
}

HRESULT VariantEnumerator::Clone(IEnumVARIANT** clone) {
  if (clone == nullptr) return E_POINTER;
  try {
    std::vector<VARIANT> views;  // the values as they are; Create copies them
    views.reserve(values_.size());
    for (const olert::ScopedVariant& v : values_) views.push_back(*v);
    VariantEnumerator* copy = Create(views);
    copy->next_ = next_;
    *clone = copy;
    return S_OK;
  } catch (...) {
    *clone = nullptr;
    return E_OUTOFMEMORY;
  }
}

}  // namespace quill::asp
