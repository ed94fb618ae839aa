// Late-bound calls of IQuill members, driven by the type library.
//
// This is what both IDispatch::Invoke of the object and ITypeInfo::Invoke of
// its type information do: find the member, match the caller's arguments
// (positional ones last-to-first, named ones by argument position) to the
// declared ones, convert each to its declared type, put the declared
// default in place of each omitted argument (an omitted Values arrives as
// VT_ERROR / DISP_E_PARAMNOTFOUND), and call the member on the vtable.
#pragma once

#include "platform/olert/olert.h"
#include "script_object/quill_interface.h"

namespace quill {

// Resolves `names[0]` to a member's DISPID and the names after it to the
// positions of that member's arguments (names compare without regard to
// ASCII case). Unknown names get DISPID_UNKNOWN and the answer is
// DISP_E_UNKNOWNNAME. E_INVALIDARG for null arrays.
HRESULT QuillGetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids);

// Calls member `id` on `self`. Answers:
//   DISP_E_MEMBERNOTFOUND   no such member, or `flags` do not allow its kind
//                           (methods need DISPATCH_METHOD, property gets
//                           DISPATCH_PROPERTYGET or DISPATCH_METHOD; no
//                           member can be written)
//   DISP_E_BADPARAMCOUNT    more arguments than the member declares
//   DISP_E_PARAMNOTFOUND    a named argument that names no argument, or an
//                           argument given twice (*arg_error: its index)
//   DISP_E_PARAMNOTOPTIONAL a required argument missing
//   DISP_E_TYPEMISMATCH,
//   DISP_E_OVERFLOW         an argument that does not convert (*arg_error:
//                           its index in rgvarg)
//   DISP_E_EXCEPTION        the member failed: `excep`, when given, receives
//                           the thread's error information (source,
//                           description, help) and the member's HRESULT as
//                           scode, and the error information is consumed;
//                           without `excep` it stays for GetErrorInfo
//   S_OK                    `result`, when given (and initialised), holds
//                           the value of a property get, VT_EMPTY otherwise
HRESULT QuillInvoke(IQuill* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                    EXCEPINFO* excep, UINT* arg_error);

}  // namespace quill
