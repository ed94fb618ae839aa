// Packing script structures for Session and Application, in the script
// itself: JSON with a replacer and a reviver does the walking, the cycle
// check and the escaping.
#include "host/asp/script_values.h"

namespace quill::asp {

namespace {

constexpr const char* kHelpersKey = "\xFF" "quillValueHelpers";

// Tags for what JSON has no form of. A plain object with such a key of its
// own is taken for the tagged value; no page has a reason to write one.
constexpr const char* kHelpers =
    "(function () {\n"
    "  var D = '\\u0001date', N = '\\u0001num';\n"
    "  function refuse(o) {\n"
    "    throw new TypeError('a function or automation object inside an array or object cannot be stored'\n"
    "      + ' in Session or Application');\n"
    "  }\n"
    "  return {\n"
    "    pack: function (v) {\n"
    "      return JSON.stringify(v, function (k, x) {\n"
    "        var o = this[k];\n"
    "        if (o instanceof Date) { var t = {}; t[D] = o.getTime(); return t; }\n"
    "        if (typeof o === 'function' || o instanceof VBArray || o instanceof Enumerator) refuse(o);\n"
    "        if (typeof o === 'number' && !isFinite(o)) { var n = {}; n[N] = String(o); return n; }\n"
    "        return x;\n"
    "      });\n"
    "    },\n"
    "    unpack: function (text) {\n"
    "      return JSON.parse(text, function (k, x) {\n"
    "        if (x !== null && typeof x === 'object' && !Array.isArray(x)) {\n"
    "          if (Object.prototype.hasOwnProperty.call(x, D)) return new Date(x[D] === null ? NaN : x[D]);\n"
    "          if (Object.prototype.hasOwnProperty.call(x, N)) return Number(x[N]);\n"
    "        }\n"
    "        return x;\n"
    "      });\n"
    "    }\n"
    "  };\n"
    "})()";

// Pushes the helpers object, compiling it on first use: most pages never
// store a structure, and compiling at every heap's creation was a tenth of
// the cost of a small page.
void PushHelpers(duk_context* ctx) {
  duk_push_global_stash(ctx);
  if (!duk_get_prop_string(ctx, -1, kHelpersKey)) {
    duk_pop(ctx);
    duk_push_string(ctx, "values");
    duk_compile_string_filename(ctx, DUK_COMPILE_EVAL, kHelpers);
    duk_call(ctx, 0);
    duk_dup_top(ctx);
    duk_put_prop_string(ctx, -3, kHelpersKey);
  }
  duk_remove(ctx, -2);  // the stash
}

void CallHelper(duk_context* ctx, const char* name, duk_idx_t index) {
  index = duk_normalize_index(ctx, index);
  PushHelpers(ctx);
  duk_get_prop_string(ctx, -1, name);
  duk_dup(ctx, index);
  duk_call(ctx, 1);
  duk_remove(ctx, -2);
}

}  // namespace

void PushPackedText(duk_context* ctx, duk_idx_t index) {
  CallHelper(ctx, "pack", index);
  if (!duk_is_string(ctx, -1)) duk_error(ctx, DUK_ERR_TYPE_ERROR, "this value cannot be stored");
}

void UnpackTop(duk_context* ctx) {
  CallHelper(ctx, "unpack", -1);
  duk_remove(ctx, -2);
}

}  // namespace quill::asp
