// The two things the automation bridge needs from inside the script engine
// that its public API does not offer. Both are defined in duktape_build.c,
// the translation unit that compiles the engine itself.
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

#ifdef __cplusplus
}
#endif
