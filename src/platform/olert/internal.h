// internal.h: helpers shared by the runtime's own source files. Nothing here
// is exported; clients see only olert.h.
#ifndef QUILL_PLATFORM_OLERT_INTERNAL_H_
#define QUILL_PLATFORM_OLERT_INTERNAL_H_

#include <string>
#include <string_view>

#include "platform/olert/olert.h"

namespace olert::detail {

// Reads the braced registry form of a GUID, hex digits in either case.
bool ParseGuid(std::u16string_view text, GUID& out);
// The braced upper-case registry form of a GUID (38 characters).
std::string FormatGuid(const GUID& guid);

// Value `name` (null: the default value) of the key `sub_key` below the
// predefined key `root`, from one look at the registry: what
// RegOpenKeyExA, RegQueryValueExA and RegCloseKey give together, without
// a handle. ERROR_FILE_NOT_FOUND when the key or the value is absent.
LONG QueryValue(HKEY root, const char* sub_key, const char* name, DWORD& type,
                std::string& data);

// A new BSTR holding the UTF-8 text, or null when memory runs out.
BSTR AllocBstr(std::string_view utf8);
// A view of a BSTR's characters (empty for null).
std::u16string_view BstrView(BSTR bstr);

// True when a VARIANT may hold vt (with its VT_ARRAY/VT_BYREF flags).
bool IsValidVariantType(VARTYPE vt);
// Bytes per element of a safe array of vt; 0 when vt cannot be an element.
ULONG ElementSize(VARTYPE vt);

// Fills `out` with the value a VT_BYREF variant refers to, as a shallow,
// non-owning copy (never clear it); a variant that is not VT_BYREF is copied
// as it is. E_INVALIDARG for a null reference or a reference chain deeper
// than one VT_VARIANT.
HRESULT ReadThrough(const VARIANT& src, VARIANT& out);

}  // namespace olert::detail

#endif  // QUILL_PLATFORM_OLERT_INTERNAL_H_
