// Stored values, their serialised form, and the Contents collection.
//
// The serialised form: "QV1", a 32-bit count, then per entry its name and
// its value. A value is a tag byte and its payload: 'E' Empty, 'N' Null,
// 'B' one byte, 'I' 32 bits, 'D' and 'T' (date) 64-bit doubles, 'S' and 'P'
// (packed structure) a 32-bit length and bytes, 'A' an array: dimensions,
// per dimension lower bound and count, then the elements. Integers are
// little-endian.
#include "host/asp/value_store.h"

#include <cstring>
#include <optional>

#include "base/utf8.h"

namespace quill::asp {

namespace {

constexpr int kMaxDepth = 32;

void CopyElement(const VARIANT& value, VARIANT* out, std::string_view owner, int depth);

void CopyArray(SAFEARRAY* array, VARTYPE vt, VARIANT* out, std::string_view owner, int depth) {
  if (array == nullptr) {
    out->vt = VT_NULL;
    return;
  }
  if (depth > kMaxDepth) {
    throw AutomationError(E_INVALIDARG, std::string(owner) + ": arrays nested too deep cannot be stored");
  }
  const UINT dims = SafeArrayGetDim(array);
  std::vector<SAFEARRAYBOUND> bounds(dims);
  size_t total = dims > 0 ? 1 : 0;
  for (UINT d = 0; d < dims; ++d) {
    // SafeArray dimension numbers count from 1, the leftmost last in rgsabound.
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(array, d + 1, &lo);
    SafeArrayGetUBound(array, d + 1, &hi);
    bounds[d].lLbound = lo;
    bounds[d].cElements = static_cast<ULONG>(hi - lo + 1);
    total *= bounds[d].cElements;
  }
  SAFEARRAY* copy = SafeArrayCreate(VT_VARIANT, dims, bounds.data());
  if (copy == nullptr) throw AutomationError(E_OUTOFMEMORY, "out of memory");
  out->vt = VT_ARRAY | VT_VARIANT;
  out->parray = copy;
  VARIANT* to = static_cast<VARIANT*>(copy->pvData);
  const olert::SafeArrayElements elements(array);
  for (size_t i = 0; i < total; ++i) {
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
      throw AutomationError(E_INVALIDARG, std::string(owner) + ": an automation object cannot be stored");
    }
    CopyElement(elements.View(i), &to[i], owner, depth + 1);  // a view: not cleared
  }
}

void CopyElement(const VARIANT& value, VARIANT* out, std::string_view owner, int depth) {
  VariantInit(out);
  VARTYPE vt = value.vt;
  if ((vt & VT_BYREF) != 0) {
    if (value.byref == nullptr) return;
    if ((vt & ~VT_BYREF) == VT_VARIANT) {
      CopyElement(*value.pvarVal, out, owner, depth + 1);
      return;
    }
    if ((vt & VT_ARRAY) != 0) {
      CopyArray(*value.pparray, static_cast<VARTYPE>(vt & ~(VT_BYREF | VT_ARRAY)), out, owner, depth);
      return;
    }
    VARIANT view;
    VariantInit(&view);
    if ((vt & ~VT_BYREF) == VT_BSTR) {
      view.vt = VT_BSTR;
      view.bstrVal = *value.pbstrVal;
    } else {
      std::memcpy(&view.llVal, value.byref, 8);
      view.vt = static_cast<VARTYPE>(vt & ~VT_BYREF);
    }
    CopyElement(view, out, owner, depth + 1);
    return;
  }
  if ((vt & VT_ARRAY) != 0) {
    CopyArray(value.parray, static_cast<VARTYPE>(vt & ~VT_ARRAY), out, owner, depth);
    return;
  }
  switch (vt) {
    case VT_EMPTY: case VT_NULL:
      out->vt = vt;
      return;
    case VT_BOOL:
      out->vt = VT_BOOL;
      out->boolVal = value.boolVal != VARIANT_FALSE ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case VT_I4:
      *out = value;
      return;
    case VT_DATE:
      *out = value;
      return;
    case VT_BSTR:
      out->vt = VT_BSTR;
      out->bstrVal = SysAllocStringLen(value.bstrVal, SysStringLen(value.bstrVal));
      if (out->bstrVal == nullptr && value.bstrVal != nullptr) throw AutomationError(E_OUTOFMEMORY, "out of memory");
      return;
    case VT_UNKNOWN:
      if (olert::ComPtr<PackedValue> packed = PackedValue::From(value.punkVal)) {
        out->vt = VT_UNKNOWN;
        out->punkVal = packed.Detach();
        return;
      }
      [[fallthrough]];
    case VT_DISPATCH:
      throw AutomationError(DISP_E_TYPEMISMATCH,
                            std::string(owner) +
                                ": an automation object (such as a Harrow.Quill or a dataset) cannot be stored; "
                                "store the values it holds instead");
    default: {
      VARIANT n;
      VariantInit(&n);
      if (SUCCEEDED(VariantChangeType(&n, &value, 0, VT_R8))) {
        *out = n;
        return;
      }
      throw AutomationError(DISP_E_TYPEMISMATCH, std::string(owner) + ": a value of automation type " +
                                                     std::to_string(vt) + " cannot be stored");
    }
  }
}

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutDouble(std::string& out, double d) {
  uint64_t bits = 0;
  std::memcpy(&bits, &d, 8);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}
void PutBytes(std::string& out, std::string_view bytes) {
  PutU32(out, static_cast<uint32_t>(bytes.size()));
  out.append(bytes);
}

void AppendValue(std::string& out, const VARIANT& v) {
  if ((v.vt & VT_ARRAY) != 0 && v.parray != nullptr) {
    SAFEARRAY* a = v.parray;
    const UINT dims = SafeArrayGetDim(a);
    out.push_back('A');
    PutU32(out, dims);
    size_t total = dims > 0 ? 1 : 0;
    for (UINT d = 0; d < dims; ++d) {
      LONG lo = 0, hi = -1;
      SafeArrayGetLBound(a, d + 1, &lo);
      SafeArrayGetUBound(a, d + 1, &hi);
      PutU32(out, static_cast<uint32_t>(lo));
      PutU32(out, static_cast<uint32_t>(hi - lo + 1));
      total *= static_cast<size_t>(hi - lo + 1);
    }
    const VARIANT* items = static_cast<const VARIANT*>(a->pvData);
    for (size_t i = 0; i < total; ++i) AppendValue(out, items[i]);
    return;
  }
  switch (v.vt) {
    case VT_NULL: out.push_back('N'); return;
    case VT_BOOL: out.push_back('B'); out.push_back(v.boolVal != VARIANT_FALSE ? 1 : 0); return;
    case VT_I4: out.push_back('I'); PutU32(out, static_cast<uint32_t>(v.lVal)); return;
    case VT_R8: out.push_back('D'); PutDouble(out, v.dblVal); return;
    case VT_DATE: out.push_back('T'); PutDouble(out, v.date); return;
    case VT_BSTR: out.push_back('S'); PutBytes(out, BstrToUtf8(v.bstrVal)); return;
    case VT_UNKNOWN:
      if (const olert::ComPtr<PackedValue> p = PackedValue::From(v.punkVal)) {
        out.push_back('P');
        PutBytes(out, p->text());
        return;
      }
      out.push_back('E');
      return;
    default: out.push_back('E'); return;
  }
}

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool U32(uint32_t* v) {
    if (in_.size() < 4) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) *v |= static_cast<uint32_t>(static_cast<unsigned char>(in_[i])) << (8 * i);
    in_.remove_prefix(4);
    return true;
  }
  bool Double(double* d) {
    if (in_.size() < 8) return false;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(static_cast<unsigned char>(in_[i])) << (8 * i);
    std::memcpy(d, &bits, 8);
    in_.remove_prefix(8);
    return true;
  }
  bool Bytes(std::string_view* out) {
    uint32_t n = 0;
    if (!U32(&n) || in_.size() < n) return false;
    *out = in_.substr(0, n);
    in_.remove_prefix(n);
    return true;
  }
  bool Byte(char* c) {
    if (in_.empty()) return false;
    *c = in_[0];
    in_.remove_prefix(1);
    return true;
  }
  bool Value(VARIANT* out, int depth) {
    VariantInit(out);
    char tag = 0;
    if (!Byte(&tag) || depth > kMaxDepth) return false;
    switch (tag) {
      case 'E': return true;
      case 'N': out->vt = VT_NULL; return true;
      case 'B': {
        char b = 0;
        if (!Byte(&b)) return false;
        out->vt = VT_BOOL;
        out->boolVal = b != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
      }
      case 'I': {
        uint32_t v = 0;
        if (!U32(&v)) return false;
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(v);
        return true;
      }
      case 'D': case 'T': {
        double d = 0;
        if (!Double(&d)) return false;
        out->vt = tag == 'D' ? VT_R8 : VT_DATE;
        out->dblVal = d;
        return true;
      }
      case 'S': case 'P': {
        std::string_view bytes;
        if (!Bytes(&bytes)) return false;
        if (tag == 'S') {
          out->bstrVal = Utf8ToBstr(bytes);
          out->vt = VT_BSTR;
        } else {
          out->vt = VT_UNKNOWN;
          out->punkVal = PackedValue::Create(std::string(bytes));
        }
        return true;
      }
      case 'A': {
        uint32_t dims = 0;
        if (!U32(&dims) || dims > 60) return false;
        std::vector<SAFEARRAYBOUND> bounds(dims);
        size_t total = dims > 0 ? 1 : 0;
        for (uint32_t d = 0; d < dims; ++d) {
          uint32_t lo = 0, count = 0;
          if (!U32(&lo) || !U32(&count)) return false;
          bounds[d].lLbound = static_cast<LONG>(lo);
          bounds[d].cElements = count;
          total *= count;
          if (total > in_.size()) return false;  // each element takes a byte at least
        }
        SAFEARRAY* a = SafeArrayCreate(VT_VARIANT, dims, bounds.data());
        if (a == nullptr) return false;
        out->vt = VT_ARRAY | VT_VARIANT;
        out->parray = a;
        VARIANT* items = static_cast<VARIANT*>(a->pvData);
        for (size_t i = 0; i < total; ++i) {
          if (!Value(&items[i], depth + 1)) return false;
        }
        return true;
      }
      default: return false;
    }
  }
  bool AtEnd() const { return in_.empty(); }

 private:
  std::string_view in_;
};

}  // namespace

// ---------------------------------------------------------------------------
// PackedValue

PackedValue* PackedValue::Create(std::string text) { return new PackedValue(std::move(text)); }

olert::ComPtr<PackedValue> PackedValue::From(IUnknown* unknown) {
  olert::ComPtr<PackedValue> packed;
  if (unknown != nullptr) unknown->QueryInterface(IID_IQuillPackedValue, packed.ReceiveVoid());
  return packed;
}

HRESULT PackedValue::QueryInterface(REFIID riid, void** object) {
  if (object != nullptr && riid == IID_IQuillPackedValue) {
    *object = this;
    AddRef();
    return S_OK;
  }
  return QueryListed(riid, object);
}

void CopyForStore(const VARIANT& value, VARIANT* out, std::string_view owner) {
  VariantClear(out);
  olert::ScopedVariant copy;  // what was copied before a failure goes with it
  CopyElement(value, copy.get(), owner, 0);
  *out = copy.Detach();
}

// ---------------------------------------------------------------------------
// ValueMap

ValueMap::ValueMap(const ValueMap& other) { *this = other; }

ValueMap& ValueMap::operator=(const ValueMap& other) {
  if (this == &other) return *this;
  Clear();
  for (const Entry& e : other.entries_) Set(e.name, *e.value);
  return *this;
}

ValueMap::~ValueMap() = default;

const VARIANT* ValueMap::Find(std::string_view name) const {
  for (const Entry& e : entries_) {
    if (SameNoCase(e.name, name)) return e.value.get();
  }
  return nullptr;
}

void ValueMap::Set(std::string_view name, const VARIANT& value) {
  olert::ScopedVariant copy;
  if (FAILED(copy.CopyFrom(value))) throw AutomationError(E_OUTOFMEMORY, "out of memory");
  for (Entry& e : entries_) {
    if (SameNoCase(e.name, name)) {
      e.value = std::move(copy);
      return;
    }
  }
  entries_.push_back(Entry{std::string(name), std::move(copy)});
}

bool ValueMap::Remove(std::string_view name) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (SameNoCase(entries_[i].name, name)) {
      RemoveAt(i);
      return true;
    }
  }
  return false;
}

void ValueMap::RemoveAt(size_t i) {
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
}

void ValueMap::Clear() { entries_.clear(); }

std::string ValueMap::Serialise() const {
  std::string out = "QV1";
  PutU32(out, static_cast<uint32_t>(entries_.size()));
  for (const Entry& e : entries_) {
    PutBytes(out, e.name);
    AppendValue(out, *e.value);
  }
  return out;
}

bool ValueMap::Parse(std::string_view bytes) {
  Clear();
  if (bytes.substr(0, 3) != "QV1") return false;
  Reader r(bytes.substr(3));
  uint32_t count = 0;
  if (!r.U32(&count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    std::string_view name;
    olert::ScopedVariant v;
    if (!r.Bytes(&name) || !r.Value(v.get(), 0)) {
      Clear();
      return false;
    }
    try {
      entries_.push_back(Entry{std::string(name), std::move(v)});
    } catch (...) {
      Clear();  // as documented: a failed Parse leaves the map empty
      throw;
    }
  }
  if (!r.AtEnd()) {
    Clear();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// ContentsObject

namespace {

std::optional<int32_t> IndexArgument(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT:
    case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8: {
      VARIANT n;
      VariantInit(&n);
      if (FAILED(VariantChangeType(&n, &v, 0, VT_I4))) return std::nullopt;
      return n.lVal;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

std::span<const AutomationObject::Member> ContentsObject::Members() const {
  static const Member kMembers[] = {{u"Item", DISPID_VALUE}, {u"Count", 1},     {u"Key", 2},
                                    {u"Remove", 3},          {u"RemoveAll", 4}, {u"_NewEnum", DISPID_NEWENUM}};
  return kMembers;
}

void ContentsObject::Item(const Arguments& args, VARIANT* result) {
  if (args.count() == 0 || args.Missing(0)) throw AutomationError(DISP_E_PARAMNOTOPTIONAL, access_.owner + ": a name is needed");
  std::unique_lock<std::mutex> lock;
  if (access_.mutex != nullptr) lock = std::unique_lock<std::mutex>(*access_.mutex);
  const VARIANT* found = nullptr;
  if (std::optional<int32_t> index = IndexArgument(args.at(0))) {
    if (*index < 1 || static_cast<size_t>(*index) > map_.size()) {
      throw AutomationError(DISP_E_BADINDEX, access_.owner + ".Contents(" + std::to_string(*index) +
                                                 "): subscript out of range; there are " +
                                                 std::to_string(map_.size()) + " item(s)");
    }
    found = &map_.ValueAt(static_cast<size_t>(*index) - 1);
  } else {
    found = map_.Find(args.Text(0, access_.owner));
  }
  if (result == nullptr) return;
  VariantClear(result);
  if (found != nullptr && FAILED(VariantCopy(result, found))) throw AutomationError(E_OUTOFMEMORY, "out of memory");
}

void ContentsObject::Put(const Arguments& args) {
  const VARIANT* value = args.put_value();
  if (value == nullptr) throw AutomationError(DISP_E_PARAMNOTOPTIONAL, access_.owner + ": no value to store");
  if (args.count() != 1) {
    throw AutomationError(DISP_E_BADPARAMCOUNT, access_.owner + "(name) = value takes one name");
  }
  const std::string name = args.Text(0, access_.owner);
  if (name.empty()) throw AutomationError(E_INVALIDARG, access_.owner + ": a value needs a name");
  olert::ScopedVariant copy;
  CopyForStore(*value, copy.get(), access_.owner);
  if (access_.before_write) access_.before_write();
  std::unique_lock<std::mutex> lock;
  if (access_.mutex != nullptr) lock = std::unique_lock<std::mutex>(*access_.mutex);
  if (access_.after_write) {
    // Written on a copy first, so that a refused write leaves the map as it was.
    ValueMap trial = map_;
    trial.Set(name, *copy);
    access_.after_write(trial);
  }
  map_.Set(name, *copy);
}

void ContentsObject::Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) {
  if (id == DISPID_VALUE && IsPut(flags)) {
    Put(args);
    return;
  }
  RequireRead(flags, "");
  switch (id) {
    case DISPID_VALUE:
      if (args.count() == 0 || args.Missing(0)) {
        SetResultDispatch(result, this);
        return;
      }
      Item(args, result);
      return;
    case 1: {
      std::unique_lock<std::mutex> lock;
      if (access_.mutex != nullptr) lock = std::unique_lock<std::mutex>(*access_.mutex);
      SetResultInt(result, static_cast<int32_t>(map_.size()));
      return;
    }
    case 2: {
      const int32_t index = args.Int(0, access_.owner + ".Contents.Key");
      std::unique_lock<std::mutex> lock;
      if (access_.mutex != nullptr) lock = std::unique_lock<std::mutex>(*access_.mutex);
      if (index < 1 || static_cast<size_t>(index) > map_.size()) {
        throw AutomationError(DISP_E_BADINDEX, access_.owner + ".Contents.Key(" + std::to_string(index) +
                                                   "): subscript out of range");
      }
      SetResultText(result, map_.KeyAt(static_cast<size_t>(index) - 1));
      return;
    }
    case 3: {
      if (access_.before_write) access_.before_write();
      std::unique_lock<std::mutex> lock;
      if (access_.mutex != nullptr) lock = std::unique_lock<std::mutex>(*access_.mutex);
      if (std::optional<int32_t> index = IndexArgument(args.at(0))) {
        if (*index >= 1 && static_cast<size_t>(*index) <= map_.size()) map_.RemoveAt(static_cast<size_t>(*index) - 1);
      } else {
        map_.Remove(args.Text(0, access_.owner + ".Contents.Remove"));
      }
      return;
    }
    case 4: {
      if (access_.before_write) access_.before_write();
      std::unique_lock<std::mutex> lock;
      if (access_.mutex != nullptr) lock = std::unique_lock<std::mutex>(*access_.mutex);
      map_.Clear();
      return;
    }
    case DISPID_NEWENUM: {
      std::vector<std::string> keys;
      {
        std::unique_lock<std::mutex> lock;
        if (access_.mutex != nullptr) lock = std::unique_lock<std::mutex>(*access_.mutex);
        for (size_t i = 0; i < map_.size(); ++i) keys.push_back(map_.KeyAt(i));
      }
      SetResultEnumerator(result, keys);
      return;
    }
  }
}

}  // namespace quill::asp
