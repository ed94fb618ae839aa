// Conversions between the automation VARIANT of the COM boundary and the
// system's own Variant. This is the one place where the two meet; nothing
// else in the system reads or writes VARIANT layouts.
//
// Two directions, three entry points:
//
//   arg_to_value     VARIANT -> Variant by the shells' argument rules: a
//                    fixed list of accepted types, everything else Empty.
//   VariantToValue   VARIANT -> Variant in full, for callers that want every
//                    value a script can send (the script object).
//   ValueToVariant   Variant -> VARIANT, for every result handed to script.
//
// Text is UTF-8 inside and a BSTR outside; the UTF-16 step goes through
// base/utf8.h. Failures raise EVariantError with a message meant for the
// script author; nothing here crashes on a malformed VARIANT that a caller
// could build in good faith (null references, bad bounds, unknown types).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "base/variant.h"
#include "platform/olert/olert.h"

namespace quill {

// How far a by-reference single-byte text (VT_BYREF | VT_I1) is read when no
// NUL ends it: the referenced buffer's size is unknown, so the read stops at
// the first NUL or after this many bytes, whichever comes first.
inline constexpr size_t kMaxByRefCharText = 4096;

// The UTF-8 text of a BSTR (null reads as the empty text).
std::string BstrToString(BSTR text);
// A new BSTR holding `text`; the caller frees it with SysFreeString.
// Raises std::bad_alloc when the runtime cannot allocate it.
BSTR StringToBstr(std::string_view text);

// The shells' conversion of one incoming argument, by its exact VARTYPE:
//   VT_I2, VT_I4, VT_ERROR, VT_UI1, VT_UI2, VT_INT     Integer
//   VT_UI4, VT_UINT                                      Integer, or Int64 when
//                                                        above 2^31 - 1
//   VT_R4, VT_R8                                         Double
//   VT_DATE                                              Double (the day count)
//   VT_CY                                                Currency
//   VT_BSTR                                              String
//   VT_BOOL                                              Boolean
//   VT_DISPATCH / VT_UNKNOWN                             Dispatch / Unknown
//   VT_I1                                                String of one character:
//                                                        the byte, read as Latin-1
//                                                        when it is not ASCII
//   VT_ARRAY with or without an element type, by value   Array (a copy)
//   VT_BYREF | any scalar type above but VT_I1           as by value
//   VT_BYREF | VT_VARIANT                                VariantToValue of the
//                                                        referenced VARIANT
//   VT_BYREF | VT_I1                                     String: the bytes up to the
//                                                        first NUL, at most
//                                                        kMaxByRefCharText bytes
//   VT_BYREF | VT_ARRAY with or without an element type  Array (a copy)
//   anything else (VT_EMPTY, VT_NULL, VT_I8, VT_DECIMAL, ...) Empty
// The caller's VARIANT is never changed. Raises EVariantError for a null
// reference or an array that is not one-dimensional or whose elements
// cannot be read.
Variant arg_to_value(const VARIANT& arg);

// Every value a VARIANT can carry, as faithfully as Variant allows:
//   VT_EMPTY, VT_NULL                   Empty, Null
//   VT_I1, VT_I2, VT_I4, VT_INT,
//   VT_UI1, VT_UI2, VT_ERROR            Integer (VT_ERROR: the status code)
//   VT_UI4, VT_UINT                     Integer, or Int64 above 2^31 - 1
//   VT_I8                               Int64
//   VT_UI8                              Int64; above 2^63 - 1 raises
//   VT_R4, VT_R8, VT_DECIMAL            Double
//   VT_CY                               Currency
//   VT_DATE                             Date
//   VT_BSTR                             String
//   VT_BOOL                             Boolean
//   VT_DISPATCH, VT_UNKNOWN             Dispatch, Unknown (new reference)
//   VT_ARRAY | t                        Array of the elements converted by
//                                       these rules, with the array's lower
//                                       bound; one dimension only
//   VT_BYREF | any of the above         the referenced value; a referenced
//                                       VARIANT may not itself refer to
//                                       another VARIANT
// Raises EVariantError for any other type, a null reference or a
// multi-dimensional array. The caller's VARIANT is never changed.
Variant VariantToValue(const VARIANT& value);

// Stores `value` into *out as a VARIANT that *out then owns.
// REQUIRES: *out holds nothing that needs freeing (it is overwritten).
//   Empty, Null         VT_EMPTY, VT_NULL
//   Integer             VT_I4
//   Int64               VT_I4 when it fits in 32 bits; otherwise VT_R8 when
//                       a double holds it exactly (|v| <= 2^53); otherwise
//                       VT_BSTR with its decimal text. Script hosts of the
//                       JScript kind do not know VT_I8, and a double that
//                       silently dropped digits would lose data.
//   Double, Currency    VT_R8, VT_CY
//   Boolean             VT_BOOL (VARIANT_TRUE / VARIANT_FALSE)
//   Date                VT_DATE
//   String              VT_BSTR
//   Dispatch, Unknown   VT_DISPATCH, VT_UNKNOWN (new reference)
//   Array               VT_ARRAY | VT_VARIANT, one dimension, the same lower
//                       bound, elements converted by these rules
//   ByteArrayValue(b)   VT_ARRAY | VT_UI1 indexed from 0, one element per byte
// On failure (memory) *out is left VT_EMPTY and std::bad_alloc is raised.
void ValueToVariant(const Variant& value, VARIANT* out);

// Hands the new safe array `array` of `vt` elements to *out (VT_ARRAY | vt)
// once `fill` has written its elements (given its data, locked). Raises
// std::bad_alloc for a null `array` or one whose data cannot be locked, and
// passes on what `fill` raises; on every failure the array goes, with the
// elements filled so far, and *out is left as it was.
void FillNewArray(SAFEARRAY* array, VARTYPE vt, VARIANT* out,
                  const std::function<void(void* data)>& fill);

// Bytes (a blob's content) as a value that ValueToVariant hands to script
// as an array of bytes, the form binary writers of script hosts expect.
// Variant has no byte-array type of its own, so the bytes travel inside an
// Unknown reference that only ValueToVariant opens; anywhere else the value
// is an opaque reference (value_text gives "").
Variant ByteArrayValue(std::string_view bytes);

}  // namespace quill
