// VBArray: how script sees a safe array an automation object returned.
//
//   new VBArray(a)      a VBArray as it is, or a script array made into one
//   a.toArray()         the elements in storage order (the first index
//                       varies fastest), as a script array
//   a.lbound(d) / a.ubound(d)   bounds of dimension d (from 1; default 1)
//   a.getItem(i, j...)  one element, one index per dimension
//   a.dimensions()      the number of dimensions
#pragma once

#include "host/asp/bridge_frame.h"

namespace quill::asp::bridge {

// The constructor and prototype methods, for installation as "VBArray".
ScriptClass VBArrayClass();

}  // namespace quill::asp::bridge
