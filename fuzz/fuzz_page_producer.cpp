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
// line rule and the conversion error of a bad %-escape. And any bytes,
// %-escaped, decode back to themselves.
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
#include "fake_result.h"
#include "script_object/copy_parser.h"
#include "script_object/page_producer.h"
#include "script_object/quill.h"
#include "script_object/tag_params.h"

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
  Check((parsed.Error() != nullptr) == streamed.error.has_value());
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
    producer.OnHTMLTag = [object](quill::TPageProducer& sender, quill::TTag tag, const std::string& name,
                                  const TStringList& params, std::string& replace) {
      object->HandleFieldTags(sender, tag, name, params, replace);
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
