// The page producers: components that turn a template into page text by
// replacing its tags with text a handler supplies.
//
// A tag is "<#NAME param param ...>". Everything outside tags is copied to the
// output unchanged, except that blanks between a "<" that opens no tag and
// the token after it are dropped. The producers form a chain:
//
//   TCustomContentProducer   renders nothing
//   TCustomPageProducer      the engine; a tag is written back as "<#NAME>"
//   TPageProducer            a tag is replaced by what OnHTMLTag leaves
//   TDataSetPageProducer     a tag named after a field of the dataset,
//                            with no parameters or only ENCODE=..., becomes
//                            the field's display text (encoded) first
//
// A template is given as text, as a file, or as the HTMLDoc lines. A
// template that is rendered many times in one go (the body of a table) can
// be parsed once (Parse) and rendered from its parsed form (AppendParsed),
// with the same output and the same failures, raised at the same point, as
// streaming it each time.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"
#include "base/string_list.h"
#include "script_object/copy_parser.h"

namespace quill {

class TDataSet;

// The kind of a tag, chosen by its name.
enum TTag { TagCustom, TagLink, TagImage, TagTable, TagImageMap, TagObject, TagEmbed };

// "LINK", "IMAGE", "TABLE", "IMAGEMAP", "OBJECT" and "EMBED" (ASCII case
// ignored) give their kinds; any other name TagCustom.
TTag TagKindOf(std::string_view name);

class TPageProducer;

// A template taken apart: runs of literal text, each followed by one tag
// (except possibly the last), and the failure that stopped the parse, if
// any, at the point where it occurred.
class TParsedTemplate {
 public:
  struct Segment {
    std::string Text;                     // literal output before the tag
    bool HasTag = false;
    std::string TagName;
    TTag Kind = TagCustom;                // TagKindOf(TagName)
    std::unique_ptr<TStringList> Params;  // set when HasTag
  };

  const std::vector<Segment>& Segments() const { return segments_; }
  // The failure met while parsing (null when the parse completed). It is
  // raised when rendering reaches the end of the segments.
  std::exception_ptr Error() const { return error_; }
  // Total bytes of literal text.
  size_t LiteralSize() const { return literal_size_; }

 private:
  friend class TCustomPageProducer;
  std::vector<Segment> segments_;
  std::exception_ptr error_;
  size_t literal_size_ = 0;
};

class TCustomContentProducer : public TComponent {
  QUILL_DECLARE_CLASS()

 public:
  explicit TCustomContentProducer(TComponent* owner = nullptr) : TComponent(owner) {}

  // The producer's own document. Here: the empty text.
  virtual std::string RenderDocument();
  // Renders the template read from `source`. Here: ignores it and returns
  // RenderDocument().
  virtual std::string RenderStream(TTextSource& source);
  // Renders the template `text`. Here: ignores it and returns
  // RenderDocument().
  virtual std::string RenderText(std::string_view text);
  // The replacement for one tag. Here: the empty text.
  virtual std::string ResolveTag(const std::string& tag_name, const TStringList& params);
};

class TCustomPageProducer : public TCustomContentProducer {
  QUILL_DECLARE_CLASS()

 public:
  explicit TCustomPageProducer(TComponent* owner = nullptr);
  ~TCustomPageProducer() override;

  // The in-memory template; empty by default.
  const TStringList& HTMLDoc() const { return *html_doc_; }
  // The lines themselves, to edit in place (HTMLFile stays as it is).
  TStringList& HTMLDoc() { return *html_doc_; }
  // Replaces the lines and clears HTMLFile.
  void SetHTMLDoc(const TStringList& lines);
  // A template file name; empty by default.
  const std::string& HTMLFile() const { return html_file_; }
  // A name that differs from the current one (ASCII case ignored) clears
  // HTMLDoc first.
  void SetHTMLFile(const std::string& path);
  // Whether quote characters are removed from tag parameters; true by
  // default.
  bool StripParamQuotes() const { return strip_param_quotes_; }
  void SetStripParamQuotes(bool value) { strip_param_quotes_ = value; }

  // HTMLFile when set (EFOpenError "Cannot open file %s" when it cannot be
  // opened), else the HTMLDoc lines each followed by CR LF, rendered.
  std::string RenderDocument() override;
  // The engine. Raises EParserError for a line too long for the buffer,
  // EConvertError for a bad %-escape in a tag parameter, and whatever
  // ResolveTag raises; nothing is returned then.
  std::string RenderStream(TTextSource& source) override;
  std::string RenderText(std::string_view text) override;
  // "<#NAME>": the tag written back without its parameters.
  std::string ResolveTag(const std::string& tag_name, const TStringList& params) override;

  // As RenderStream / RenderText, appending to `out`. On failure `out` may
  // hold part of the output.
  void RenderStreamTo(TTextSource& source, std::string& out);
  void RenderTextTo(std::string_view text, std::string& out);

  // Takes the template apart without resolving any tag. Never raises: a
  // failure (bad template, unreadable source) is kept in the result and
  // raised by AppendParsed at the point where it occurred.
  TParsedTemplate Parse(TTextSource& source) const;
  // Appends the rendering of `parsed` to `out`: the literal runs, and
  // the replacement of each tag (AppendTag); raises the parse failure when
  // it reaches it.
  void AppendParsed(const TParsedTemplate& parsed, std::string& out);

 protected:
  // Appends the replacement of one parsed tag: here ResolveTag's result.
  virtual void AppendTag(const TParsedTemplate::Segment& tag, std::string& out);

 private:
  std::unique_ptr<TStringList> html_doc_;
  std::string html_file_;
  bool strip_param_quotes_ = true;
};

class TPageProducer : public TCustomPageProducer {
  QUILL_DECLARE_CLASS()

 public:
  // The tag handler: receives the producer, the tag's kind, name and
  // parameter lines, and the replacement text, which it may change. What it
  // leaves there replaces the tag.
  using THTMLTagEvent = std::function<void(TPageProducer& sender, TTag tag,
                                           const std::string& tag_name,
                                           const TStringList& params, std::string& replace_text)>;

  explicit TPageProducer(TComponent* owner = nullptr) : TCustomPageProducer(owner) {}

  THTMLTagEvent OnHTMLTag;

  // The replacement starts empty; FireTagEvent fills it.
  std::string ResolveTag(const std::string& tag_name, const TStringList& params) override;

 protected:
  // As ResolveTag, with the kind found at parse time and the replacement
  // built in a buffer that keeps its capacity from tag to tag.
  void AppendTag(const TParsedTemplate::Segment& tag, std::string& out) override;
  // Calls OnHTMLTag when set.
  virtual void FireTagEvent(TTag tag, const std::string& tag_name, const TStringList& params,
                            std::string& replace_text);

 private:
  std::string tag_buffer_;
};

class TDataSetPageProducer : public TPageProducer {
  QUILL_DECLARE_CLASS()

 public:
  explicit TDataSetPageProducer(TComponent* owner = nullptr) : TPageProducer(owner) {}
  ~TDataSetPageProducer() override;

  // Not owned; cleared when the dataset is destroyed.
  TDataSet* DataSet() const { return dataset_; }
  virtual void SetDataSet(TDataSet* dataset);

  // Opens a closed DataSet first (its failure propagates), then renders as
  // the inherited producer does.
  std::string RenderDocument() override;

 protected:
  // When DataSet has a field of the tag's name (case ignored) and the tag
  // has no parameters, the replacement becomes that field's display text
  // for the current row; when the tag's one parameter is ENCODE, that text
  // encoded as it names (text_encoding.h; an unknown name raises
  // EConvertError). Then OnHTMLTag runs. A field tag with any other
  // parameters is left to OnHTMLTag alone.
  void FireTagEvent(TTag tag, const std::string& tag_name, const TStringList& params,
                    std::string& replace_text) override;
  void Notification(TComponent* component, Operation operation) override;

 private:
  TDataSet* dataset_ = nullptr;
};

}  // namespace quill
