// Script structures kept between pages: a JScript array or plain object put
// into Session or Application is packed into text (JSON, with dates and
// non-finite numbers tagged so that they come back as they were) and
// unpacked into an equal array or object when read. Functions and
// automation objects inside a structure are refused.
#pragma once

#include <string_view>

#include "duktape.h"

namespace quill::asp {

// Pushes the packed text of the value at `index`. Engine frame: raises a
// TypeError for what cannot be packed (a function or automation object
// inside, a structure that contains itself).
void PushPackedText(duk_context* ctx, duk_idx_t index);

// Replaces the packed text at the top of the stack by its value. Engine frame.
void UnpackTop(duk_context* ctx);

}  // namespace quill::asp
