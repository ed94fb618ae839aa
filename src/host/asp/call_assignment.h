// Assignment to a call: `Session("user") = name`, `Response.Cookies("a")("k") = v`,
// and the compound forms (`Application("n") += 1`, `Session("n")++`,
// `++Session("n")`).
//
// Classic pages assign to the result of a call; to their host that is a
// property put with the call's arguments on the called object. ECMAScript
// refuses such an assignment, so the page compiler rewrites it into a
// property assignment the engine accepts and the bridge understands:
//   X(a, b) = v        ->  X[__quill_put("", a, b)] = v
//   X.Name(a) = v      ->  X[__quill_put("Name", a)] = v
// __quill_put notes the member and arguments (last in, first out, which is
// the order in which nested assignments complete) and answers the key
// kPutKey; the bridge's set trap takes them back and puts with
// DISPATCH_PROPERTYPUT. On anything that is not an automation object the
// key reaches an accessor on Object.prototype that raises a ReferenceError,
// as the language would. The rewrite changes no line breaks, so errors keep
// the page's line numbers.
#pragma once

#include <string>
#include <string_view>

#include "duktape.h"

namespace quill::asp {

inline constexpr const char* kPutFunction = "__quill_put";
inline constexpr const char* kPutKey = "__quill_put__";

// `code` (JScript) with every assignment whose target is a call rewritten
// as above. Strings, comments and regular expressions are left alone.
std::string RewriteCallAssignments(std::string_view code);

// Defines __quill_put and the Object.prototype guard in the heap of `ctx`.
// Engine frame: may raise an engine error (out of memory).
void InstallCallAssignment(duk_context* ctx);

// For the bridge's set trap on kPutKey: pushes the member name noted by the
// latest __quill_put, then its arguments, and forgets the note (`keep`: the
// get trap of a compound assignment such as `Application("n") += 1` or
// `Session("n")++`, which reads first and leaves the note to the put).
// Answers how many arguments. Raises an engine error when nothing was
// noted. Engine frame.
duk_idx_t PushPendingPut(duk_context* ctx, bool keep = false);

}  // namespace quill::asp
