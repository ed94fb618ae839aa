// What the host needs from inside the script engine that its public API
// does not offer. All of it is defined in duktape_build.c, the translation
// unit that compiles the engine itself.
#pragma once

#include "duktape.h"

#ifdef __cplusplus
extern "C" {
#endif

// Non-zero when the function now running (a Proxy trap) was reached from a
// property read that fetches the callee of a call, `obj.Name(...)` or
// `obj[key](...)`, rather than from a plain read `obj.Name`. The bridge needs
// the difference: a call must reach the member as a method, a read as a
// property get.
int quill_duk_read_is_for_call(duk_context* ctx);

// Makes the executor consult the timeout hook before its next instruction,
// so that a page told to stop (Response.End) stops at once rather than after
// the next few hundred thousand instructions.
void quill_duk_interrupt_now(duk_context* ctx);

// The state of a new heap, so that a heap a page ran in can be told apart
// from one a page changed: every object reachable from the global object
// (built-ins, their functions, the host's globals) byte for byte, and the
// global object's properties by key.
typedef struct quill_duk_baseline quill_duk_baseline;
// Records the heap's state now. Null when memory runs out. REQUIRES: called
// outside any script call.
quill_duk_baseline* quill_duk_baseline_take(duk_context* ctx);
// Removes the global object's own properties that are not in the baseline
// (declared variables and functions too). Then answers 1 when the heap is
// as the baseline found it, 0 when anything it recorded was changed (the
// heap must then not run another page). REQUIRES: outside any script call.
int quill_duk_baseline_intact(duk_context* ctx, const quill_duk_baseline* baseline);
void quill_duk_baseline_free(quill_duk_baseline* baseline);

#ifdef __cplusplus
}
#endif
