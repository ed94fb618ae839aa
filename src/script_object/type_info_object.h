// The type information objects of the module: one for the dual interface
// IQuill2 (described as a dispatch interface; its base IQuill is reached
// through its implemented type) and one for the class Quill,
// both read from the type library data (type_library.h).
#pragma once

#include "script_object/type_info.h"

namespace quill {

// A new type information object for IQuill2 with one reference, counted as a
// live object of the server while it lives. Null when memory runs out.
ITypeInfo* NewQuillTypeInfo();
// Likewise for the class Quill, whose one implemented interface (flagged
// default) is IQuill2.
ITypeInfo* NewQuillClassInfo();

}  // namespace quill
