// The generic shell: reference counting, name table, dispatch, and the
// generic operations over published properties, owned components and
// provider verbs. Which kind of shell an object gets is shell_kinds.cpp's.
#include "activex_shell/activex_shell.h"

#include <algorithm>
#include <new>

#include "activex_shell/published_access.h"
#include "activex_shell/variant_convert.h"
#include "base/component.h"
#include "base/number_text.h"
#include "base/published.h"
#include "base/string_list.h"
#include "base/utf8.h"

namespace quill {

const IID IID_Iactivex_shell = {
    0x8A28E091, 0x6F48, 0x11D3, {0x81, 0x59, 0x20, 0x4C, 0x4F, 0x4F, 0x50, 0x20}};
const IID IID_Iactivex_method_provider = {
    0xB0BA1D30, 0x6F55, 0x11D3, {0xB1, 0x1C, 0xF9, 0xDB, 0xB0, 0x61, 0x45, 0x16}};

namespace {

constexpr DWORD kSafetyOptions = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

// Names that resolve to the fixed DISPIDs. All five resolve, so that a
// script host (which always asks GetIDsOfNames first) can use get, put and
// exec as well as address.
struct FixedName {
  std::string_view name;
  DISPID id;
};
constexpr FixedName kFixedNames[] = {
    {"address", fixed_dispids::address}, {"com_object", fixed_dispids::com_object},
    {"get", fixed_dispids::get},         {"put", fixed_dispids::put},
    {"exec", fixed_dispids::exec},
};

// The script's arguments in script order: DISPPARAMS holds them last first.
class Arguments {
 public:
  explicit Arguments(const DISPPARAMS* params)
      : args_(params ? params->rgvarg : nullptr), count_(params ? params->cArgs : 0) {}
  UINT count() const { return count_; }
  Variant at(UINT i) const { return arg_to_value(args_[count_ - 1 - i]); }
  const VARIANT& raw(UINT i) const { return args_[count_ - 1 - i]; }
  // Arguments `from` onward as a parameter value: Empty when there are none.
  Variant tail(UINT from) const {
    if (from >= count_) return Variant();
    VariantArray array;
    array.Items.reserve(count_ - from);
    for (UINT i = from; i < count_; ++i) array.Items.push_back(at(i));
    return Variant(std::move(array));
  }

 private:
  const VARIANTARG* args_;
  UINT count_;
};

void FillException(EXCEPINFO* excep, const std::string& message) {
  if (excep == nullptr) return;
  excep->dwHelpContext = 0;
  try {
    excep->bstrDescription = StringToBstr(message);
  } catch (const std::bad_alloc&) {
    excep->bstrDescription = nullptr;
  }
  excep->scode = DISP_E_EXCEPTION;
}

}  // namespace

// ---------------------------------------------------------------------------
// Life

Tactivex_shell::Tactivex_shell(TObject* object)
    : handle_(object ? object->Handle() : kNoHandle),
      lock_(shell_registry().register_shell(this)) {}

Tactivex_shell::~Tactivex_shell() { shell_registry().unregister_shell(this); }

HRESULT Tactivex_shell::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_Iactivex_shell) {
    *object = static_cast<Iactivex_shell*>(this);
  } else if (riid == IID_IObjectSafety) {
    *object = static_cast<IObjectSafety*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG Tactivex_shell::AddRef() { return ++refs_; }

ULONG Tactivex_shell::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

bool Tactivex_shell::implements(REFIID riid) const {
  return riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_Iactivex_shell ||
         riid == IID_IObjectSafety;
}

// ---------------------------------------------------------------------------
// IDispatch

HRESULT Tactivex_shell::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT Tactivex_shell::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT Tactivex_shell::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  std::lock_guard<Tthread_lock> guard(*lock_);
  for (UINT i = 0; i < count; ++i) {
    std::string name;
    try {
      if (names[i] != nullptr) name = LowerCase(Utf16ToUtf8(names[i]));
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    auto fixed = std::find_if(std::begin(kFixedNames), std::end(kFixedNames),
                              [&name](const FixedName& f) { return f.name == name; });
    if (fixed != std::end(kFixedNames)) {
      ids[i] = fixed->id;
      continue;
    }
    auto known = std::find(names_.begin(), names_.end(), name);
    if (known == names_.end()) {
      bool accepted = false;
      try {
        accepted = has_name(name);
        if (accepted) names_.push_back(name);
      } catch (...) {
        accepted = false;  // a name that cannot even be checked is unknown
      }
      if (!accepted) return DISP_E_UNKNOWNNAME;
      known = names_.end() - 1;
    }
    ids[i] = fixed_dispids::name_base + static_cast<DISPID>(known - names_.begin());
  }
  return S_OK;
}

void Tactivex_shell::store_result(const Variant& value, VARIANT* result) const {
  if (result == nullptr) return;
  VariantClear(result);
  ValueToVariant(value, result);
}

HRESULT Tactivex_shell::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* excep, UINT*) {
  if (params != nullptr && params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  const Arguments args(params);
  const bool get = (flags & DISPATCH_PROPERTYGET) != 0;
  const bool method = (flags & DISPATCH_METHOD) != 0;
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;

  std::lock_guard<Tthread_lock> guard(*lock_);
  try {
    if (id < fixed_dispids::name_base) {
      switch (id) {
        case fixed_dispids::address: {
          if (!get) return DISP_E_UNKNOWNNAME;
          LONG address = 0;
          get_address(&address);
          store_result(Variant(static_cast<int32_t>(address)), result);
          return S_OK;
        }
        case fixed_dispids::com_object: {
          if (!get) return DISP_E_UNKNOWNNAME;
          auto* own = dynamic_cast<IDispatch*>(wrapped());
          store_result(own ? Variant(own) : Variant(), result);
          return S_OK;
        }
        case fixed_dispids::get:
          if (!method) return DISP_E_UNKNOWNNAME;
          if (args.count() != 1) return DISP_E_BADPARAMCOUNT;
          store_result(get_property(value_text(args.at(0))), result);
          return S_OK;
        case fixed_dispids::put:
          if (!method) return DISP_E_UNKNOWNNAME;
          if (args.count() != 2) return DISP_E_BADPARAMCOUNT;
          if (!set_property_value(value_text(args.at(0)), args.raw(1))) {
            set_property(value_text(args.at(0)), args.at(1));
          }
          return S_OK;
        case fixed_dispids::exec:
          if (!method) return DISP_E_UNKNOWNNAME;
          if (args.count() < 1) return DISP_E_BADPARAMCOUNT;
          store_result(call_method(value_text(args.at(0)), args.tail(1)), result);
          return S_OK;
        default: return S_OK;  // the default member and the rest: nothing to do
      }
    }
    size_t index = static_cast<size_t>(id - fixed_dispids::name_base);
    if (index >= names_.size()) return DISP_E_UNKNOWNNAME;
    // A copy: the operation may add names (a nested GetIDsOfNames on this
    // thread), which may move the table.
    const std::string name = names_[index];
    if (get && args.count() == 0) {
      store_result(get_property(name), result);
    } else if (put) {
      if (args.count() != 1) return DISP_E_BADPARAMCOUNT;
      if (!set_property_value(name, args.raw(0))) set_property(name, args.at(0));
    } else if (method) {
      store_result(call_method(name, args.tail(0)), result);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    FillException(excep, "Out of memory");
  } catch (const std::exception& e) {
    FillException(excep, e.what());
  } catch (...) {
    FillException(excep, "Unexpected failure");
  }
  return DISP_E_EXCEPTION;
}

bool Tactivex_shell::set_property_value(const std::string&, const VARIANT&) { return false; }

HRESULT Tactivex_shell::get_address(LONG* address) {
  if (address == nullptr) return E_POINTER;
  *address = wrapped() != nullptr ? static_cast<LONG>(handle_) : 0;
  return S_OK;
}

// ---------------------------------------------------------------------------
// IObjectSafety

HRESULT Tactivex_shell::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
  if (supported == nullptr || enabled == nullptr) return E_POINTER;
  if (!implements(riid)) {
    *supported = 0;
    *enabled = 0;
    return E_NOINTERFACE;
  }
  *supported = kSafetyOptions;
  *enabled = safety_options_.load() & kSafetyOptions;
  return S_OK;
}

HRESULT Tactivex_shell::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) {
  if (!implements(riid)) return E_NOINTERFACE;
  safety_options_.store(mask & enabled);
  return S_OK;
}

// ---------------------------------------------------------------------------
// The generic operations

Variant Tactivex_shell::get_property(const std::string& name) {
  TObject* object = wrapped();
  if (object == nullptr || name.empty()) throw PropertyNotFound(name);
  if (const PropertyInfo* prop = FindProperty(object->ClassInfo(), name)) {
    return get_published_property(*object, *prop);
  }
  if (auto* owner = dynamic_cast<TComponent*>(object)) {
    if (TComponent* part = owner->FindComponent(name)) return shell_value(part);
  }
  throw PropertyNotFound(name);
}

void Tactivex_shell::set_property(const std::string& name, const Variant& value) {
  TObject* object = wrapped();
  if (object == nullptr || name.empty()) throw PropertyNotFound(name);
  const PropertyInfo* prop = FindProperty(object->ClassInfo(), name);
  if (prop == nullptr) throw PropertyNotFound(name);
  set_published_property(*object, *prop, value);
}

Variant Tactivex_shell::call_method(const std::string& name, const Variant& params) {
  Variant result;
  TObject* object = wrapped();
  if (object == nullptr || name.empty()) return result;
  if (auto* provider = dynamic_cast<Iactivex_method_provider*>(object)) {
    provider->invoke_method(name, params, result);
  }
  return result;
}

bool Tactivex_shell::has_name(const std::string& name) {
  TObject* object = wrapped();
  if (object == nullptr || name.empty()) return false;
  if (FindProperty(object->ClassInfo(), name) != nullptr) return true;
  if (auto* owner = dynamic_cast<TComponent*>(object)) {
    if (owner->FindComponent(name) != nullptr) return true;
  }
  if (auto* provider = dynamic_cast<Iactivex_method_provider*>(object)) {
    return name_in_list(name, provider->method_names());
  }
  return false;
}

// ---------------------------------------------------------------------------
// Making shells

VARIANT shell_variant(TObject* object) {
  VARIANT out;
  VariantInit(&out);
  IDispatch* dispatch = nullptr;
  create_shell(object)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  out.vt = VT_DISPATCH;
  out.pdispVal = dispatch;
  return out;
}

Variant shell_value(TObject* object) {
  // The value takes the new shell's first reference.
  return Variant(static_cast<IDispatch*>(create_shell(object)));
}

// ---------------------------------------------------------------------------
// Helpers

std::string value_text(const Variant& value) {
  if (value.IsClear()) return std::string();
  // An array has no text; taking it as "" would drop it without a word.
  if (value.IsArray()) throw EVariantError("An array cannot be used as a text value");
  try {
    return value.AsString();
  } catch (...) {
    return std::string();
  }
}

bool name_in_list(std::string_view name, std::string_view list) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    if (Trim(list.substr(start, comma - start)) == name) return true;
    start = comma + 1;
  }
  return false;
}

size_t param_count(const Variant& params) {
  return params.IsArray() ? params.RawArray().Items.size() : 0;
}

const Variant& param(const Variant& params, size_t index) {
  if (index >= param_count(params)) {
    throw EVariantError("Missing argument " + std::to_string(index + 1));
  }
  return params.RawArray().Items[index];
}

int32_t index_value(const Variant& value) {
  int32_t out = 0;
  return TryStrToInt(value_text(value), &out) ? out : 0;
}

}  // namespace quill
