// guid.cpp: the standard identifiers and the text form of GUIDs, plus the
// BSTR helpers the runtime's own source files share.
#include <cstring>

#include "platform/core/utf.h"
#include "platform/olert/internal.h"
#include "platform/olert/olert.h"

extern "C" {

const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const CLSID CLSID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IEnumVARIANT = {0x00020404, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_IProvideClassInfo = {0xB196B283, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IObjectSafety = {0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};

}  // extern "C"

namespace olert::detail {

namespace {

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos]; false if any is not a hex digit.
bool ReadHex(std::u16string_view text, size_t pos, int digits, uint64_t& out) {
  out = 0;
  for (int i = 0; i < digits; ++i) {
    int v = HexValue(text[pos + i]);
    if (v < 0) return false;
    out = out << 4 | static_cast<uint64_t>(v);
  }
  return true;
}

}  // namespace

bool ParseGuid(std::u16string_view t, GUID& out) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (t.size() != 38 || t[0] != u'{' || t[37] != u'}' || t[9] != u'-' || t[14] != u'-' ||
      t[19] != u'-' || t[24] != u'-') {
    return false;
  }
  uint64_t d1, d2, d3, d4a, d4b;
  if (!ReadHex(t, 1, 8, d1) || !ReadHex(t, 10, 4, d2) || !ReadHex(t, 15, 4, d3) ||
      !ReadHex(t, 20, 4, d4a) || !ReadHex(t, 25, 12, d4b)) {
    return false;
  }
  out.Data1 = static_cast<uint32_t>(d1);
  out.Data2 = static_cast<uint16_t>(d2);
  out.Data3 = static_cast<uint16_t>(d3);
  out.Data4[0] = static_cast<uint8_t>(d4a >> 8);
  out.Data4[1] = static_cast<uint8_t>(d4a);
  for (int i = 0; i < 6; ++i) out.Data4[2 + i] = static_cast<uint8_t>(d4b >> (8 * (5 - i)));
  return true;
}

std::string FormatGuid(const GUID& g) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper case: every activation
  // names its class this way, so it is written out by hand.
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out(38, '\0');
  char* p = out.data();
  auto put = [&p](uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
      p[i] = kHex[value & 0xF];
      value >>= 4;
    }
    p += digits;
  };
  uint64_t node = 0;
  for (int i = 2; i < 8; ++i) node = (node << 8) | g.Data4[i];
  *p++ = '{';
  put(g.Data1, 8);
  *p++ = '-';
  put(g.Data2, 4);
  *p++ = '-';
  put(g.Data3, 4);
  *p++ = '-';
  put((uint64_t{g.Data4[0]} << 8) | g.Data4[1], 4);
  *p++ = '-';
  put(node, 12);
  *p = '}';
  return out;
}

BSTR AllocBstr(std::string_view utf8) {
  std::u16string wide = quill::core::Utf8ToUtf16(utf8);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::u16string_view BstrView(BSTR bstr) {
  if (bstr == nullptr) return {};
  return std::u16string_view(bstr, SysStringLen(bstr));
}

}  // namespace olert::detail

extern "C" {

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (lpsz == nullptr || cchMax < 39) return 0;
  std::string text = olert::detail::FormatGuid(rguid);
  for (size_t i = 0; i < text.size(); ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  lpsz[text.size()] = 0;
  return 39;
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
  if (lplpsz == nullptr) return E_INVALIDARG;
  auto* text = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
  *lplpsz = text;
  if (text == nullptr) return E_OUTOFMEMORY;
  StringFromGUID2(rclsid, text, 39);
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) {
  if (lpiid == nullptr) return E_INVALIDARG;
  *lpiid = IID_NULL;
  if (lpsz == nullptr) return E_INVALIDARG;
  std::u16string_view text(lpsz);
  if (!olert::detail::ParseGuid(text, *lpiid)) {
    *lpiid = IID_NULL;
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (pclsid == nullptr) return E_INVALIDARG;
  *pclsid = CLSID_NULL;
  if (lpsz == nullptr) return E_INVALIDARG;
  std::u16string_view text(lpsz);
  if (!text.empty() && text[0] == u'{') {
    if (olert::detail::ParseGuid(text, *pclsid)) return S_OK;
    *pclsid = CLSID_NULL;
    return CO_E_CLASSSTRING;
  }
  if (text.empty()) return CO_E_CLASSSTRING;
  HRESULT hr = CLSIDFromProgID(lpsz, pclsid);
  return FAILED(hr) ? CO_E_CLASSSTRING : hr;
}

}  // extern "C"
