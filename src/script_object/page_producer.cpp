// The page producers and the template engine they share. The engine walks
// the template with TCopyParser: literal text is copied token by token, a
// "<" followed by "#" starts a tag whose name is the next token and whose
// parameters are the text up to the next ">". Streaming and parsing run the
// same walk; they differ only in what happens at a tag.
#include "script_object/page_producer.h"

#include <cassert>

#include "mysql_dataset/dataset.h"
#include "mysql_dataset/fields.h"
#include "script_object/tag_params.h"
#include "script_object/text_encoding.h"

namespace quill {

const TClassInfo TCustomContentProducer::StaticClassInfo{
    "TCustomContentProducer", &TComponent::StaticClassInfo, {}};
const TClassInfo TCustomPageProducer::StaticClassInfo{
    "TCustomPageProducer", &TCustomContentProducer::StaticClassInfo, {}};
const TClassInfo TPageProducer::StaticClassInfo{"TPageProducer",
                                                &TCustomPageProducer::StaticClassInfo, {}};
const TClassInfo TDataSetPageProducer::StaticClassInfo{"TDataSetPageProducer",
                                                       &TPageProducer::StaticClassInfo, {}};

namespace {

// Walks a template. `on_tag(name, params_text, out)` is called for every
// tag with its name and its trimmed parameter text; it appends the tag's
// replacement (or records the tag) itself.
template <class OnTag>
void WalkTemplate(TTextSource& source, std::string& out, OnTag&& on_tag) {
  TCopyParser parser(source, out);
  for (;;) {
    while (parser.Token() != TCopyParser::kEndOfText && parser.Token() != '<') {
      parser.CopyToken();
      parser.ReadToken(true);
    }
    if (parser.Token() == TCopyParser::kEndOfText) break;
    // At "<": the blanks after it are not copied, whatever follows.
    if (parser.ReadToken(false) != '#') {
      out.push_back('<');
      parser.CopyToken();
      parser.ReadToken(true);
      continue;
    }
    parser.ReadToken(false);
    const std::string name(parser.CurrentText());
    const std::string params = Trim(parser.ReadUpTo('>'));
    on_tag(name, params, out);
    // Drops the closing ">" and copies the blanks after it.
    parser.ReadToken(true);
  }
}

}  // namespace

TTag TagKindOf(std::string_view name) {
  static constexpr struct {
    const char* name;
    TTag tag;
  } kKinds[] = {{"EMBED", TagEmbed}, {"OBJECT", TagObject}, {"IMAGEMAP", TagImageMap},
                {"TABLE", TagTable}, {"IMAGE", TagImage},   {"LINK", TagLink}};
  for (const auto& kind : kKinds) {
    if (SameText(name, kind.name)) return kind.tag;
  }
  return TagCustom;
}

// --- TCustomContentProducer ----------------------------------------------------

std::string TCustomContentProducer::RenderDocument() { return std::string(); }

std::string TCustomContentProducer::RenderStream(TTextSource&) { return RenderDocument(); }

std::string TCustomContentProducer::RenderText(std::string_view) { return RenderDocument(); }

std::string TCustomContentProducer::ResolveTag(const std::string&, const TStringList&) {
  return std::string();
}

// --- TCustomPageProducer -------------------------------------------------------

TCustomPageProducer::TCustomPageProducer(TComponent* owner)
    : TCustomContentProducer(owner), html_doc_(std::make_unique<TStringList>()) {}

TCustomPageProducer::~TCustomPageProducer() = default;

void TCustomPageProducer::SetHTMLDoc(const TStringList& lines) {
  html_doc_->Assign(lines);
  html_file_.clear();
}

void TCustomPageProducer::SetHTMLFile(const std::string& path) {
  if (SameText(path, html_file_)) return;
  html_doc_->Clear();
  html_file_ = path;
}

std::string TCustomPageProducer::RenderDocument() {
  if (!html_file_.empty()) {
    TFileSource source(html_file_);
    return RenderStream(source);
  }
  const std::string text = html_doc_->Text();
  TStringSource source(text);
  return RenderStream(source);
}

std::string TCustomPageProducer::RenderStream(TTextSource& source) {
  std::string out;
  RenderStreamTo(source, out);
  return out;
}

std::string TCustomPageProducer::RenderText(std::string_view text) {
  TStringSource source(text);
  return RenderStream(source);
}

std::string TCustomPageProducer::ResolveTag(const std::string& tag_name, const TStringList&) {
  return "<#" + tag_name + ">";
}

void TCustomPageProducer::RenderStreamTo(TTextSource& source, std::string& out) {
  WalkTemplate(source, out,
               [this](const std::string& name, const std::string& params_text, std::string& dest) {
                 TStringList params;
                 SplitTagParams(params_text, strip_param_quotes_, params);
                 dest += ResolveTag(name, params);
               });
}

void TCustomPageProducer::RenderTextTo(std::string_view text, std::string& out) {
  TStringSource source(text);
  RenderStreamTo(source, out);
}

TParsedTemplate TCustomPageProducer::Parse(TTextSource& source) const {
  TParsedTemplate parsed;
  std::string literal;
  try {
    WalkTemplate(source, literal,
                 [&](const std::string& name, const std::string& params_text, std::string& dest) {
                   TParsedTemplate::Segment segment;
                   segment.Params = std::make_unique<TStringList>();
                   // Decoding may fail; the literal before the tag is then
                   // kept so that the failure is raised after the same
                   // output as streaming would have produced.
                   SplitTagParams(params_text, strip_param_quotes_, *segment.Params);
                   segment.Text = std::move(dest);
                   dest.clear();
                   segment.HasTag = true;
                   segment.TagName = name;
                   segment.Kind = TagKindOf(name);
                   parsed.literal_size_ += segment.Text.size();
                   parsed.segments_.push_back(std::move(segment));
                 });
  } catch (...) {
    parsed.error_ = std::current_exception();
  }
  if (!literal.empty() || parsed.segments_.empty()) {
    TParsedTemplate::Segment tail;
    tail.Text = std::move(literal);
    parsed.literal_size_ += tail.Text.size();
    parsed.segments_.push_back(std::move(tail));
  }
  return parsed;
}

void TCustomPageProducer::AppendParsed(const TParsedTemplate& parsed, std::string& out) {
  for (const TParsedTemplate::Segment& segment : parsed.Segments()) {
    out += segment.Text;
    if (segment.HasTag) AppendTag(segment, out);
  }
  if (parsed.Error()) std::rethrow_exception(parsed.Error());
}

void TCustomPageProducer::AppendTag(const TParsedTemplate::Segment& tag, std::string& out) {
  out += ResolveTag(tag.TagName, *tag.Params);
}

// --- TPageProducer -------------------------------------------------------------

std::string TPageProducer::ResolveTag(const std::string& tag_name, const TStringList& params) {
  std::string replace_text;
  FireTagEvent(TagKindOf(tag_name), tag_name, params, replace_text);
  return replace_text;
}

void TPageProducer::AppendTag(const TParsedTemplate::Segment& tag, std::string& out) {
  tag_buffer_.clear();
  FireTagEvent(tag.Kind, tag.TagName, *tag.Params, tag_buffer_);
  out += tag_buffer_;
}

void TPageProducer::FireTagEvent(TTag tag, const std::string& tag_name, const TStringList& params,
                                 std::string& replace_text) {
  if (OnHTMLTag) OnHTMLTag(*this, tag, tag_name, params, replace_text);
}

// --- TDataSetPageProducer ------------------------------------------------------

TDataSetPageProducer::~TDataSetPageProducer() {
  if (dataset_ != nullptr) RemoveFreeNotification(dataset_);
}

void TDataSetPageProducer::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) RemoveFreeNotification(dataset_);
  dataset_ = dataset;
  if (dataset_ != nullptr) FreeNotification(dataset_);
}

std::string TDataSetPageProducer::RenderDocument() {
  if (dataset_ != nullptr && !dataset_->Active()) dataset_->OpenDataset();
  return TPageProducer::RenderDocument();
}

void TDataSetPageProducer::FireTagEvent(TTag tag, const std::string& tag_name,
                                        const TStringList& params, std::string& replace_text) {
  if (dataset_ != nullptr) {
    if (params.Empty()) {
      if (TField* field = dataset_->LookupField(tag_name)) replace_text = field->DisplayText();
    } else if (IsOnlyEncodeParam(params)) {
      if (TField* field = dataset_->LookupField(tag_name)) {
        AppendEncoded(replace_text, field->DisplayText(), EncodeParam(params));
      }
    }
  }
  TPageProducer::FireTagEvent(tag, tag_name, params, replace_text);
}

void TDataSetPageProducer::Notification(TComponent* component, Operation operation) {
  TPageProducer::Notification(component, operation);
  if (operation == Operation::Remove && component == dataset_) dataset_ = nullptr;
}

}  // namespace quill
