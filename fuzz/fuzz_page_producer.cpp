// Fuzzes the template engine: TCopyParser under the page producers, tag
// parameters split by SplitTagParams and decoded by DecodeParam, and the
// parsed form a table body is rendered from.
//
// The first input byte chooses the options:
//   bit 0     StripParamQuotes
//   bit 1     a TDataSetPageProducer over a small dataset (fed from a
//             prepared result, no server) whose tags go to the script
//             object's own tag handler (FIELDNAMES, FIELDVALUES) and then to
//             a recording handler; else a TPageProducer with that handler
//   bits 2-4  how many bytes a read of the template source hands out at most
//   bits 5-7  how many times the template text is repeated (1 to 8), so
//             that lines reach the 4 KB buffer and its refill boundary
// The rest is the template; a NUL byte in it ends the text, as documented.
//
// Every rendering must agree with every other: a template streamed from
// memory, streamed through a source that hands out a few bytes at a time,
// and taken apart once and rendered from its parsed form give the same
// output and the same failure, at the same point. Text without "<" and NUL
// comes back unchanged. Failures are the documented ones only: the parser's
// line rule and the conversion errors of a bad %-escape and of an unknown
// ENCODE. Any bytes, %-escaped, decode back to themselves; and the input
// bytes, in each ENCODE encoding, hold no character the encoding must
// escape, are well-formed UTF-8 where the encoding promises it, decode back
// to the input (stray bytes as U+FFFD where the encoding replaces them), and
// encode piecewise as a whole when cut between two characters.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "base/utf8.h"
#include "fake_result.h"
#include "script_object/copy_parser.h"
#include "script_object/page_producer.h"
#include "script_object/quill.h"
#include "script_object/tag_params.h"
#include "script_object/text_encoding.h"

namespace {

using quill::TStringList;

void Check(bool ok) {
  if (!ok) std::abort();
}

// Hands out at most `chunk` bytes per read.
class ChunkedSource final : public quill::TTextSource {
 public:
  ChunkedSource(std::string_view text, size_t chunk) : text_(text), chunk_(chunk) {}
  size_t Read(char* dest, size_t count) override {
    const size_t n = std::min({count, chunk_, text_.size() - pos_});
    std::copy_n(text_.data() + pos_, n, dest);
    pos_ += n;
    return n;
  }

 private:
  std::string_view text_;
  size_t chunk_;
  size_t pos_ = 0;
};

// What one rendering produced: the output (partial after a failure) and
// the failure's message, if any.
struct Rendering {
  std::string out;
  std::optional<std::string> error;
  bool operator==(const Rendering&) const = default;
};

template <class F>
Rendering Capture(F&& render) {
  Rendering r;
  try {
    render(r.out);
  } catch (const quill::EParserError& e) {
    r.error = std::string("parser: ") + e.what();
  } catch (const quill::EConvertError& e) {
    r.error = std::string("convert: ") + e.what();
  }
  // Anything else escapes to the fuzzer as a fault.
  return r;
}

// "[NAME|p1|p2...]" after whatever the replacement held already.
void RecordTag(const std::string& name, const TStringList& params, std::string& replace) {
  replace += "[" + name;
  for (const std::string& p : params.Lines()) replace += "|" + p;
  replace += "]";
}

void CheckDecodeRoundTrip(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string encoded;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '%' && i % 2 == 0) {
      encoded += "%%";
    } else if (c == ' ' && i % 3 == 0) {
      encoded += '+';
    } else if (c == '+' || c == '%' || c == ' ' || i % 5 == 0) {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += static_cast<char>(i % 7 == 0 ? std::toupper(kHex[c & 15]) : kHex[c & 15]);
    } else {
      encoded += static_cast<char>(c);
    }
  }
  Check(quill::DecodeParam(encoded) == bytes);
}

using quill::TTextEncoding;

std::string Encoded(std::string_view text, TTextEncoding encoding) {
  std::string out;
  quill::AppendEncoded(out, text, encoding);
  return out;
}

// An ASCII letter or digit, or one of `marks`.
bool IsUnreserved(unsigned char c, std::string_view marks) {
  return (c < 0x80 && std::isalnum(c) != 0) || marks.find(static_cast<char>(c)) != std::string_view::npos;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// `text` with each byte that starts no well-formed character as U+FFFD.
std::string Sanitized(std::string_view text) { return quill::Utf16ToUtf8(quill::Utf8ToUtf16(text)); }

void AppendUtf8(std::string& out, char32_t cp) {
  std::u16string units;
  if (cp < 0x10000) {
    units += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    units += static_cast<char16_t>(0xD800 + (cp >> 10));
    units += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
  out += quill::Utf16ToUtf8(units);
}

bool IsWellFormed(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    char32_t cp;
    const size_t n = quill::Utf8CharAt(text, i, &cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Reads the entity at `i` of an HTML or ATTR output; returns its length
// and the character in *cp, or 0 when none stands there.
size_t ReadEntity(std::string_view s, size_t i, bool numeric_allowed, char32_t* cp) {
  static constexpr std::pair<std::string_view, char32_t> kNamed[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
  for (const auto& [name, c] : kNamed) {
    if (s.substr(i, name.size()) == name) {
      *cp = c;
      return name.size();
    }
  }
  if (!numeric_allowed || s.substr(i, 3) != "&#x") return 0;
  size_t k = i + 3;
  char32_t v = 0;
  // Upper-case hex digits, no leading zero, at most six.
  while (k < s.size() && HexValue(s[k]) >= 0 && s[k] < 'a' && k - i < 9) {
    v = v * 16 + static_cast<char32_t>(HexValue(s[k++]));
  }
  if (k == i + 3 || k >= s.size() || s[k] != ';' || (s[i + 3] == '0' && k > i + 4)) return 0;
  *cp = v;
  return k + 1 - i;
}

void CheckHTML(std::string_view text) {
  const std::string out = Encoded(text, TTextEncoding::HTML);
  std::string back;
  for (size_t i = 0; i < out.size();) {
    const char c = out[i];
    Check(c != '<' && c != '>' && c != '"' && c != '\'');
    char32_t cp;
    const size_t n = c == '&' ? ReadEntity(out, i, false, &cp) : 0;
    Check(c != '&' || n > 0);
    if (n > 0) {
      back += static_cast<char>(cp);
      i += n;
    } else {
      back += c;
      ++i;
    }
  }
  Check(back == text);
}

void CheckAttr(std::string_view text) {
  const std::string out = Encoded(text, TTextEncoding::Attr);
  Check(IsWellFormed(out));
  std::string back;
  for (size_t i = 0; i < out.size();) {
    const auto c = static_cast<unsigned char>(out[i]);
    char32_t cp;
    if (c == '&') {
      const size_t n = ReadEntity(out, i, true, &cp);
      Check(n > 0);
      // What needs no escape is not escaped.
      Check(!(cp < 0x80 && IsUnreserved(static_cast<unsigned char>(cp), "-_.")));
      AppendUtf8(back, cp);
      i += n;
    } else if (c >= 0x80) {
      const size_t n = quill::Utf8CharAt(out, i, &cp);
      back.append(out, i, n);
      i += n;
    } else {
      Check(IsUnreserved(c, "-_."));
      back += static_cast<char>(c);
      ++i;
    }
  }
  Check(back == Sanitized(text));
}

void CheckURL(std::string_view text) {
  const std::string out = Encoded(text, TTextEncoding::URL);
  std::string back;
  for (size_t i = 0; i < out.size();) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (c == '%') {
      Check(i + 2 < out.size());
      const int hi = HexValue(out[i + 1]), lo = HexValue(out[i + 2]);
      Check(hi >= 0 && lo >= 0 && out[i + 1] < 'a' && out[i + 2] < 'a');
      const auto byte = static_cast<unsigned char>(hi * 16 + lo);
      Check(!IsUnreserved(byte, "-_.~"));
      back += static_cast<char>(byte);
      i += 3;
    } else {
      Check(IsUnreserved(c, "-_.~"));
      back += static_cast<char>(c);
      ++i;
    }
  }
  Check(back == text);
}

void CheckJSON(std::string_view text) {
  const std::string out = Encoded(text, TTextEncoding::JSON);
  Check(IsWellFormed(out));
  std::string back;
  for (size_t i = 0; i < out.size();) {
    const auto c = static_cast<unsigned char>(out[i]);
    Check(c >= 0x20 && c != 0x7F && c != '"' && c != '<' && c != '>' && c != '&' && c != '\'');
    if (c != '\\') {
      char32_t cp;
      const size_t n = c < 0x80 ? 1 : quill::Utf8CharAt(out, i, &cp);
      Check(c < 0x80 || (cp != 0x2028 && cp != 0x2029));
      back.append(out, i, n);
      i += n;
      continue;
    }
    Check(i + 1 < out.size());
    const char e = out[i + 1];
    static constexpr std::string_view kShort = "\"\\bfnrt", kMeant = "\"\\\b\f\n\r\t";
    if (const size_t k = kShort.find(e); k != std::string_view::npos) {
      back += kMeant[k];
      i += 2;
      continue;
    }
    Check(e == 'u' && i + 6 <= out.size());
    char32_t cp = 0;
    for (size_t k = i + 2; k < i + 6; ++k) {
      Check(HexValue(out[k]) >= 0);
      cp = cp * 16 + static_cast<char32_t>(HexValue(out[k]));
    }
    Check(cp < 0xD800 || cp > 0xDFFF);
    AppendUtf8(back, cp);
    i += 6;
  }
  Check(back == Sanitized(text));
}

// Each encoding of `text`, checked; and the text cut in two where no
// character spans the cut (before a byte that continues none) encodes to
// the same as a whole.
void CheckEncodings(std::string_view text) {
  CheckHTML(text);
  CheckAttr(text);
  CheckURL(text);
  CheckJSON(text);
  Check(Encoded(text, TTextEncoding::None) == text);
  size_t cut = text.size() / 2;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  const std::string_view head = text.substr(0, cut), tail = text.substr(cut);
  for (const TTextEncoding e :
       {TTextEncoding::HTML, TTextEncoding::Attr, TTextEncoding::URL, TTextEncoding::JSON}) {
    Check(Encoded(head, e) + Encoded(tail, e) == Encoded(text, e));
  }
}

// The renderings of one template by `producer` that must all agree.
void CheckRenderings(quill::TCustomPageProducer& producer, const std::string& text, size_t chunk) {
  const Rendering streamed = Capture([&](std::string& out) { producer.RenderTextTo(text, out); });
  const Rendering chunked = Capture([&](std::string& out) {
    ChunkedSource source(text, chunk);
    producer.RenderStreamTo(source, out);
  });
  Check(chunked == streamed);
  quill::TStringSource source(text);
  const quill::TParsedTemplate parsed = producer.Parse(source);
  const Rendering from_parsed = Capture([&](std::string& out) { producer.AppendParsed(parsed, out); });
  Check(from_parsed == streamed);
  size_t literal = 0;
  for (const auto& segment : parsed.Segments()) {
    literal += segment.Text.size();
    Check(!segment.HasTag || segment.Params != nullptr);
    Check(!segment.HasTag || segment.Kind == quill::TagKindOf(segment.TagName));
  }
  Check(literal == parsed.LiteralSize());
  // A failure the parse did not meet comes from a tag: an unknown ENCODE.
  Check(parsed.Error() == nullptr || streamed.error.has_value());
  Check(parsed.Error() != nullptr || !streamed.error ||
        streamed.error->find("is not a valid encoding") != std::string::npos);
  if (!streamed.error && text.find('<') == std::string::npos && text.find('\0') == std::string::npos) {
    Check(streamed.out == text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 16384) return 0;
  const uint8_t options = data[0];
  const bool strip = (options & 1) != 0;
  const bool over_dataset = (options & 2) != 0;
  static constexpr size_t kChunks[] = {1, 2, 3, 7, 64, 511, 4095, 1 << 20};
  const size_t chunk = kChunks[(options >> 2) & 7];
  const int repeat = 1 + (options >> 5);
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string text;
  for (int i = 0; i < repeat; ++i) text.append(body);

  CheckDecodeRoundTrip(body);
  CheckEncodings(body);
  try {
    (void)quill::DecodeParam(body);
  } catch (const quill::EConvertError&) {
  }

  if (!over_dataset) {
    quill::TPageProducer producer;
    producer.SetStripParamQuotes(strip);
    producer.OnHTMLTag = [](quill::TPageProducer&, quill::TTag, const std::string& name,
                            const TStringList& params, std::string& replace) {
      Check(replace.empty());
      RecordTag(name, params, replace);
    };
    CheckRenderings(producer, text, chunk);
    return 0;
  }

  // A table body over each row of a dataset, as ContentTable renders it:
  // parsed once, rendered per row, and equal to streaming it per row.
  using quill::test::Col;
  quill::test::TFakeMySQLDataset dataset;
  dataset.OpenOver({Col("id", quill::MySQLType::Long, quill::kPriKeyFlag | quill::kNotNullFlag),
                    Col("name", quill::MySQLType::VarString, 0, 80),
                    Col("data", quill::MySQLType::Blob, quill::kBlobFlag | quill::kBinaryFlag, 255, "t",
                        quill::kBinaryCharsetNr)},
                   {{"1", std::string(body.substr(0, 40)), std::nullopt},
                    {"2", std::nullopt, std::string("\x00<#id>", 6)},
                    {"3", "<#name> %41", "x"}});
  auto* object = static_cast<quill::TQuill*>(quill::NewQuillObject());
  object->AddRef();
  object->Initialize();
  {
    quill::TDataSetPageProducer producer;
    producer.SetStripParamQuotes(strip);
    producer.SetDataSet(&dataset);
    producer.OnHTMLTag = [object, &producer](quill::TPageProducer&, quill::TTag, const std::string& name,
                                             const TStringList& params, std::string& replace) {
      object->HandleFieldTags(producer, name, params, replace);
      RecordTag(name, params, replace);
    };
    CheckRenderings(producer, text, chunk);
    quill::TStringSource source(text);
    const quill::TParsedTemplate parsed = producer.Parse(source);
    for (dataset.MoveFirst(); !dataset.Eof(); dataset.MoveNext()) {
      const Rendering streamed = Capture([&](std::string& out) { producer.RenderTextTo(text, out); });
      const Rendering from_parsed = Capture([&](std::string& out) { producer.AppendParsed(parsed, out); });
      Check(from_parsed == streamed);
    }
    // Rendering without the dataset (it closes or goes) is rendering
    // without field values, never a read of a stale row.
    dataset.CloseDataset();
    try {
      (void)Capture([&](std::string& out) { producer.AppendParsed(parsed, out); });
    } catch (const quill::EDatabaseError&) {
      // A field of a closed dataset may refuse to be read: a clear error.
    }
  }
  object->Release();
  return 0;
}
