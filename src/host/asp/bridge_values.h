// Values across the automation bridge, both ways (the rules are in
// dispatch_bridge.h). DispatchBridge::ToVariant, PushVariant and
// DefineGlobal are implemented with these; the rest of the bridge needs only
// the two below.
#pragma once

#include "duktape.h"
#include "host/asp/dispatch_bridge.h"

namespace quill::asp::bridge {

// True when the value at `index` is a Date (of the heap's original Date,
// whatever the page did to the global). Engine frame.
bool IsDate(duk_context* ctx, DispatchBridge* b, duk_idx_t index) noexcept;

// Pushes the script object for `object` (null for a null pointer); the
// bridge takes its own reference. Engine frame.
void PushDispatch(duk_context* ctx, DispatchBridge* b, IDispatch* object) noexcept;

}  // namespace quill::asp::bridge
