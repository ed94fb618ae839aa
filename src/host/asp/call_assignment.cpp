// Assignment to a call: the page compiler's rewrite and its runtime half.
#include "host/asp/call_assignment.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

namespace quill::asp {

namespace {

constexpr const char* kPendingKey = "\xFF" "quillPendingPuts";

bool IsIdentChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '$' || u >= 0x80;
}

// Words after which '(' opens no call and '/' starts a regular expression.
bool IsKeyword(std::string_view word) {
  static const std::string_view kWords[] = {
      "if",    "while", "for",    "switch",     "catch", "with",   "function", "return", "typeof",
      "void",  "delete", "in",    "instanceof", "new",   "do",     "else",     "case",   "throw",
      "var",   "yield",  "await"};
  return std::find(std::begin(kWords), std::end(kWords), word) != std::end(kWords);
}

enum class Token { kNone, kIdent, kKeyword, kNumber, kClose, kDot, kPunct };

struct Open {
  size_t pos;             // of '('
  bool call;              // follows something callable
  size_t member_dot = 0;  // position of the '.' of `.Name(`, when there is one
  std::string member;     // that Name
};

struct Edit {
  size_t from;
  size_t to;  // exclusive
  std::string text;
};

// A prefix ++ or -- whose operand is being read: it ends with a call when
// the call's ')' is met at the operator's nesting and nothing (a call, a
// member, an index) continues the operand.
struct Prefix {
  size_t parens;
  size_t brackets;
};

// The first character after `k` that is no blank (nor line break), or 0.
char NextChar(std::string_view code, size_t k) {
  while (k < code.size() && std::isspace(static_cast<unsigned char>(code[k]))) ++k;
  return k < code.size() ? code[k] : '\0';
}

// True when `c` continues a member expression: a call, a member, an index.
bool Continues(char c) { return c == '(' || c == '.' || c == '['; }

// True when an assignment operator (=, +=, ...) or a postfix ++ or --
// (on the same line) starts at `k`, after blanks.
bool AssignmentFollows(std::string_view code, size_t k) {
  const size_t n = code.size();
  bool newline = false;
  while (k < n && (code[k] == ' ' || code[k] == '\t' || code[k] == '\r' || code[k] == '\n')) {
    newline = newline || code[k] == '\n';
    ++k;
  }
  if (k >= n) return false;
  const std::string_view rest = code.substr(k);
  if (rest[0] == '=') return rest.size() == 1 || (rest[1] != '=' && rest[1] != '>');
  if (!newline && (rest.substr(0, 2) == "++" || rest.substr(0, 2) == "--")) return true;
  for (const std::string_view op : {">>>=", "<<=", ">>=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^="}) {
    if (rest.substr(0, op.size()) == op) return true;
  }
  return false;
}

}  // namespace

std::string RewriteCallAssignments(std::string_view code) {
  if (code.find('(') == std::string_view::npos) return std::string(code);
  std::vector<Edit> edits;
  std::vector<Open> opens;
  Token prev = Token::kNone;
  Token before_prev = Token::kNone;
  size_t prev_dot = 0;     // position of the latest '.'
  std::string prev_word;
  bool newline = false;    // a line break since the latest token
  size_t brackets = 0;     // '[' open now
  std::optional<Prefix> prefix;
  auto note = [&](Token t) {
    before_prev = prev;
    prev = t;
    newline = false;
  };
  // Ends the prefix operand on a token that cannot continue it.
  auto operand = [&](bool continues) {
    if (prefix && !continues && opens.size() == prefix->parens && brackets == prefix->brackets) prefix.reset();
  };
  // Rewrites the call whose '(' is `open` and whose ')' is at `close`.
  auto put = [&](const Open& open, size_t close) {
    size_t j = open.pos + 1;
    while (j < close && std::isspace(static_cast<unsigned char>(code[j]))) ++j;
    const bool empty = j == close;  // no arguments (comments between the parentheses count as some)
    std::string head = "[";
    head += kPutFunction;
    head += "(\"" + open.member + "\"" + (empty ? "" : ", ");
    if (!open.member.empty()) {
      edits.push_back({open.member_dot, open.pos + 1, head});
    } else {
      edits.push_back({open.pos, open.pos + 1, head});
    }
    edits.push_back({close, close + 1, ")]"});
  };
  const size_t n = code.size();
  size_t i = 0;
  while (i < n) {
    const char c = code[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
      newline = newline || c == '\n';
      ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && code[i + 1] == '/') {
      while (i < n && code[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && code[i + 1] == '*') {
      const size_t end = code.find("*/", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
      continue;
    }
    if (c == '"' || c == '\'') {
      operand(false);
      ++i;
      while (i < n && code[i] != c && code[i] != '\n') i += code[i] == '\\' ? 2 : 1;
      ++i;
      note(Token::kNumber);  // a value, for what follows
      continue;
    }
    if (c == '/') {
      const bool divide = prev == Token::kIdent || prev == Token::kNumber || prev == Token::kClose;
      operand(false);
      if (!divide) {  // a regular expression literal
        ++i;
        bool in_class = false;
        while (i < n && code[i] != '\n') {
          if (code[i] == '\\') {
            i += 2;
            continue;
          }
          if (code[i] == '[') in_class = true;
          if (code[i] == ']') in_class = false;
          if (code[i] == '/' && !in_class) break;
          ++i;
        }
        ++i;
        while (i < n && IsIdentChar(code[i])) ++i;  // flags
        note(Token::kNumber);
        continue;
      }
      ++i;
      note(Token::kPunct);
      continue;
    }
    if (IsIdentChar(c)) {
      const size_t start = i;
      while (i < n && IsIdentChar(code[i])) ++i;
      const std::string_view word = code.substr(start, i - start);
      if (std::isdigit(static_cast<unsigned char>(c))) {
        operand(false);
        note(Token::kNumber);
      } else {
        operand(!IsKeyword(word));
        note(IsKeyword(word) ? Token::kKeyword : Token::kIdent);
        prev_word = std::string(word);
      }
      continue;
    }
    if (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(code[i + 1]))) {
      operand(false);
      ++i;
      while (i < n && IsIdentChar(code[i])) ++i;
      note(Token::kNumber);
      continue;
    }
    if (c == '.') {
      prev_dot = i;
      ++i;
      note(Token::kDot);
      continue;
    }
    if (c == '(') {
      Open open{i, prev == Token::kIdent || prev == Token::kClose, 0, std::string()};
      if (prev == Token::kIdent && before_prev == Token::kDot) {
        open.member_dot = prev_dot;
        open.member = prev_word;
      }
      opens.push_back(std::move(open));
      ++i;
      note(Token::kPunct);
      continue;
    }
    if (c == ')') {
      if (!opens.empty()) {
        const Open open = std::move(opens.back());
        opens.pop_back();
        if (prefix && (opens.size() < prefix->parens || brackets != prefix->brackets)) prefix.reset();
        if (open.call && AssignmentFollows(code, i + 1)) {
          put(open, i);
        } else if (open.call && prefix && opens.size() == prefix->parens && !Continues(NextChar(code, i + 1))) {
          put(open, i);  // ++X(a): the prefix's operand ends with this call
          prefix.reset();
        }
      }
      ++i;
      note(Token::kClose);
      continue;
    }
    if (c == ']') {
      if (brackets > 0) --brackets;
      if (prefix && brackets < prefix->brackets) prefix.reset();
      ++i;
      note(Token::kClose);
      continue;
    }
    if (c == '[') {
      ++brackets;
      ++i;
      note(Token::kPunct);
      continue;
    }
    if ((c == '+' || c == '-') && i + 1 < n && code[i + 1] == c) {
      const bool postfix = !newline && (prev == Token::kIdent || prev == Token::kNumber || prev == Token::kClose);
      operand(false);
      if (!postfix) prefix = Prefix{opens.size(), brackets};
      i += 2;
      note(Token::kPunct);
      continue;
    }
    operand(false);
    ++i;
    note(Token::kPunct);
  }
  if (edits.empty()) return std::string(code);
  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.from < b.from; });
  std::string out;
  out.reserve(code.size() + edits.size() * 16);
  size_t at = 0;
  for (const Edit& e : edits) {
    if (e.from < at) continue;  // cannot happen with well-formed nesting; keep the text sane
    // Line breaks inside a replaced `.Name(` stay, so that lines keep their numbers.
    const std::string_view replaced = code.substr(e.from, e.to - e.from);
    out.append(code.substr(at, e.from - at));
    out += e.text;
    out.append(static_cast<size_t>(std::count(replaced.begin(), replaced.end(), '\n')), '\n');
    at = e.to;
  }
  out.append(code.substr(at));
  return out;
}

namespace {

// __quill_put(member, args...): notes them and answers the key.
duk_ret_t PutNative(duk_context* ctx) {
  const duk_idx_t count = duk_get_top(ctx);
  duk_push_array(ctx);
  for (duk_idx_t k = 0; k < count; ++k) {
    duk_dup(ctx, k);
    duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(k));
  }
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kPendingKey);
  duk_dup(ctx, -3);
  duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(duk_get_length(ctx, -2)));
  duk_push_string(ctx, kPutKey);
  return 1;
}

// Pushes the latest note (dropping it unless `keep`); answers whether there
// was one.
bool PopPending(duk_context* ctx, bool keep = false) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kPendingKey);
  const duk_size_t length = duk_get_length(ctx, -1);
  if (length == 0) {
    duk_pop_2(ctx);
    return false;
  }
  duk_get_prop_index(ctx, -1, static_cast<duk_uarridx_t>(length - 1));
  if (!keep) {
    duk_push_uint(ctx, static_cast<duk_uint_t>(length - 1));
    duk_put_prop_string(ctx, -3, "length");
  }
  duk_remove(ctx, -2);
  duk_remove(ctx, -2);
  return true;
}

// The setter of kPutKey on Object.prototype: the target was no automation object.
duk_ret_t GuardSet(duk_context* ctx) {
  if (PopPending(ctx)) duk_pop(ctx);
  return duk_error(ctx, DUK_ERR_REFERENCE_ERROR,
                   "invalid assignment: only an automation object's member can be assigned through a call");
}

duk_ret_t GuardGet(duk_context* ctx) { return GuardSet(ctx); }

}  // namespace

void InstallCallAssignment(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_push_array(ctx);
  duk_put_prop_string(ctx, -2, kPendingKey);
  duk_pop(ctx);
  duk_push_c_function(ctx, PutNative, DUK_VARARGS);
  duk_put_global_string(ctx, kPutFunction);
  duk_get_global_string(ctx, "Object");
  duk_get_prop_string(ctx, -1, "prototype");
  duk_push_string(ctx, kPutKey);
  duk_push_c_function(ctx, GuardGet, 0);
  duk_push_c_function(ctx, GuardSet, 1);
  duk_def_prop(ctx, -4, DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_SETTER | DUK_DEFPROP_CLEAR_ENUMERABLE |
                            DUK_DEFPROP_CLEAR_CONFIGURABLE);
  duk_pop_2(ctx);
}

duk_idx_t PushPendingPut(duk_context* ctx, bool keep) {
  if (!PopPending(ctx, keep)) {
    return duk_error(ctx, DUK_ERR_REFERENCE_ERROR, "invalid assignment to a call");
  }
  const duk_idx_t entry = duk_get_top_index(ctx);
  const duk_size_t length = duk_get_length(ctx, entry);
  if (length == 0) return duk_error(ctx, DUK_ERR_REFERENCE_ERROR, "invalid assignment to a call");
  for (duk_size_t k = 0; k < length; ++k) duk_get_prop_index(ctx, entry, static_cast<duk_uarridx_t>(k));
  duk_remove(ctx, entry);
  duk_to_string(ctx, -static_cast<duk_idx_t>(length));  // the member name
  return static_cast<duk_idx_t>(length) - 1;
}

}  // namespace quill::asp
