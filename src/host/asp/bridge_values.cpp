// Value conversion of the automation bridge: script values into VARIANTs
// (for arguments and puts) and VARIANTs into script values (for results),
// including the Date <-> VT_DATE arithmetic. Everything named here but the
// three DispatchBridge members runs in engine frames (see bridge_frame.h).
#include "host/asp/bridge_values.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "host/asp/bridge_frame.h"
#include "host/asp/bridge_proxy.h"
#include "platform/core/civil_date.h"
#include "host/asp/duk_text.h"
#include "host/asp/script_values.h"
#include "host/asp/value_store.h"

namespace quill::asp {
namespace bridge {

namespace {

constexpr int kMaxArrayDepth = 32;
constexpr size_t kMaxArrayElements = 16u << 20;

// A BSTR of the engine string `bytes`, or null when memory runs out.
BSTR BstrFromDuk(std::string_view bytes) noexcept {
  const size_t units = DukDecodedLength(bytes);
  if (units > 0x3FFFFFFF) return nullptr;
  BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (out != nullptr) DukDecode(bytes, out);
  return out;
}

// --- Dates ------------------------------------------------------------------
//
// VT_DATE carries no time zone; like the language's own Date fields it is
// read as local time.

using core::CivilFromDays;
using core::DaysFromCivil;
constexpr int64_t kDateEpochDays = core::kDateOriginDays;

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

// --- Values from script -------------------------------------------------------

void ConvertValue(duk_context* ctx, DispatchBridge* b, duk_idx_t index, VARIANT* out, int depth) noexcept;

// *out becomes the engine string `bytes` as a BSTR.
void SetText(duk_context* ctx, const char* bytes, duk_size_t n, VARIANT* out) noexcept {
  BSTR text = BstrFromDuk(std::string_view(bytes, n));
  if (text == nullptr) BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
  out->vt = VT_BSTR;
  out->bstrVal = text;
}

void ConvertText(duk_context* ctx, duk_idx_t index, VARIANT* out) noexcept {
  duk_dup(ctx, index);
  duk_size_t n = 0;
  const char* p = duk_to_lstring(ctx, -1, &n);
  SetText(ctx, p, n, out);
  duk_pop(ctx);
}

// A script object that stands for a reference, as the value it stands for.
void ConvertReference(duk_context* ctx, DispatchBridge* b, uint32_t id, VARIANT* out) noexcept {
  if (DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Object)) {
    out->vt = VT_DISPATCH;
    out->pdispVal = ref->object.Share();
    return;
  }
  if (DispatchBridge::Ref* ref = b->Find(id, DispatchBridge::RefKind::Array)) {
    SAFEARRAY* copy = nullptr;
    VARTYPE vt = VT_VARIANT;
    SafeArrayGetVartype(ref->array.get(), &vt);
    if (FAILED(SafeArrayCopy(ref->array.get(), &copy)) || copy == nullptr) {
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

void ConvertArray(duk_context* ctx, DispatchBridge* b, duk_idx_t index, VARIANT* out, int depth) noexcept {
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
}

void ConvertObject(duk_context* ctx, DispatchBridge* b, duk_idx_t index, VARIANT* out, int depth) noexcept {
  if (const uint32_t id = RefIdAt(ctx, index); id != 0) {
    ConvertReference(ctx, b, id, out);
    return;
  }
  if (IsDate(ctx, b, index)) {
    duk_push_heapptr(ctx, b->date_get_time());
    duk_dup(ctx, index);
    duk_call_method(ctx, 0);
    const double ms = duk_get_number(ctx, -1);
    duk_pop(ctx);
    DATE date = 0;
    if (!JsTimeToDate(ms, &date)) {
      BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "an invalid Date cannot be passed to an automation object");
    }
    out->vt = VT_DATE;
    out->date = date;
    return;
  }
  if (duk_is_array(ctx, index)) {
    ConvertArray(ctx, b, index, out, depth);
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
      SetText(ctx, p, n, out);
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

// --- Values to script -----------------------------------------------------------

void PushValue(duk_context* ctx, DispatchBridge* b, const VARIANT* v) noexcept;

// Where a BSTR result is encoded before the engine copies it into a string
// of its own: one per thread, reused, so a string costs one pass over the
// text and one copy (a fixed buffer would need the exact length first, a
// second pass, and is zero-filled). Room for more than kKeptScratchBytes
// is given back at the next smaller use.
struct EncodeScratch {
  char* data = nullptr;
  size_t capacity = 0;
  // Set while the engine copies from it: the collection an allocation may
  // start runs finalizers, and those may push strings too.
  bool busy = false;
  int depth = 0;  // PushVariant calls in progress on the thread
  ~EncodeScratch() { std::free(data); }
};
thread_local EncodeScratch t_scratch;
constexpr size_t kKeptScratchBytes = 1u << 20;

// Room for `bytes` in the scratch (its contents are not kept); null when
// memory runs out.
char* ScratchFor(size_t bytes) noexcept {
  if (bytes > t_scratch.capacity || (t_scratch.capacity > kKeptScratchBytes && bytes <= kKeptScratchBytes)) {
    std::free(t_scratch.data);
    t_scratch.capacity = std::max(bytes, size_t{4096});
    t_scratch.data = static_cast<char*>(std::malloc(t_scratch.capacity));
    if (t_scratch.data == nullptr) t_scratch.capacity = 0;
  }
  return t_scratch.data;
}

void PushString(duk_context* ctx, BSTR text) noexcept {
  const std::u16string_view view(text != nullptr ? text : u"", SysStringLen(text));
  if (!t_scratch.busy) {
    char* buffer = ScratchFor(3 * view.size());
    if (buffer == nullptr) BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
    const size_t n = DukEncode(view, buffer);
    // The scratch belongs to the thread, not this frame: if the engine
    // raises here nothing is lost, and `busy` is reset when the outermost
    // PushVariant returns.
    t_scratch.busy = true;
    duk_push_lstring(ctx, buffer, n);
    t_scratch.busy = false;
    return;
  }
  char* buffer = static_cast<char*>(duk_push_fixed_buffer(ctx, DukEncodedLength(view)));
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
  const uint32_t id = b->AddArray(copy);  // taken over, even when that fails
  if (id == 0) BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
  PushRefObject(ctx, b, id, b->vbarray_prototype());
}

// Registers the IDispatch that `unknown` answers: its id (0 when memory ran
// out), or nothing when it answers none. Holds no reference once it returns.
std::optional<uint32_t> AddCallable(DispatchBridge* b, IUnknown* unknown) noexcept {
  if (unknown == nullptr) return std::nullopt;
  olert::ComPtr<IDispatch> object;
  if (FAILED(unknown->QueryInterface(IID_IDispatch, object.ReceiveVoid())) || !object) return std::nullopt;
  return b->AddObject(object.get());
}

// A VT_UNKNOWN: a packed structure unpacked, an object script can call as
// such, anything else null.
void PushUnknown(duk_context* ctx, DispatchBridge* b, IUnknown* unknown) noexcept {
  // The VARIANT keeps the packed value alive: no reference is held here
  // while the engine may raise.
  if (const PackedValue* packed = PackedValue::From(unknown).get()) {
    duk_push_lstring(ctx, packed->text().data(), packed->text().size());
    UnpackTop(ctx);
    return;
  }
  if (const std::optional<uint32_t> id = AddCallable(b, unknown)) {
    if (*id == 0) BRIDGE_ERROR(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
    PushProxy(ctx, b, *id);
  } else {
    duk_push_null(ctx);  // an object script cannot call
  }
}

// A VT_BYREF value: the value it refers to.
void PushReferred(duk_context* ctx, DispatchBridge* b, const VARIANT* v) noexcept {
  const VARTYPE base = static_cast<VARTYPE>(v->vt & ~VT_BYREF);
  if (v->byref == nullptr) {
    duk_push_undefined(ctx);
    return;
  }
  if (base == VT_VARIANT) {
    PushValue(ctx, b, v->pvarVal);
    return;
  }
  // A view of the value referred to; it owns nothing, and every branch of
  // PushValue copies what it keeps.
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
}

void PushValue(duk_context* ctx, DispatchBridge* b, const VARIANT* v) noexcept {
  const VARTYPE vt = v->vt;
  if ((vt & VT_BYREF) != 0) {
    PushReferred(ctx, b, v);
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
    case VT_UNKNOWN: PushUnknown(ctx, b, v->punkVal); return;
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

}  // namespace

bool IsDate(duk_context* ctx, DispatchBridge* b, duk_idx_t index) noexcept {
  duk_push_heapptr(ctx, b->date_constructor());
  const bool is_date = duk_instanceof(ctx, index, -1) != 0;
  duk_pop(ctx);
  return is_date;
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

}  // namespace bridge

// ---------------------------------------------------------------------------
// DispatchBridge: values

bool DispatchBridge::DefineGlobal(const char* name, IDispatch* object) {
  auto body = [this, name, object](duk_context* c) noexcept -> duk_ret_t {
    bridge::PushDispatch(c, this, object);
    duk_put_global_string(c, name);
    return 0;
  };
  const bool ok = bridge::SafeRun(ctx_, body, 0, 1) == DUK_EXEC_SUCCESS;
  duk_pop(ctx_);
  return ok;
}

bool DispatchBridge::ToVariant(duk_idx_t index, VARIANT* out) {
  VariantClear(out);
  VariantInit(out);
  const duk_idx_t absolute = duk_normalize_index(ctx_, index);
  auto body = [this, absolute, out](duk_context* c) noexcept -> duk_ret_t {
    bridge::ConvertValue(c, this, absolute, out, 0);
    return 0;
  };
  if (bridge::SafeRun(ctx_, body, 0, 1) != DUK_EXEC_SUCCESS) {
    VariantClear(out);  // what was converted before the failure
    VariantInit(out);
    return false;
  }
  duk_pop(ctx_);
  return true;
}

bool DispatchBridge::PushVariant(const VARIANT& value) {
  auto body = [this, &value](duk_context* c) noexcept -> duk_ret_t {
    bridge::PushValue(c, this, &value);
    return 1;
  };
  ++bridge::t_scratch.depth;
  const bool ok = bridge::SafeRun(ctx_, body, 0, 1) == DUK_EXEC_SUCCESS;
  if (--bridge::t_scratch.depth == 0) bridge::t_scratch.busy = false;
  return ok;
}

}  // namespace quill::asp
