// Enumerator: walks a collection (through its DISPID_NEWENUM member), a
// VBArray or a script array (their elements in storage order).
//
//   new Enumerator(c)   positioned on the first item
//   e.atEnd()           true past the last item
//   e.item()            the current item (undefined at the end)
//   e.moveNext()        to the next item
//   e.moveFirst()       back to the first item
#pragma once

#include "host/asp/bridge_frame.h"

namespace quill::asp::bridge {

// The constructor and prototype methods, for installation as "Enumerator".
ScriptClass EnumeratorClass();

}  // namespace quill::asp::bridge
