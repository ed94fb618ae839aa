// The automation bridge: Proxy traps over IDispatch, value conversion both
// ways, VBArray and Enumerator.
//
// Two kinds of functions live here. Native functions the engine calls (the
// traps, member functions, VBArray and Enumerator methods) read their
// arguments with calls that cannot throw, hand the work to a C++ function
// that owns whatever it needs and touches the engine only through
// duk_safe_call, and throw the error that function left on the stack only
// after it has returned. The bodies run under duk_safe_call (marked
// "engine frame") own nothing, so an engine error unwinding them loses
// nothing.
#include "host/asp/dispatch_bridge.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "host/asp/automation_object.h"
#include "host/asp/call_assignment.h"
#include "host/asp/duk_internals.h"
#include "host/asp/duk_text.h"
#include "host/asp/script_values.h"
#include "host/asp/value_store.h"

namespace quill::asp {

// ---------------------------------------------------------------------------
// References

struct DispatchBridge::Ref {
  RefKind kind = RefKind::Object;
  IDispatch* object = nullptr;
  SAFEARRAY* array = nullptr;
  IEnumVARIANT* enumerator = nullptr;
  VARIANT current;  // the enumerator's current item
  bool at_end = true;
  // Names as script spells them -> DISPID, DISPID_UNKNOWN for names the
  // object does not know: each is asked of the object once.
  std::unordered_map<std::string, DISPID> ids;
  bool self_resolved = false;
  DISPID self_id = DISPID_VALUE;
  int store = -1;  // answers IID_IQuillValueStore: 1, not: 0, not asked yet: -1

  Ref() { VariantInit(&current); }
  ~Ref() {
    VariantClear(&current);
    if (object != nullptr) object->Release();
    if (enumerator != nullptr) enumerator->Release();
    if (array != nullptr) SafeArrayDestroy(array);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
};

namespace {

constexpr const char* kBridgeKey = "\xFF" "quillBridge";
constexpr const char* kHandlerKey = "\xFF" "quillHandler";
constexpr const char* kFinalizerKey = "\xFF" "quillFinalizer";
constexpr const char* kVBArrayKey = "\xFF" "quillVBArray";
constexpr const char* kEnumeratorKey = "\xFF" "quillEnumerator";
constexpr const char* kDateKey = "\xFF" "quillDate";
constexpr const char* kGetTimeKey = "\xFF" "quillGetTime";
constexpr const char* kToPrimitiveKey = "\xFF" "quillToPrimitive";
constexpr const char* kDispIdKey = "\xFF" "quillDispId";
constexpr const char* kNameKey = "\xFF" "quillName";
constexpr const char* kTargetKey = "\xFF" "quillTarget";

// Errors raised here blame the page line that made the call, not this file.
#define BRIDGE_ERROR(ctx, code, ...) duk_error_raw((ctx), (code), nullptr, 0, __VA_ARGS__)

constexpr int kMaxArrayDepth = 32;
constexpr size_t kMaxArrayElements = 16u << 20;

// Runs `body` (an engine frame: a noexcept lambda that owns nothing) under
// duk_safe_call. On failure the error is the value at the top.
template <typename F>
duk_int_t SafeRun(duk_context* ctx, F& body, duk_idx_t nargs, duk_idx_t nrets) {
  return duk_safe_call(
      ctx, [](duk_context* c, void* udata) -> duk_ret_t { return (*static_cast<F*>(udata))(c); },
      &body, nargs, nrets);
}

// Reads the reference id kept in the hidden property of the object at
// `index`; 0 when there is none. Engine frame.
uint32_t RefIdAt(duk_context* ctx, duk_idx_t index) noexcept {
  if (!duk_is_object(ctx, index)) return 0;
  duk_get_prop_string(ctx, index, kRefIdKey);
  const uint32_t id = duk_is_number(ctx, -1) ? duk_get_uint(ctx, -1) : 0;
  duk_pop(ctx);
  return id;
}

// A BSTR of the engine string `bytes`, or null when memory runs out.
BSTR BstrFromDuk(std::string_view bytes) noexcept {
  const size_t units = DukDecodedLength(bytes);
  if (units > 0x3FFFFFFF) return nullptr;
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (out != nullptr) DukDecode(bytes, out);
  return out;
}

std::string Hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

// --- Dates ------------------------------------------------------------------
//
// VT_DATE carries no time zone; like the language's own Date fields it is
// read as local time.

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

const int64_t kDateEpochDays = DaysFromCivil(1899, 12, 30);

// Milliseconds since 1970 (UTC) -> DATE in local time; false when the time
// cannot be represented.
bool JsTimeToDate(double ms, DATE* out) {
  if (!std::isfinite(ms)) return false;
  const double secs_floor = std::floor(ms / 1000.0);
  if (secs_floor < -1e13 || secs_floor > 1e13) return false;
  const time_t secs = static_cast<time_t>(secs_floor);
  const double millis = ms - secs_floor * 1000.0;
  struct tm local {};
  if (localtime_r(&secs, &local) == nullptr) return false;
  const int64_t days = DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday) - kDateEpochDays;
  const double fraction =
      ((local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec) * 1000.0 + millis) / 86400000.0;
  // Before 1899-12-30 the fraction still counts forward from midnight.
  *out = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
  return true;
}

// DATE in local time -> milliseconds since 1970 (UTC); NaN when it has none.
double DateToJsTime(DATE date) {
  if (!std::isfinite(date) || std::fabs(date) > 3e6) return std::nan("");
  const double whole = std::trunc(date);
  const int64_t total_ms = std::llround(std::fabs(date - whole) * 86400000.0);
  int64_t days = static_cast<int64_t>(whole) + total_ms / 86400000;
  int64_t in_day = total_ms % 86400000;
  int64_t y = 0;
  unsigned m = 0;
  unsigned d = 0;
  CivilFromDays(days + kDateEpochDays, &y, &m, &d);
  struct tm local {};
  local.tm_year = static_cast<int>(y - 1900);
  local.tm_mon = static_cast<int>(m) - 1;
  local.tm_mday = static_cast<int>(d);
  local.tm_hour = static_cast<int>(in_day / 3600000);
  local.tm_min = static_cast<int>(in_day / 60000 % 60);
  local.tm_sec = static_cast<int>(in_day / 1000 % 60);
  local.tm_isdst = -1;
  const time_t secs = mktime(&local);
  if (secs == static_cast<time_t>(-1) && !(local.tm_year == 69 && local.tm_mon == 11)) {
    return std::nan("");
  }
  return static_cast<double>(secs) * 1000.0 + static_cast<double>(in_day % 1000);
}

// --- Values from script (engine frames) ----------------------------------

void ConvertValue(duk_context* ctx, DispatchBridge* b, duk_idx_t index, VARIANT* out, int depth) noexcept;

void ConvertText(duk_context* ctx, duk_idx_t index, VARIANT* out) noexcept {
  duk_dup(ctx, index);
  duk_size_t n = 0;
  const char* p = duk_to_lstring(ctx, -1, &n);
  BSTR text = BstrFromDuk(std::string_view(p, n));
  duk_pop(ctx);
  if (text == nullptr) BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
  out->vt = VT_BSTR;
  out->bstrVal = text;
}

void ConvertObject(duk_context* ctx, DispatchBridge* b, duk_idx_t index, VARIANT* out, int depth) noexcept {
  if (const uint32_t id = RefIdAt(ctx, index); id != 0) {
    if (DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Object)) {
      out->vt = VT_DISPATCH;
      out->pdispVal = ref->object;
      ref->object->AddRef();
      return;
    }
    if (DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Array)) {
      SAFEARRAY* copy = nullptr;
      VARTYPE vt = VT_VARIANT;
      SafeArrayGetVartype(ref->array, &vt);
      if (FAILED(SafeArrayCopy(ref->array, &copy)) || copy == nullptr) {
        BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
      }
      out->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
      out->parray = copy;
      return;
    }
    if (b->Find(id, DispatchBridge::RefKind::Enumerator) != nullptr) {
      BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "an Enumerator cannot be passed to an automation object");
    }
    BRIDGE_ERROR(ctx, DUK_ERR_ERROR, "the automation object has been released");
  }
  duk_push_heapptr(ctx, b->date_constructor());
  const bool is_date = duk_instanceof(ctx, index, -1) != 0;
  duk_pop(ctx);
  if (is_date) {
    duk_push_heapptr(ctx, b->date_get_time());
    duk_dup(ctx, index);
    duk_call_method(ctx, 0);
    const double ms = duk_get_number(ctx, -1);
    duk_pop(ctx);
    DATE date = 0;
    if (!JsTimeToDate(ms, &date)) BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "an invalid Date cannot be passed to an automation object");
    out->vt = VT_DATE;
    out->date = date;
    return;
  }
  if (duk_is_array(ctx, index)) {
    if (depth >= kMaxArrayDepth) {
      BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR,
                "an array nested more than %d deep (or containing itself) cannot be passed to an automation object",
                kMaxArrayDepth);
    }
    const duk_size_t length = duk_get_length(ctx, index);
    if (length > kMaxArrayElements) {
      BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "an array of more than %lu elements cannot be passed to an automation object",
                static_cast<unsigned long>(kMaxArrayElements));
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(length));
    if (array == nullptr) BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
    // The array belongs to *out from here on, so that whatever happens to
    // the elements, clearing *out frees it.
    out->vt = static_cast<VARTYPE>(VT_ARRAY | VT_VARIANT);
    out->parray = array;
    VARIANT* elements = static_cast<VARIANT*>(array->pvData);
    for (duk_size_t i = 0; i < length; ++i) {
      duk_get_prop_index(ctx, index, static_cast<duk_uarridx_t>(i));
      ConvertValue(ctx, b, -1, &elements[i], depth + 1);
      duk_pop(ctx);
    }
    return;
  }
  ConvertText(ctx, index, out);
}

void ConvertValue(duk_context* ctx, DispatchBridge* b, duk_idx_t index, VARIANT* out, int depth) noexcept {
  index = duk_normalize_index(ctx, index);
  if (duk_is_symbol(ctx, index)) {
    BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "a Symbol cannot be passed to an automation object");
  }
  switch (duk_get_type(ctx, index)) {
    case DUK_TYPE_NONE:
    case DUK_TYPE_UNDEFINED:
      out->vt = VT_EMPTY;
      return;
    case DUK_TYPE_NULL:
      out->vt = VT_NULL;
      return;
    case DUK_TYPE_BOOLEAN:
      out->vt = VT_BOOL;
      out->boolVal = duk_get_boolean(ctx, index) ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case DUK_TYPE_NUMBER: {
      const double d = duk_get_number(ctx, index);
      if (std::isfinite(d) && d == std::trunc(d) && d >= -2147483648.0 && d <= 2147483647.0 &&
          !(d == 0 && std::signbit(d))) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(d);
      } else {
        out->vt = VT_R8;
        out->dblVal = d;
      }
      return;
    }
    case DUK_TYPE_STRING: {
      duk_size_t n = 0;
      const char* p = duk_get_lstring(ctx, index, &n);
      BSTR text = BstrFromDuk(std::string_view(p, n));
      if (text == nullptr) BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
      out->vt = VT_BSTR;
      out->bstrVal = text;
      return;
    }
    case DUK_TYPE_OBJECT:
      ConvertObject(ctx, b, index, out, depth);
      return;
    default:  // buffers, pointers, light functions: their text
      ConvertText(ctx, index, out);
      return;
  }
}

// --- Values to script (engine frames) --------------------------------------

void PushValue(duk_context* ctx, DispatchBridge* b, const VARIANT* v) noexcept;

void PushRefObject(duk_context* ctx, DispatchBridge* b, uint32_t id, void* prototype) noexcept {
  duk_push_object(ctx);
  duk_push_heapptr(ctx, prototype);
  duk_set_prototype(ctx, -2);
  duk_push_uint(ctx, id);
  duk_put_prop_string(ctx, -2, kRefIdKey);
  duk_push_heapptr(ctx, b->finalizer());
  duk_set_finalizer(ctx, -2);
}

duk_ret_t ProxyTarget(duk_context* ctx);

// Pushes the Proxy for reference `id`, an object already in the table.
void PushProxy(duk_context* ctx, DispatchBridge* b, uint32_t id) noexcept {
  duk_push_c_function(ctx, ProxyTarget, DUK_VARARGS);
  duk_push_uint(ctx, id);
  duk_put_prop_string(ctx, -2, kRefIdKey);
  duk_push_heapptr(ctx, b->finalizer());
  duk_set_finalizer(ctx, -2);
  duk_push_heapptr(ctx, b->handler());
  duk_push_proxy(ctx, 0);
}

void PushDispatch(duk_context* ctx, DispatchBridge* b, IDispatch* object) noexcept {
  if (object == nullptr) {
    duk_push_null(ctx);
    return;
  }
  const uint32_t id = b->AddObject(object);
  if (id == 0) BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
  PushProxy(ctx, b, id);
}

void PushString(duk_context* ctx, BSTR text) noexcept {
  const std::u16string_view view(text != nullptr ? text : u"", SysStringLen(text));
  const size_t n = DukEncodedLength(view);
  char* buffer = static_cast<char*>(duk_push_fixed_buffer(ctx, n));
  DukEncode(view, buffer);
  duk_buffer_to_string(ctx, -1);
}

void PushDate(duk_context* ctx, DispatchBridge* b, DATE date) noexcept {
  duk_push_heapptr(ctx, b->date_constructor());
  duk_push_number(ctx, DateToJsTime(date));
  duk_new(ctx, 1);
}

void PushArray(duk_context* ctx, DispatchBridge* b, SAFEARRAY* array) noexcept {
  if (array == nullptr) {
    duk_push_null(ctx);
    return;
  }
  SAFEARRAY* copy = nullptr;
  if (FAILED(SafeArrayCopy(array, &copy)) || copy == nullptr) {
    BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
  }
  const uint32_t id = b->AddArray(copy);
  if (id == 0) {
    SafeArrayDestroy(copy);
    BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
  }
  PushRefObject(ctx, b, id, b->vbarray_prototype());
}

void PushValue(duk_context* ctx, DispatchBridge* b, const VARIANT* v) noexcept {
  VARTYPE vt = v->vt;
  if ((vt & VT_BYREF) != 0) {
    const VARTYPE base = static_cast<VARTYPE>(vt & ~VT_BYREF);
    if (v->byref == nullptr) {
      duk_push_undefined(ctx);
      return;
    }
    if (base == VT_VARIANT) {
      PushValue(ctx, b, v->pvarVal);
      return;
    }
    // A view of the value referred to; it owns nothing, and every branch
    // below copies what it keeps.
    VARIANT view;
    VariantInit(&view);
    if ((base & VT_ARRAY) != 0) {
      view.parray = *v->pparray;
    } else if (base == VT_DECIMAL) {
      view.decVal = *v->pdecVal;
    } else {
      size_t size = 0;
      switch (base) {
        case VT_I1: case VT_UI1: size = 1; break;
        case VT_I2: case VT_UI2: case VT_BOOL: size = 2; break;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: size = 4; break;
        default: size = 8; break;
      }
      std::memcpy(&view.llVal, v->byref, size);
    }
    view.vt = base;
    PushValue(ctx, b, &view);
    return;
  }
  if ((vt & VT_ARRAY) != 0) {
    PushArray(ctx, b, v->parray);
    return;
  }
  switch (vt) {
    case VT_EMPTY: duk_push_undefined(ctx); return;
    case VT_NULL: duk_push_null(ctx); return;
    case VT_I1: duk_push_int(ctx, v->cVal); return;
    case VT_UI1: duk_push_uint(ctx, v->bVal); return;
    case VT_I2: duk_push_int(ctx, v->iVal); return;
    case VT_UI2: duk_push_uint(ctx, v->uiVal); return;
    case VT_I4: duk_push_int(ctx, v->lVal); return;
    case VT_UI4: duk_push_uint(ctx, v->ulVal); return;
    case VT_INT: duk_push_int(ctx, v->intVal); return;
    case VT_UINT: duk_push_uint(ctx, v->uintVal); return;
    case VT_I8: duk_push_number(ctx, static_cast<double>(v->llVal)); return;
    case VT_UI8: duk_push_number(ctx, static_cast<double>(v->ullVal)); return;
    case VT_R4: duk_push_number(ctx, v->fltVal); return;
    case VT_R8: duk_push_number(ctx, v->dblVal); return;
    case VT_CY: duk_push_number(ctx, static_cast<double>(v->cyVal.int64) / 10000.0); return;
    case VT_BOOL: duk_push_boolean(ctx, v->boolVal != VARIANT_FALSE); return;
    case VT_ERROR: duk_push_undefined(ctx); return;  // an omitted value
    case VT_DATE: PushDate(ctx, b, v->date); return;
    case VT_BSTR: PushString(ctx, v->bstrVal); return;
    case VT_DISPATCH: PushDispatch(ctx, b, v->pdispVal); return;
    case VT_UNKNOWN: {
      if (PackedValue* packed = PackedValue::From(v->punkVal)) {
        packed->Release();  // *v holds it while its text is read
        duk_push_lstring(ctx, packed->text().data(), packed->text().size());
        UnpackTop(ctx);
        return;
      }
      IDispatch* object = nullptr;
      if (v->punkVal != nullptr &&
          SUCCEEDED(v->punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object))) &&
          object != nullptr) {
        const uint32_t id = b->AddObject(object);
        object->Release();  // the table holds its own reference
        if (id == 0) BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
        PushProxy(ctx, b, id);
      } else {
        duk_push_null(ctx);  // an object script cannot call
      }
      return;
    }
    case VT_DECIMAL: {
      // 96-bit magnitude, a power-of-ten scale and a sign; the runtime has
      // no conversion for it, and a double is what script numbers are.
      const DECIMAL& d = v->decVal;
      double value = static_cast<double>(d.Hi32) * 18446744073709551616.0 + static_cast<double>(d.Lo64);
      value /= std::pow(10.0, d.scale <= 28 ? d.scale : 28);
      duk_push_number(ctx, (d.sign & 0x80) != 0 ? -value : value);
      return;
    }
    default:
      BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "a value of automation type %u has no script form",
                static_cast<unsigned>(vt));
  }
}

// --- Calls -----------------------------------------------------------------

// Frees the variants of one call.
struct VariantList {
  std::vector<VARIANT> items;
  explicit VariantList(size_t n) : items(n) {
    for (VARIANT& v : items) VariantInit(&v);
  }
  ~VariantList() {
    for (VARIANT& v : items) VariantClear(&v);
  }
};

struct ScopedVariant {
  VARIANT v;
  ScopedVariant() { VariantInit(&v); }
  ~ScopedVariant() { VariantClear(&v); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
};

std::string StandardDescription(HRESULT hr, std::string_view name) {
  const std::string member = "'" + std::string(name) + "'";
  switch (hr) {
    case DISP_E_UNKNOWNNAME: return "Object doesn't support property or method " + member;
    case DISP_E_MEMBERNOTFOUND: return "Member " + member + " cannot be used this way";
    case DISP_E_BADPARAMCOUNT: return "Wrong number of arguments for " + member;
    case DISP_E_PARAMNOTOPTIONAL: return "Argument not optional in " + member;
    case DISP_E_TYPEMISMATCH: return "Type mismatch in " + member;
    case DISP_E_OVERFLOW: return "Overflow in " + member;
    case DISP_E_BADINDEX: return "Subscript out of range in " + member;
    case DISP_E_NONAMEDARGS: return member + " takes no named arguments";
    case DISP_E_BADVARTYPE: return "Bad value type for " + member;
    case DISP_E_PARAMNOTFOUND: return "Parameter not found in " + member;
    case E_NOTIMPL: return member + " is not implemented";
    case E_OUTOFMEMORY: return "Out of memory in " + member;
    case E_INVALIDARG: return "Invalid argument to " + member;
    case E_NOINTERFACE: return "No such interface supported by " + member;
    default: return member + " failed with error " + Hex(hr);
  }
}

// The description and number of a failed Invoke; frees what EXCEPINFO holds.
std::string DescribeFailure(HRESULT hr, EXCEPINFO& excep, std::string_view name, HRESULT* number) {
  std::string description;
  *number = hr;
  if (hr == DISP_E_EXCEPTION) {
    if (excep.pfnDeferredFillIn != nullptr) excep.pfnDeferredFillIn(&excep);
    if (excep.bstrDescription != nullptr) description = BstrToUtf8(excep.bstrDescription);
    if (FAILED(excep.scode)) {
      *number = excep.scode;
    } else if (excep.wCode != 0) {
      *number = MakeHresult(0x800A0000u | excep.wCode);
    }
  } else {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
      BSTR text = nullptr;
      if (SUCCEEDED(info->GetDescription(&text))) description = BstrToUtf8(text);
      SysFreeString(text);
      info->Release();
    }
  }
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  excep = EXCEPINFO{};
  if (description.empty()) description = StandardDescription(*number == hr ? hr : *number, name);
  return description;
}

// Resolves `name` on the object of `ref`, through its cache. DISPID_UNKNOWN
// when the object does not know it.
DISPID Resolve(DispatchBridge::Ref& ref, std::string_view name) {
  const std::string key(name);
  if (auto found = ref.ids.find(key); found != ref.ids.end()) return found->second;
  std::u16string wide = DukToUtf16(name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(ref.object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) {
    id = DISPID_UNKNOWN;
  }
  ref.ids.emplace(key, id);
  return id;
}

// The member a call of the object itself goes to: the one with the empty
// name when the object has one, else the default member.
DISPID ResolveSelf(DispatchBridge::Ref& ref) {
  if (!ref.self_resolved) {
    OLECHAR empty[] = {0};
    LPOLESTR names[] = {empty};
    DISPID id = DISPID_UNKNOWN;
    if (SUCCEEDED(ref.object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) &&
        id != DISPID_UNKNOWN) {
      ref.self_id = id;
    } else {
      ref.self_id = DISPID_VALUE;
    }
    ref.self_resolved = true;
  }
  return ref.self_id;
}

// True when the object of `ref` keeps what is put into it beyond the page.
bool IsStore(DispatchBridge::Ref& ref) {
  if (ref.store < 0) {
    void* p = nullptr;
    ref.store = SUCCEEDED(ref.object->QueryInterface(IID_IQuillValueStore, &p)) && p != nullptr ? 1 : 0;
    if (p != nullptr) static_cast<IUnknown*>(p)->Release();
  }
  return ref.store == 1;
}

// A JScript array or plain object: what a store keeps packed.
bool IsStructure(duk_context* ctx, DispatchBridge* b, duk_idx_t index) noexcept {
  if (!duk_is_object(ctx, index) || duk_is_function(ctx, index) || RefIdAt(ctx, index) != 0) return false;
  duk_push_heapptr(ctx, b->date_constructor());
  const bool is_date = duk_instanceof(ctx, index, -1) != 0;
  duk_pop(ctx);
  return !is_date;
}

// *out becomes the packed form of the structure at `index`; false with an
// error pushed when it cannot be packed.
bool PackValue(duk_context* ctx, duk_idx_t index, VARIANT* out) {
  const duk_idx_t absolute = duk_normalize_index(ctx, index);
  auto body = [absolute](duk_context* c) noexcept -> duk_ret_t {
    PushPackedText(c, absolute);
    return 1;
  };
  if (SafeRun(ctx, body, 0, 1) != DUK_EXEC_SUCCESS) return false;
  duk_size_t n = 0;
  const char* p = duk_get_lstring(ctx, -1, &n);
  VariantClear(out);
  out->vt = VT_UNKNOWN;
  out->punkVal = PackedValue::Create(std::string(p, n));
  duk_pop(ctx);
  return true;
}

// Invokes member `dispid` of object `id` with the script values at
// [first, first + count) as arguments and, when put_index >= 0, the value
// there as the property put's value. Leaves the result (or, on failure, an
// Error) at the top of the stack; answers 1 or -1.
int InvokeMember(duk_context* ctx, DispatchBridge* b, uint32_t id, DISPID dispid, WORD flags,
                 duk_idx_t first, duk_idx_t count, duk_idx_t put_index, std::string_view name) noexcept {
  try {
    DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Object);
    if (ref == nullptr) {
      b->PushError(E_UNEXPECTED, "the automation object has been released");
      return -1;
    }
    IDispatch* object = ref->object;
    object->AddRef();  // the reference may be dropped while arguments convert
    struct Holder {
      IDispatch* o;
      ~Holder() { o->Release(); }
    } holder{object};

    const bool put = put_index >= 0;
    const size_t total = static_cast<size_t>(count) + (put ? 1 : 0);
    VariantList args(total);
    // rgvarg holds the put value first (it is the named argument), then the
    // positional arguments last to first.
    if (put && !(IsStore(*ref) && IsStructure(ctx, b, put_index) ? PackValue(ctx, put_index, &args.items[0])
                                                                 : b->ToVariant(put_index, &args.items[0]))) {
      return -1;
    }
    for (duk_idx_t i = 0; i < count; ++i) {
      VARIANT* slot = &args.items[total - 1 - static_cast<size_t>(i)];
      if (!b->ToVariant(first + i, slot)) return -1;
    }
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{total > 0 ? args.items.data() : nullptr, put ? &named : nullptr,
                      static_cast<UINT>(total), put ? 1u : 0u};
    ScopedVariant result;
    EXCEPINFO excep{};
    UINT arg_error = 0;
    SetErrorInfo(0, nullptr);  // what GetErrorInfo reads must come from this call
    const HRESULT hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                      put ? nullptr : &result.v, &excep, &arg_error);
    if (b->StopRequested()) quill_duk_interrupt_now(ctx);
    if (FAILED(hr)) {
      HRESULT number = hr;
      const std::string description = DescribeFailure(hr, excep, name, &number);
      b->PushError(number, description);
      return -1;
    }
    if (put) {
      duk_push_true(ctx);
      return 1;
    }
    return b->PushVariant(result.v) ? 1 : -1;
  } catch (...) {
    b->PushError(E_OUTOFMEMORY, "out of memory");
    return -1;
  }
}

// --- Native functions --------------------------------------------------------

duk_ret_t Finish(duk_context* ctx, int rc) {
  if (rc < 0) return duk_throw(ctx);
  return rc;
}

duk_ret_t ProxyTarget(duk_context* ctx) {
  {
    BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "an automation object cannot be used with 'new'");
    return 0;
  }
}

duk_ret_t Finalizer(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t id = RefIdAt(ctx, 0);
  if (b != nullptr && id != 0) b->Drop(id);
  return 0;
}

// The function that reads the default member: toString, valueOf and
// Symbol.toPrimitive of a bridged object.
duk_ret_t DefaultValue(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  duk_push_current_function(ctx);
  const uint32_t id = RefIdAt(ctx, -1);
  duk_pop(ctx);
  const int rc = [&]() noexcept -> int {
    try {
      DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Object);
      if (ref == nullptr) {
        b->PushError(E_UNEXPECTED, "the automation object has been released");
        return -1;
      }
      DISPPARAMS none{nullptr, nullptr, 0, 0};
      ScopedVariant result;
      EXCEPINFO excep{};
      SetErrorInfo(0, nullptr);
      const HRESULT hr = ref->object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                                             DISPATCH_PROPERTYGET, &none, &result.v, &excep, nullptr);
      if (FAILED(hr)) {
        HRESULT number = hr;
        std::string description = DescribeFailure(hr, excep, "default member", &number);
        if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME) {
          description = "the automation object has no default value";
        }
        b->PushError(number, description);
        return -1;
      }
      if (result.v.vt == VT_DISPATCH || result.v.vt == VT_UNKNOWN) {
        // An object's primitive value is its own default value, as text.
        std::string text;
        if (!VariantToUtf8(result.v, &text)) {
          b->PushError(DISP_E_TYPEMISMATCH, "the automation object has no default value");
          return -1;
        }
        ScopedVariant converted;
        converted.v.vt = VT_BSTR;
        converted.v.bstrVal = Utf8ToBstr(text);
        return b->PushVariant(converted.v) ? 1 : -1;
      }
      return b->PushVariant(result.v) ? 1 : -1;
    } catch (...) {
      b->PushError(E_OUTOFMEMORY, "out of memory");
      return -1;
    }
  }();
  return Finish(ctx, rc);
}

// Pushes a function bound to reference `id` that runs `fn`. Engine frame.
void PushBoundFunction(duk_context* ctx, duk_c_function fn, uint32_t id) noexcept {
  duk_push_c_function(ctx, fn, DUK_VARARGS);
  duk_push_uint(ctx, id);
  duk_put_prop_string(ctx, -2, kRefIdKey);
}

// A member reached at a call site: `obj.Name(...)`.
duk_ret_t MemberCall(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const duk_idx_t count = duk_get_top(ctx);
  duk_push_current_function(ctx);
  const uint32_t id = RefIdAt(ctx, -1);
  duk_get_prop_string(ctx, -1, kDispIdKey);
  const DISPID dispid = duk_get_int(ctx, -1);
  duk_pop(ctx);
  duk_get_prop_string(ctx, -1, kNameKey);  // stays on the stack while its text is used
  duk_size_t n = 0;
  const char* name = duk_get_lstring(ctx, -1, &n);
  const WORD flags = count > 0 ? static_cast<WORD>(DISPATCH_METHOD | DISPATCH_PROPERTYGET) : DISPATCH_METHOD;
  const int rc = InvokeMember(ctx, b, id, dispid, flags, 0, count, -1,
                              std::string_view(name != nullptr ? name : "", n));
  return Finish(ctx, rc);
}

// `X(args) = value` and `X.Name(args) = value` (see call_assignment.h): a
// property put (or, for the read of a compound assignment, get) with the
// arguments noted by __quill_put, which the trap pushed at `first` (the
// member's name, then `count` arguments). A put's value is at 2.
int PutThroughCall(duk_context* ctx, DispatchBridge* b, DispatchBridge::Ref& ref, uint32_t id,
                   duk_idx_t first, duk_idx_t count, bool put) {
  duk_size_t n = 0;
  const char* member = duk_get_lstring(ctx, first, &n);
  const std::string name(member != nullptr ? member : "", n);
  DISPID dispid = DISPID_UNKNOWN;
  if (name.empty()) {
    dispid = ResolveSelf(ref);
  } else {
    dispid = Resolve(ref, name);
    if (dispid == DISPID_UNKNOWN) {
      b->PushError(DISP_E_UNKNOWNNAME, StandardDescription(DISP_E_UNKNOWNNAME, DukToUtf8(name)));
      return -1;
    }
  }
  return InvokeMember(ctx, b, id, dispid, put ? DISPATCH_PROPERTYPUT : DISPATCH_PROPERTYGET, first + 1, count,
                      put ? 2 : -1, name.empty() ? std::string_view("default member") : std::string_view(name));
}

// get(target, key, receiver)
duk_ret_t TrapGet(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t id = RefIdAt(ctx, 0);
  if (duk_is_symbol(ctx, 1)) {
    if (b->to_primitive_symbol() != nullptr && duk_get_heapptr(ctx, 1) == b->to_primitive_symbol()) {
      PushBoundFunction(ctx, DefaultValue, id);
    } else {
      duk_push_undefined(ctx);
    }
    return 1;
  }
  const bool for_call = quill_duk_read_is_for_call(ctx) != 0;
  duk_size_t n = 0;
  const char* key = duk_get_lstring(ctx, 1, &n);
  const std::string_view name(key != nullptr ? key : "", n);
  // The read of a compound assignment to a call: the noted arguments stay
  // for the put that follows. Nothing in this frame owns anything yet.
  const bool through_call = name == kPutKey;
  const duk_idx_t first = duk_get_top(ctx);
  const duk_idx_t count = through_call ? PushPendingPut(ctx, true) : 0;
  const int rc = [&]() noexcept -> int {
    try {
      DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Object);
      if (ref == nullptr) {
        b->PushError(E_UNEXPECTED, "the automation object has been released");
        return -1;
      }
      if (through_call) return PutThroughCall(ctx, b, *ref, id, first, count, false);
      const DISPID dispid = Resolve(*ref, name);
      if (dispid == DISPID_UNKNOWN) {
        if (name == "toString" || name == "valueOf") {
          auto push = [id](duk_context* c) noexcept -> duk_ret_t {
            PushBoundFunction(c, DefaultValue, id);
            return 1;
          };
          return SafeRun(ctx, push, 0, 1) == DUK_EXEC_SUCCESS ? 1 : -1;
        }
        if (!for_call && (name == "toJSON" || name == "then" || name == "constructor")) {
          // Probes the language makes of any object.
          duk_push_undefined(ctx);
          return 1;
        }
        b->PushError(DISP_E_UNKNOWNNAME, StandardDescription(DISP_E_UNKNOWNNAME, DukToUtf8(name)));
        return -1;
      }
      if (for_call) {
        auto push = [id, dispid, key, n](duk_context* c) noexcept -> duk_ret_t {
          duk_push_c_function(c, MemberCall, DUK_VARARGS);
          duk_push_uint(c, id);
          duk_put_prop_string(c, -2, kRefIdKey);
          duk_push_int(c, dispid);
          duk_put_prop_string(c, -2, kDispIdKey);
          duk_push_lstring(c, key, n);
          duk_put_prop_string(c, -2, kNameKey);
          // The member keeps the object alive for as long as it lives.
          duk_dup(c, 0);
          duk_put_prop_string(c, -2, kTargetKey);
          return 1;
        };
        return SafeRun(ctx, push, 0, 1) == DUK_EXEC_SUCCESS ? 1 : -1;
      }
      return InvokeMember(ctx, b, id, dispid, DISPATCH_PROPERTYGET, 0, 0, -1, name);
    } catch (...) {
      b->PushError(E_OUTOFMEMORY, "out of memory");
      return -1;
    }
  }();
  return Finish(ctx, rc);
}

// set(target, key, value, receiver)
duk_ret_t TrapSet(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t id = RefIdAt(ctx, 0);
  if (duk_is_symbol(ctx, 1)) {
    {
    BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "an automation object has no Symbol properties");
    return 0;
  }
  }
  duk_size_t n = 0;
  const char* key = duk_get_lstring(ctx, 1, &n);
  const std::string_view name(key != nullptr ? key : "", n);
  const bool through_call = name == kPutKey;
  const duk_idx_t first = duk_get_top(ctx);
  // Nothing in this frame owns anything yet: the engine may raise here.
  const duk_idx_t count = through_call ? PushPendingPut(ctx) : 0;
  const int rc = [&]() noexcept -> int {
    try {
      DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Object);
      if (ref == nullptr) {
        b->PushError(E_UNEXPECTED, "the automation object has been released");
        return -1;
      }
      if (through_call) return PutThroughCall(ctx, b, *ref, id, first, count, true);
      const DISPID dispid = Resolve(*ref, name);
      if (dispid == DISPID_UNKNOWN) {
        b->PushError(DISP_E_UNKNOWNNAME, StandardDescription(DISP_E_UNKNOWNNAME, DukToUtf8(name)));
        return -1;
      }
      return InvokeMember(ctx, b, id, dispid, DISPATCH_PROPERTYPUT, 0, 0, 2, name);
    } catch (...) {
      b->PushError(E_OUTOFMEMORY, "out of memory");
      return -1;
    }
  }();
  return Finish(ctx, rc);
}

// has(target, key)
duk_ret_t TrapHas(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t id = RefIdAt(ctx, 0);
  if (duk_is_symbol(ctx, 1)) {
    duk_push_false(ctx);
    return 1;
  }
  duk_size_t n = 0;
  const char* key = duk_get_lstring(ctx, 1, &n);
  bool known = false;
  bool failed = false;
  try {
    if (DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Object)) {
      known = Resolve(*ref, std::string_view(key != nullptr ? key : "", n)) != DISPID_UNKNOWN;
    }
  } catch (...) {
    failed = true;
  }
  if (failed) {
    BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
    return 0;
  }
  duk_push_boolean(ctx, known);
  return 1;
}

duk_ret_t TrapDelete(duk_context* ctx) {
  duk_push_false(ctx);
  return 1;
}

// apply(target, thisArg, args): a call of the object itself.
duk_ret_t TrapApply(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t id = RefIdAt(ctx, 0);
  const duk_size_t length = duk_get_length(ctx, 2);
  if (length > 1024 || !duk_check_stack(ctx, static_cast<duk_idx_t>(length) + 8)) {
    {
    BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "too many arguments for an automation call");
    return 0;
  }
  }
  const duk_idx_t first = duk_get_top(ctx);
  for (duk_size_t i = 0; i < length; ++i) duk_get_prop_index(ctx, 2, static_cast<duk_uarridx_t>(i));
  const duk_idx_t count = static_cast<duk_idx_t>(length);
  const int rc = [&]() noexcept -> int {
    try {
      DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Object);
      if (ref == nullptr) {
        b->PushError(E_UNEXPECTED, "the automation object has been released");
        return -1;
      }
      const DISPID dispid = ResolveSelf(*ref);
      const WORD flags =
          count > 0 ? static_cast<WORD>(DISPATCH_METHOD | DISPATCH_PROPERTYGET) : DISPATCH_METHOD;
      return InvokeMember(ctx, b, id, dispid, flags, first, count, -1, "default member");
    } catch (...) {
      b->PushError(E_OUTOFMEMORY, "out of memory");
      return -1;
    }
  }();
  return Finish(ctx, rc);
}

// --- VBArray -------------------------------------------------------------------

// Copies the element at `data` (of type `vt`) into *out.
HRESULT ReadElement(SAFEARRAY* array, void* data, VARTYPE vt, VARIANT* out) {
  (void)array;
  if (vt == VT_VARIANT) return VariantCopy(out, static_cast<VARIANT*>(data));
  VARIANT view;
  VariantInit(&view);
  if (vt == VT_DECIMAL) {
    view.decVal = *static_cast<DECIMAL*>(data);
  } else {
    const size_t size = array->cbElements <= 8 ? array->cbElements : 8;
    std::memcpy(&view.llVal, data, size);
  }
  view.vt = vt;
  return VariantCopy(out, &view);  // duplicates a BSTR, AddRefs an object
}

// The VBArray `this` of a method: its reference, or null with an error pushed.
DispatchBridge::Ref* ThisArray(duk_context* ctx, DispatchBridge* b) {
  duk_push_this(ctx);
  const uint32_t id = RefIdAt(ctx, -1);
  duk_pop(ctx);
  DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Array);
  if (ref == nullptr) b->PushError(E_UNEXPECTED, "not a VBArray, or one that has been released");
  return ref;
}

duk_ret_t VBArrayToArray(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const int rc = [&]() noexcept -> int {
    try {
      DispatchBridge::Ref* ref = ThisArray(ctx, b);
      if (ref == nullptr) return -1;
      SAFEARRAY* array = ref->array;
      size_t total = 1;
      for (UINT d = 0; d < array->cDims; ++d) total *= array->rgsabound[d].cElements;
      VARTYPE vt = VT_VARIANT;
      SafeArrayGetVartype(array, &vt);
      auto make = [](duk_context* c) noexcept -> duk_ret_t {
        duk_push_array(c);
        return 1;
      };
      if (SafeRun(ctx, make, 0, 1) != DUK_EXEC_SUCCESS) return -1;
      const duk_idx_t out = duk_get_top_index(ctx);
      for (size_t k = 0; k < total; ++k) {
        // Storage order: the first index varies fastest.
        void* data = static_cast<char*>(array->pvData) + k * array->cbElements;
        ScopedVariant element;
        const HRESULT hr = ReadElement(array, data, vt, &element.v);
        if (FAILED(hr)) {
          b->PushError(hr, "cannot read an element of the array");
          return -1;
        }
        if (!b->PushVariant(element.v)) return -1;
        auto put = [out, k](duk_context* c) noexcept -> duk_ret_t {
          duk_put_prop_index(c, out, static_cast<duk_uarridx_t>(k));
          return 0;
        };
        if (SafeRun(ctx, put, 1, 0) != DUK_EXEC_SUCCESS) return -1;
      }
      return 1;
    } catch (...) {
      b->PushError(E_OUTOFMEMORY, "out of memory");
      return -1;
    }
  }();
  return Finish(ctx, rc);
}

duk_ret_t VBArrayBound(duk_context* ctx, bool upper) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const UINT dim = duk_is_undefined(ctx, 0) ? 1 : static_cast<UINT>(duk_get_int(ctx, 0));
  const int rc = [&]() noexcept -> int {
    try {
      DispatchBridge::Ref* ref = ThisArray(ctx, b);
      if (ref == nullptr) return -1;
      LONG bound = 0;
      const HRESULT hr = upper ? SafeArrayGetUBound(ref->array, dim, &bound)
                               : SafeArrayGetLBound(ref->array, dim, &bound);
      if (FAILED(hr)) {
        b->PushError(DISP_E_BADINDEX, "Subscript out of range: the array has no dimension " +
                                          std::to_string(dim));
        return -1;
      }
      duk_push_int(ctx, bound);
      return 1;
    } catch (...) {
      b->PushError(E_OUTOFMEMORY, "out of memory");
      return -1;
    }
  }();
  return Finish(ctx, rc);
}

duk_ret_t VBArrayLBound(duk_context* ctx) { return VBArrayBound(ctx, false); }
duk_ret_t VBArrayUBound(duk_context* ctx) { return VBArrayBound(ctx, true); }

duk_ret_t VBArrayDimensions(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  duk_push_this(ctx);
  DispatchBridge::Ref* ref = b->Find(RefIdAt(ctx, -1), DispatchBridge::RefKind::Array);
  if (ref == nullptr) {
    BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "not a VBArray, or one that has been released");
    return 0;
  }
  duk_push_uint(ctx, SafeArrayGetDim(ref->array));
  return 1;
}

duk_ret_t VBArrayGetItem(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const duk_idx_t count = duk_get_top(ctx);
  const int rc = [&]() noexcept -> int {
    try {
      DispatchBridge::Ref* ref = ThisArray(ctx, b);
      if (ref == nullptr) return -1;
      SAFEARRAY* array = ref->array;
      if (static_cast<UINT>(count) != array->cDims) {
        b->PushError(DISP_E_BADPARAMCOUNT, "getItem needs " + std::to_string(array->cDims) +
                                               " index(es), one per dimension");
        return -1;
      }
      std::vector<LONG> indexes(static_cast<size_t>(count));
      for (duk_idx_t i = 0; i < count; ++i) {
        const double d = duk_get_number_default(ctx, i, std::nan(""));
        if (!std::isfinite(d) || d != std::trunc(d) || d < -2147483648.0 || d > 2147483647.0) {
          b->PushError(DISP_E_TYPEMISMATCH, "getItem: index " + std::to_string(i + 1) + " is not a whole number");
          return -1;
        }
        indexes[static_cast<size_t>(i)] = static_cast<LONG>(d);
      }
      void* data = nullptr;
      if (FAILED(SafeArrayPtrOfIndex(array, indexes.data(), &data)) || data == nullptr) {
        b->PushError(DISP_E_BADINDEX, "Subscript out of range");
        return -1;
      }
      VARTYPE vt = VT_VARIANT;
      SafeArrayGetVartype(array, &vt);
      ScopedVariant element;
      const HRESULT hr = ReadElement(array, data, vt, &element.v);
      if (FAILED(hr)) {
        b->PushError(hr, "cannot read an element of the array");
        return -1;
      }
      return b->PushVariant(element.v) ? 1 : -1;
    } catch (...) {
      b->PushError(E_OUTOFMEMORY, "out of memory");
      return -1;
    }
  }();
  return Finish(ctx, rc);
}

// new VBArray(value): a VBArray as it is, or an array made into one.
duk_ret_t VBArrayConstruct(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  if (b->Find(RefIdAt(ctx, 0), DispatchBridge::RefKind::Array) != nullptr) {
    duk_dup(ctx, 0);
    return 1;
  }
  if (!duk_is_array(ctx, 0)) {
    {
    BRIDGE_ERROR(ctx, DUK_ERR_TYPE_ERROR, "VBArray expects a safe array (or an array)");
    return 0;
  }
  }
  const int rc = [&]() noexcept -> int {
    try {
      ScopedVariant value;
      if (!b->ToVariant(0, &value.v)) return -1;
      return b->PushVariant(value.v) ? 1 : -1;
    } catch (...) {
      b->PushError(E_OUTOFMEMORY, "out of memory");
      return -1;
    }
  }();
  return Finish(ctx, rc);
}

// --- Enumerator ------------------------------------------------------------------

void Fetch(DispatchBridge::Ref& ref) {
  VariantClear(&ref.current);
  VariantInit(&ref.current);
  ULONG fetched = 0;
  const HRESULT hr = ref.enumerator->Next(1, &ref.current, &fetched);
  ref.at_end = hr != S_OK || fetched != 1;
  if (ref.at_end) {
    VariantClear(&ref.current);
    VariantInit(&ref.current);
  }
}

// The elements of a safe array in storage order.
bool ArrayElements(SAFEARRAY* array, std::vector<VARIANT>* out) {
  size_t total = array->cDims > 0 ? 1 : 0;
  for (UINT d = 0; d < array->cDims; ++d) total *= array->rgsabound[d].cElements;
  VARTYPE vt = VT_VARIANT;
  SafeArrayGetVartype(array, &vt);
  for (size_t k = 0; k < total; ++k) {
    VARIANT element;
    VariantInit(&element);
    if (FAILED(ReadElement(array, static_cast<char*>(array->pvData) + k * array->cbElements, vt, &element))) {
      return false;
    }
    out->push_back(element);
  }
  return true;
}

duk_ret_t EnumeratorConstruct(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  const uint32_t source_id = RefIdAt(ctx, 0);
  const bool is_array = duk_is_array(ctx, 0) != 0;
  const bool nothing = duk_is_undefined(ctx, 0) != 0;
  const int rc = [&]() noexcept -> int {
    try {
      IEnumVARIANT* enumerator = nullptr;
      if (DispatchBridge::Ref* object = b->Find(source_id, DispatchBridge::RefKind::Object)) {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        ScopedVariant result;
        EXCEPINFO excep{};
        SetErrorInfo(0, nullptr);
        const HRESULT hr = object->object->Invoke(DISPID_NEWENUM, IID_NULL, LOCALE_USER_DEFAULT,
                                                  DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                                                  &result.v, &excep, nullptr);
        if (FAILED(hr)) {
          HRESULT number = hr;
          std::string description = DescribeFailure(hr, excep, "_NewEnum", &number);
          if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME) {
            description = "Enumerator: the object is not a collection";
          }
          b->PushError(number, description);
          return -1;
        }
        IUnknown* unknown = result.v.vt == VT_UNKNOWN    ? result.v.punkVal
                            : result.v.vt == VT_DISPATCH ? result.v.pdispVal
                                                         : nullptr;
        if (unknown == nullptr ||
            FAILED(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&enumerator)))) {
          b->PushError(DISP_E_NOTACOLLECTION, "Enumerator: the object is not a collection");
          return -1;
        }
      } else {
        std::vector<VARIANT> values;
        struct Clear {
          std::vector<VARIANT>& v;
          ~Clear() {
            for (VARIANT& x : v) VariantClear(&x);
          }
        } clear{values};
        SAFEARRAY* array = nullptr;
        ScopedVariant converted;
        if (DispatchBridge::Ref* ref = b->Find(source_id, DispatchBridge::RefKind::Array)) {
          array = ref->array;
        } else if (is_array) {
          if (!b->ToVariant(0, &converted.v)) return -1;
          array = converted.v.parray;
        } else if (!nothing) {
          b->PushError(DISP_E_NOTACOLLECTION,
                       "Enumerator expects a collection, a VBArray or an array");
          return -1;
        }
        if (array != nullptr && !ArrayElements(array, &values)) {
          b->PushError(E_FAIL, "cannot read an element of the array");
          return -1;
        }
        enumerator = VariantEnumerator::Create(values);
      }
      const uint32_t id = b->AddEnumerator(enumerator);
      enumerator->Release();
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
    } catch (...) {
      b->PushError(E_OUTOFMEMORY, "out of memory");
      return -1;
    }
  }();
  return Finish(ctx, rc);
}

DispatchBridge::Ref* ThisEnumerator(duk_context* ctx, DispatchBridge* b) {
  duk_push_this(ctx);
  const uint32_t id = RefIdAt(ctx, -1);
  duk_pop(ctx);
  return b->Find(id, DispatchBridge::RefKind::Enumerator);
}

duk_ret_t EnumeratorAtEnd(duk_context* ctx) {
  DispatchBridge::Ref* ref = ThisEnumerator(ctx, DispatchBridge::Of(ctx));
  duk_push_boolean(ctx, ref == nullptr || ref->at_end);
  return 1;
}

duk_ret_t EnumeratorItem(duk_context* ctx) {
  DispatchBridge* b = DispatchBridge::Of(ctx);
  DispatchBridge::Ref* ref = ThisEnumerator(ctx, b);
  if (ref == nullptr || ref->at_end) {
    duk_push_undefined(ctx);
    return 1;
  }
  return Finish(ctx, b->PushVariant(ref->current) ? 1 : -1);
}

duk_ret_t EnumeratorMoveNext(duk_context* ctx) {
  DispatchBridge::Ref* ref = ThisEnumerator(ctx, DispatchBridge::Of(ctx));
  if (ref != nullptr && !ref->at_end) Fetch(*ref);
  return 0;
}

duk_ret_t EnumeratorMoveFirst(duk_context* ctx) {
  DispatchBridge::Ref* ref = ThisEnumerator(ctx, DispatchBridge::Of(ctx));
  if (ref != nullptr) {
    ref->enumerator->Reset();
    Fetch(*ref);
  }
  return 0;
}

struct MethodEntry {
  const char* name;
  duk_c_function fn;
  duk_idx_t nargs;
};

}  // namespace

// Installs the heap objects of the bridge and notes where they are. Engine
// frame.
duk_ret_t DispatchBridge::Install(duk_context* ctx, void* udata) {
  auto* b = static_cast<DispatchBridge*>(udata);
  duk_push_global_stash(ctx);
  const duk_idx_t stash = duk_get_top_index(ctx);
  duk_push_pointer(ctx, b);
  duk_put_prop_string(ctx, stash, kBridgeKey);

  duk_push_object(ctx);
  static const MethodEntry traps[] = {{"get", TrapGet, 3},    {"set", TrapSet, 4},
                                      {"has", TrapHas, 2},    {"deleteProperty", TrapDelete, 2},
                                      {"apply", TrapApply, 3}};
  for (const MethodEntry& t : traps) {
    duk_push_c_function(ctx, t.fn, t.nargs);
    duk_put_prop_string(ctx, -2, t.name);
  }
  duk_put_prop_string(ctx, stash, kHandlerKey);

  duk_push_c_function(ctx, Finalizer, 2);
  duk_put_prop_string(ctx, stash, kFinalizerKey);

  static const MethodEntry vbarray[] = {{"toArray", VBArrayToArray, 0},
                                        {"lbound", VBArrayLBound, 1},
                                        {"ubound", VBArrayUBound, 1},
                                        {"getItem", VBArrayGetItem, DUK_VARARGS},
                                        {"dimensions", VBArrayDimensions, 0}};
  static const MethodEntry enumerator[] = {{"atEnd", EnumeratorAtEnd, 0},
                                           {"item", EnumeratorItem, 0},
                                           {"moveNext", EnumeratorMoveNext, 0},
                                           {"moveFirst", EnumeratorMoveFirst, 0}};
  struct Class {
    const char* global;
    duk_c_function ctor;
    const MethodEntry* methods;
    size_t count;
    const char* key;
  };
  const Class classes[] = {{"VBArray", VBArrayConstruct, vbarray, std::size(vbarray), kVBArrayKey},
                           {"Enumerator", EnumeratorConstruct, enumerator, std::size(enumerator),
                            kEnumeratorKey}};
  for (const Class& c : classes) {
    duk_push_c_function(ctx, c.ctor, 1);
    duk_push_object(ctx);  // the prototype
    for (size_t i = 0; i < c.count; ++i) {
      duk_push_c_function(ctx, c.methods[i].fn, c.methods[i].nargs);
      duk_put_prop_string(ctx, -2, c.methods[i].name);
    }
    duk_dup(ctx, -1);
    duk_put_prop_string(ctx, stash, c.key);
    duk_put_prop_string(ctx, -2, "prototype");
    duk_put_global_string(ctx, c.global);
  }

  // The originals, in case a page replaces them.
  duk_get_global_string(ctx, "Date");
  duk_get_prop_string(ctx, -1, "prototype");
  duk_get_prop_string(ctx, -1, "getTime");
  duk_put_prop_string(ctx, stash, kGetTimeKey);
  duk_pop(ctx);
  duk_put_prop_string(ctx, stash, kDateKey);
  duk_get_global_string(ctx, "Symbol");
  if (duk_is_object(ctx, -1)) {
    duk_get_prop_string(ctx, -1, "toPrimitive");
    duk_put_prop_string(ctx, stash, kToPrimitiveKey);
  }
  duk_pop(ctx);

  auto heap_object = [ctx, stash](const char* key) noexcept {
    duk_get_prop_string(ctx, stash, key);
    void* p = duk_get_heapptr(ctx, -1);
    duk_pop(ctx);
    return p;
  };
  b->handler_ = heap_object(kHandlerKey);
  b->finalizer_ = heap_object(kFinalizerKey);
  b->vbarray_proto_ = heap_object(kVBArrayKey);
  b->enumerator_proto_ = heap_object(kEnumeratorKey);
  b->date_ctor_ = heap_object(kDateKey);
  b->date_get_time_ = heap_object(kGetTimeKey);
  b->to_primitive_ = heap_object(kToPrimitiveKey);
  duk_pop(ctx);  // the stash
  InstallCallAssignment(ctx);
  return 0;
}

// ---------------------------------------------------------------------------
// DispatchBridge

DispatchBridge::DispatchBridge(duk_context* ctx, bool (*should_stop)(void*), void* stop_data)
    : ctx_(ctx), should_stop_(should_stop), stop_data_(stop_data) {
  const duk_int_t rc = duk_safe_call(ctx, Install, this, 0, 1);
  duk_pop(ctx);
  if (rc != DUK_EXEC_SUCCESS) throw std::bad_alloc();
}

DispatchBridge::~DispatchBridge() { ReleaseAll(); }

DispatchBridge* DispatchBridge::Of(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kBridgeKey);
  auto* b = static_cast<DispatchBridge*>(duk_get_pointer(ctx, -1));
  duk_pop_2(ctx);
  return b;
}

uint32_t DispatchBridge::Add(std::unique_ptr<Ref> ref) noexcept {
  try {
    // Ids are never reused within a heap, so a stale id finds nothing.
    if (next_id_ == 0 || next_id_ > 0xFFFFFFF0u) return 0;
    const uint32_t id = next_id_++;
    refs_.emplace(id, std::move(ref));
    return id;
  } catch (...) {
    return 0;
  }
}

uint32_t DispatchBridge::AddObject(IDispatch* object) noexcept {
  try {
    auto ref = std::make_unique<Ref>();
    ref->kind = RefKind::Object;
    ref->object = object;
    object->AddRef();
    return Add(std::move(ref));
  } catch (...) {
    return 0;
  }
}

uint32_t DispatchBridge::AddArray(SAFEARRAY* array) noexcept {
  try {
    auto ref = std::make_unique<Ref>();
    ref->kind = RefKind::Array;
    const uint32_t id = Add(std::move(ref));
    if (id != 0) refs_[id]->array = array;  // taken over only once registered
    return id;
  } catch (...) {
    return 0;
  }
}

uint32_t DispatchBridge::AddEnumerator(IEnumVARIANT* enumerator) noexcept {
  try {
    auto ref = std::make_unique<Ref>();
    ref->kind = RefKind::Enumerator;
    ref->enumerator = enumerator;
    enumerator->AddRef();
    return Add(std::move(ref));
  } catch (...) {
    return 0;
  }
}

DispatchBridge::Ref* DispatchBridge::Find(uint32_t id, RefKind kind) noexcept {
  if (id == 0) return nullptr;
  auto found = refs_.find(id);
  if (found == refs_.end() || found->second->kind != kind) return nullptr;
  return found->second.get();
}

void DispatchBridge::Drop(uint32_t id) noexcept {
  auto found = refs_.find(id);
  if (found == refs_.end()) return;
  // Out of the table before the release: releasing may run other code.
  std::unique_ptr<Ref> ref = std::move(found->second);
  refs_.erase(found);
}

void DispatchBridge::ReleaseAll() {
  auto refs = std::move(refs_);
  refs_.clear();
  refs.clear();
}

bool DispatchBridge::DefineGlobal(const char* name, IDispatch* object) {
  auto body = [this, name, object](duk_context* c) noexcept -> duk_ret_t {
    PushDispatch(c, this, object);
    duk_put_global_string(c, name);
    return 0;
  };
  const bool ok = SafeRun(ctx_, body, 0, 1) == DUK_EXEC_SUCCESS;
  duk_pop(ctx_);
  return ok;
}

bool DispatchBridge::ToVariant(duk_idx_t index, VARIANT* out) {
  VariantClear(out);
  VariantInit(out);
  const duk_idx_t absolute = duk_normalize_index(ctx_, index);
  auto body = [this, absolute, out](duk_context* c) noexcept -> duk_ret_t {
    ConvertValue(c, this, absolute, out, 0);
    return 0;
  };
  if (SafeRun(ctx_, body, 0, 1) != DUK_EXEC_SUCCESS) {
    VariantClear(out);
    VariantInit(out);
    return false;
  }
  duk_pop(ctx_);
  return true;
}

bool DispatchBridge::PushVariant(const VARIANT& value) {
  auto body = [this, &value](duk_context* c) noexcept -> duk_ret_t {
    PushValue(c, this, &value);
    return 1;
  };
  return SafeRun(ctx_, body, 0, 1) == DUK_EXEC_SUCCESS;
}

void DispatchBridge::PushError(HRESULT number, const std::string& message) {
  std::string text;
  try {
    text = Utf8ToDuk(message);
  } catch (...) {
    text.clear();
  }
  const char* p = text.c_str();
  auto body = [p, number](duk_context* c) noexcept -> duk_ret_t {
    duk_push_error_object_raw(c, DUK_ERR_ERROR, nullptr, 0, "%s", p);
    duk_push_int(c, number);
    duk_put_prop_string(c, -2, "number");
    duk_push_string(c, p);
    duk_put_prop_string(c, -2, "description");
    return 1;
  };
  SafeRun(ctx_, body, 0, 1);
}

}  // namespace quill::asp
