// The script object's members: connection, dataset registry and links,
// rendering through the page producers, statements, date formatting and rows
// as data (Execute is in quill_actions.cpp, transactions in
// quill_transactions.cpp). Each COM member converts its arguments, runs its
// body under the failure guard and converts the result back.
#include "script_object/quill.h"

#include <sys/mman.h>

#include <cassert>
#include <cstdint>
#include <new>

#include "activex_shell/activex_shell.h"
#include "activex_shell/variant_convert.h"
#include "base/format_date_time.h"
#include "base/shared_text_cache.h"
#include "base/utf8.h"
#include "mysql_dataset/data_source.h"
#include "mysql_dataset/fields.h"
#include "mysql_dataset/mysql_dataset.h"
#include "mysql_server/mysql_server.h"
#include "platform/olert/automation.h"
#include "script_object/error_guard.h"
#include "script_object/row_export.h"
#include "sql_parser/basic_parser.h"
#include "sql_parser/qz_str_utils.h"
#include "sql_parser/sql_placeholders.h"

namespace quill {

namespace {

std::string Text(BSTR value) { return BstrToString(value); }

// A large result buffer is fresh memory written once from front to back:
// page by page that is a fault every 4 KiB, which costs more than the
// writing. Asking for huge pages on its whole 2 MiB blocks makes it one
// fault per block where the system allows them (a hint; nothing fails
// without them).
void AdviseHugePages(const void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  if (bytes < 2 * kHugePage) return;
  const uintptr_t start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (start + bytes) & ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

// Hands a text result out as a BSTR, converted straight into it: a page
// may be megabytes, and a second full copy of it would cost as much as
// rendering a good part of it. Counting the units first sizes it exactly,
// so a page with one non-ASCII character is not copied again either.
void SetText(BSTR* out, const std::string& text) {
  const size_t units = Utf16Length(text);
  if (units > UINT32_MAX / 2) throw std::bad_alloc();
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (b == nullptr) throw std::bad_alloc();
  AdviseHugePages(b, units * sizeof(OLECHAR));
  Utf8ToUtf16(text, b);
  *out = b;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// Puts `value` into a member's VARIANT result, which may hold an earlier
// value of the caller's.
void SetResult(VARIANT* result, VARIANT value) {
  VariantClear(result);
  *result = value;
}

// Rough number of rows a dataset will still render, for sizing the output.
int64_t RowsLeft(TDataSet& dataset) {
  if (auto* mysql = dynamic_cast<TMySQLDataset*>(&dataset)) {
    const int64_t index = mysql->RowIndex();
    if (index >= 0) return mysql->RowCount() - index;
  }
  return 0;
}

// The table of a plain table select ("select ... from t [where|order|
// limit|...]"), or "" for any other statement: joins, several tables,
// names qualified by a database, subqueries in the from clause, other
// statements. A dataset over such a
// query writes its rows back to that table.
std::string PlainSelectTable(std::string_view sql) {
  TBasicParser parser(sql);
  ConfigureForSplit(parser);
  auto next = [&parser]() -> const TTokenProps& {
    for (;;) {
      const TTokenProps& t = parser.NextToken(true);
      if (t.Kind != ptLineComment && t.Kind != ptBlockComment) return t;
    }
  };
  const TTokenProps* t = &next();
  if (t->Kind != ptIdentifier || !SameText(t->Text, "select")) return "";
  int depth = 0;
  for (t = &next(); t->Kind != ptEnd; t = &next()) {
    if (t->Kind == '(') ++depth;
    if (t->Kind == ')') --depth;
    if (depth == 0 && t->Kind == ptIdentifier && SameText(t->Text, "from")) break;
  }
  if (t->Kind == ptEnd) return "";
  t = &next();
  if (t->Kind != ptIdentifier) return "";
  std::string table = t->Text;
  t = &next();
  if (t->Kind == ptEnd || t->Kind == ptSeparator) return table;
  if (t->Kind != ptIdentifier) return "";
  const std::string word = UpperCase(t->Text);
  const bool clause = word == "WHERE" || word == "ORDER" || word == "LIMIT" || word == "GROUP" ||
                      word == "HAVING" || word == "FOR" || word == "LOCK";
  return clause ? table : "";
}

}  // namespace

TAutoObject* NewQuillObject() { return new TQuill; }

TQuill::TQuill() = default;

TQuill::~TQuill() { ReleaseAll(); }

void TQuill::Initialize() {
  TASPObject::Initialize();
  server_ = std::make_unique<TMySQLServer>();
  server_->SetLoginPrompt(false);
  // However the connection goes down (Connect, a property set through its
  // shell, the object dying), an open transaction is rolled back first.
  server_->BeforeDisconnect = [this](TMySQLServer&) { AbandonTransaction(); };
}

// --- Registry ------------------------------------------------------------------------

int TQuill::FindDataset(std::string_view name) const {
  for (size_t i = 0; i < datasets_.size(); ++i) {
    if (SameText(datasets_[i].first, name)) return static_cast<int>(i);
  }
  return -1;
}

TMySQLDataset* TQuill::CreateDataset(const std::string& name, const std::string& table) {
  assert(FindDataset(name) < 0);
  auto dataset = std::make_unique<TMySQLDataset>();
  TMySQLDataset* raw = dataset.get();
  datasets_.emplace_back(name, std::move(dataset));
  raw->SetServer(server_.get());
  if (!table.empty()) raw->SetTableName(table);
  return raw;
}

void TQuill::ReleaseAll() noexcept {
  // Every link goes first, so that no detail follows a master that is
  // being closed and freed under it.
  for (auto& entry : datasets_) {
    if (!entry.second) continue;
    try {
      DoUnLink(entry.first);
    } catch (...) {
      // Keep going: every dataset must be closed and freed.
    }
  }
  for (auto& entry : datasets_) {
    if (!entry.second) continue;
    try {
      entry.second->SetActive(false);
    } catch (...) {
    }
    entry.second.reset();
  }
  datasets_.clear();
  sources_.clear();
  if (server_) {
    try {
      server_->Disconnect();
    } catch (...) {
    }
    server_.reset();
  }
}

// --- Connection --------------------------------------------------------------------

void TQuill::DoConnect(const ConnectArgs& args) {
  server_->Disconnect();
  server_->SetHost(args.host);
  server_->SetUserName(args.user);
  server_->SetPassword(args.password);
  server_->SetCompression(args.compression);
  server_->SetPort(static_cast<uint16_t>(args.port & 0xFFFFu));
  if (!args.db.empty()) server_->SetDatabaseName(args.db);
  server_->Connect();
}

void TQuill::DoServer(const ConnectArgs& args, VARIANT* value) {
  if (!args.host.empty()) DoConnect(args);
  SetResult(value, shell_variant(server_.get()));
}

HRESULT TQuill::get_Server(BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                           VARIANT_BOOL Compression, UINT, VARIANT* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    DoServer({Text(Host), Text(Username), Text(Password), Text(DB), Port, Compression != 0},
             Value);
  });
}

HRESULT TQuill::get_Connection(BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                               VARIANT_BOOL Compression, UINT Options, VARIANT* Value) {
  return get_Server(Host, Username, Password, Port, DB, Compression, Options, Value);
}

HRESULT TQuill::Connect(BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                        VARIANT_BOOL Compression, UINT) {
  return GuardedCall([&] {
    DoConnect({Text(Host), Text(Username), Text(Password), Text(DB), Port, Compression != 0});
  });
}

// --- Datasets and links ------------------------------------------------------------

void TQuill::DoDataset(const std::string& name, const std::string& table, bool auto_open,
                       const std::string& master, const std::string& condition, VARIANT* value) {
  const int found = FindDataset(name);
  if (found >= 0) {
    TMySQLDataset* dataset = datasets_[static_cast<size_t>(found)].second.get();
    if (auto_open) dataset->SetActive(true);
    SetResult(value, shell_variant(dataset));
    return;
  }
  TMySQLDataset* dataset = CreateDataset(name, table);
  if (auto_open) dataset->SetActive(true);
  SetResult(value, shell_variant(dataset));
  if (!master.empty()) DoLink(name, master, condition);
}

HRESULT TQuill::get_Dataset(BSTR Name, BSTR Table, VARIANT_BOOL AutoOpen, BSTR Master,
                            BSTR Condition, VARIANT* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    DoDataset(Text(Name), Text(Table), AutoOpen != 0, Text(Master), Text(Condition), Value);
  });
}

HRESULT TQuill::get_Recordset(BSTR Name, BSTR Table, VARIANT_BOOL AutoOpen, BSTR Master,
                              BSTR Condition, VARIANT* Value) {
  return get_Dataset(Name, Table, AutoOpen, Master, Condition, Value);
}

void TQuill::DoLink(const std::string& detail, const std::string& master,
                    const std::string& condition) {
  const int m = FindDataset(master);
  if (m < 0) throw EDatabaseError("Master dataset " + Quoted(master) + " not found.");
  const int d = FindDataset(detail);
  if (d < 0) throw EDatabaseError("Detail dataset " + Quoted(detail) + " not found.");
  DoUnLink(detail);
  auto source = std::make_unique<TDataSource>();
  source->SetDataSet(datasets_[static_cast<size_t>(m)].second.get());
  TDataSource* raw = source.get();
  sources_.push_back(std::move(source));
  TMySQLDataset* detail_dataset = datasets_[static_cast<size_t>(d)].second.get();
  detail_dataset->SetMasterFields(condition);
  detail_dataset->SetMasterSource(raw);
}

void TQuill::DoUnLink(const std::string& detail) {
  const int d = FindDataset(detail);
  if (d < 0) throw EDatabaseError("Detail dataset " + Quoted(detail) + " not found.");
  TMySQLDataset* dataset = datasets_[static_cast<size_t>(d)].second.get();
  TDataSource* source = dataset->MasterSource();
  // The detail lets go of the source before the source goes, so that it
  // never holds a freed one.
  dataset->SetMasterSource(nullptr);
  dataset->SetMasterFields("");
  for (auto it = sources_.begin(); source != nullptr && it != sources_.end(); ++it) {
    if (it->get() != source) continue;
    std::unique_ptr<TDataSource> owned = std::move(*it);
    sources_.erase(it);
    owned->SetDataSet(nullptr);
    break;
  }
}

HRESULT TQuill::Link(BSTR Detail, BSTR Master, BSTR Condition) {
  return GuardedCall([&] { DoLink(Text(Detail), Text(Master), Text(Condition)); });
}

HRESULT TQuill::UnLink(BSTR Detail) {
  return GuardedCall([&] { DoUnLink(Text(Detail)); });
}

// --- Rendering ---------------------------------------------------------------------

std::unique_ptr<TDataSetPageProducer> TQuill::MakeProducer(const std::string& name) {
  auto producer = std::make_unique<TDataSetPageProducer>();
  // The handler belongs to this producer: it is the sender of every event.
  producer->OnHTMLTag = [this, owner = producer.get()](TPageProducer&, TTag,
                                                        const std::string& tag_name,
                                                        const TStringList& params,
                                                        std::string& replace_text) {
    HandleFieldTags(*owner, tag_name, params, replace_text);
  };
  const int found = FindDataset(name);
  if (found >= 0) producer->SetDataSet(datasets_[static_cast<size_t>(found)].second.get());
  return producer;
}

namespace {

// Templates longer than this are parsed for their one use.
constexpr size_t kMaxCachedTemplate = 4096;
constexpr size_t kMaxCachedTemplates = 64;

// A template given as text, taken apart once per process: pages render the
// same few (the default ones above all) again and again. A parsed form is
// never changed, so threads share it; one whose parse failed is not kept.
std::shared_ptr<const TParsedTemplate> ParsedText(const TCustomPageProducer& producer,
                                                  std::string_view text) {
  auto parse = [&] {
    TStringSource source(text);
    return std::make_shared<const TParsedTemplate>(producer.Parse(source));
  };
  if (text.size() > kMaxCachedTemplate) return parse();
  static auto* cache = new SharedTextCache<TParsedTemplate>(kMaxCachedTemplates);  // used from exit paths too
  // The quotes rule changes how parameters read.
  std::string key(1, producer.StripParamQuotes() ? 'q' : '-');
  key.append(text);
  std::shared_ptr<const TParsedTemplate> parsed = cache->Get(key, parse);
  return parsed->Error() ? parse() : parsed;
}

}  // namespace

void TQuill::RenderTemplate(TDataSetPageProducer& producer, bool is_file, const std::string& html,
                            std::string& out) {
  if (is_file) {
    producer.SetHTMLFile(html);
    out += producer.RenderDocument();
  } else {
    // The parsed form renders as the text would, failures included.
    producer.AppendParsed(*ParsedText(producer, html), out);
  }
}

const TQuill::FieldTagParams& TQuill::ReadFieldTagParams(const TStringList& params) {
  if (field_tag_params_.list != params.Handle()) {
    field_tag_params_.list = kNoHandle;  // stays unknown if a read fails
    field_tag_params_.prefix = params.Value("PREFIX");
    field_tag_params_.postfix = params.Value("POSTFIX");
    field_tag_params_.field_prefix = params.Value("FIELDPREFIX");
    field_tag_params_.field_postfix = params.Value("FIELDPOSTFIX");
    field_tag_params_.encoding = EncodeParam(params);
    field_tag_params_.between = field_tag_params_.field_postfix + field_tag_params_.field_prefix;
    field_tag_params_.list = params.Handle();
  }
  return field_tag_params_;
}

void TQuill::HandleFieldTags(TDataSetPageProducer& sender, const std::string& tag_name,
                             const TStringList& params, std::string& replace_text) {
  TDataSet* dataset = sender.DataSet();
  if (dataset == nullptr) return;
  const bool names = SameText(tag_name, "FIELDNAMES");
  const bool values = !names && SameText(tag_name, "FIELDVALUES");
  if (!names && !values) return;
  const FieldTagParams& p = ReadFieldTagParams(params);
  replace_text = p.prefix;
  const int count = dataset->FieldCount();
  if (names) {
    for (int i = 0; i < count; ++i) {
      TField& field = dataset->Field(i);
      replace_text += p.field_prefix;
      AppendEncoded(replace_text,
                    field.DisplayLabel().empty() ? field.FieldName() : field.DisplayLabel(),
                    p.encoding);
      replace_text += p.field_postfix;
    }
  } else if (dataset->Active() && count > 0) {
    // Every row of a table comes through here: one append between fields.
    replace_text += p.field_prefix;
    for (int i = 0; i < count; ++i) {
      if (i > 0) replace_text += p.between;
      const TField& field = dataset->Field(i);
      std::string_view text;
      if (!field.PeekDisplayText(&text)) {
        field.ReadDisplayText(&field_text_);
        text = field_text_;
      }
      AppendEncoded(replace_text, text, p.encoding);
    }
    replace_text += p.field_postfix;
  }
  replace_text += p.postfix;
}

void TQuill::ReturnBuiltText(BSTR* value, const std::function<void(std::string&)>& build) {
  if (building_text_) {
    std::string own;
    build(own);
    SetText(value, own);
    return;
  }
  // Larger strings are not kept: the memory goes back at once.
  constexpr size_t kMaxKeptText = size_t{64} << 20;
  building_text_ = true;
  try {
    built_text_.clear();
    build(built_text_);
    SetText(value, built_text_);
  } catch (...) {
    building_text_ = false;
    throw;
  }
  building_text_ = false;
  if (built_text_.capacity() > kMaxKeptText) std::string().swap(built_text_);
}

void TQuill::DoContent(const std::string& name, bool is_file, const std::string& html,
                       std::string& out) {
  std::unique_ptr<TDataSetPageProducer> producer = MakeProducer(name);
  RenderTemplate(*producer, is_file, html, out);
}

void TQuill::DoContentTable(const std::string& name, bool is_file, const std::string& head,
                            const std::string& body, const std::string& foot, std::string& out) {
  std::unique_ptr<TDataSetPageProducer> producer = MakeProducer(name);
  TDataSet* dataset = producer->DataSet();
  if (dataset != nullptr && !dataset->Active()) dataset->SetActive(true);
  if (dataset != nullptr && dataset->Active()) dataset->MoveFirst();
  RenderTemplate(*producer, is_file, head, out);
  if (dataset != nullptr && dataset->Active()) {
    // The body is the same template for every row: it is taken apart once
    // and rendered from its parsed form, with the same output and failures.
    std::shared_ptr<const TParsedTemplate> parsed;
    bool sized = false;
    while (!dataset->Eof()) {
      if (!parsed) {
        if (is_file) {
          TFileSource source(body);
          parsed = std::make_shared<const TParsedTemplate>(producer->Parse(source));
        } else {
          parsed = ParsedText(*producer, body);
        }
      }
      const size_t before = out.size();
      const int64_t rows_left = sized ? 0 : RowsLeft(*dataset);
      producer->AppendParsed(*parsed, out);
      if (!sized) {
        // One row tells how long rows are; reserve for the rest at once
        // (with some slack for longer values) instead of doubling.
        sized = true;
        const size_t row = out.size() - before;
        if (rows_left > 1) {
          const size_t per_row = row + row / 4 + 16;
          out.reserve(out.size() + per_row * static_cast<size_t>(rows_left - 1) + foot.size() +
                      64);
          AdviseHugePages(out.data(), out.capacity());
        }
      }
      dataset->MoveNext();
    }
  }
  RenderTemplate(*producer, is_file, foot, out);
}

HRESULT TQuill::get_Content(BSTR Name, VARIANT_BOOL IsFile, BSTR HTML, BSTR* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    *Value = nullptr;
    const std::string name = Text(Name), html = Text(HTML);
    ReturnBuiltText(Value, [&](std::string& out) { DoContent(name, IsFile != 0, html, out); });
  });
}

HRESULT TQuill::get_ContentTable(BSTR Name, VARIANT_BOOL IsFile, BSTR HTMLHead, BSTR HTMLBody,
                                 BSTR HTMLFoot, BSTR* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    *Value = nullptr;
    const std::string name = Text(Name), head = Text(HTMLHead), body = Text(HTMLBody),
                      foot = Text(HTMLFoot);
    ReturnBuiltText(Value, [&](std::string& out) {
      DoContentTable(name, IsFile != 0, head, body, foot, out);
    });
  });
}

// --- Statements and dates ---------------------------------------------------------

HRESULT TQuill::ExecSQL(BSTR SQL, BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                        VARIANT_BOOL Compression, UINT) {
  return GuardedCall([&] {
    const ConnectArgs args{Text(Host), Text(Username), Text(Password), Text(DB), Port,
                           Compression != 0};
    if (!args.host.empty()) DoConnect(args);
    if (server_->Connected()) server_->RunStatement(Text(SQL));
  });
}

HRESULT TQuill::get_FormatDateTime(BSTR Format, DATE DateTime, BSTR* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    *Value = nullptr;
    SetText(Value, FormatDateTime(Text(Format), DateTime));
  });
}

// --- Bound statements ----------------------------------------------------------------

std::vector<Variant> TQuill::ParamValues(const VARIANT& params_in) {
  olert::ScopedVariant params;
  if (FAILED(VariantCopyInd(params.get(), &params_in))) throw EVariantError("Invalid Params value");
  if (params.vt() == VT_EMPTY ||
      (params.vt() == VT_ERROR && params->scode == DISP_E_PARAMNOTFOUND)) {
    return {};
  }
  Variant value = VariantToValue(*params);
  // A byte array is one value, not a list of numbers.
  if (!value.IsArray() || params.vt() == (VT_ARRAY | VT_UI1)) return {std::move(value)};
  return std::move(value.RawArray().Items);
}

std::string TQuill::Bind(const std::string& sql, const VARIANT& params) {
  const std::vector<Variant> values = ParamValues(params);
  EnsureConnected();  // the escaping follows the connection's character set
  return BindPlaceholders(sql, values,
                          [this](std::string_view text) { return server_->EscapeString(text); });
}

HRESULT TQuill::get_Query(BSTR Name, BSTR SQL, VARIANT Params, VARIANT* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    const std::string name = Text(Name);
    const std::string sql = Bind(Text(SQL), Params);
    const int found = FindDataset(name);
    TMySQLDataset* dataset =
        found >= 0 ? datasets_[static_cast<size_t>(found)].second.get() : CreateDataset(name, "");
    // The same text again still reads the rows anew.
    dataset->SetActive(false);
    // Over a plain table select, edits go back to that table; other
    // queries keep the table the dataset was given, if any.
    std::string table = PlainSelectTable(sql);
    std::erase(table, '`');  // the dataset quotes the name itself
    if (!table.empty()) dataset->SetTableName(table);
    TStringList lines;
    lines.SetText(sql);
    dataset->SetSQL(lines);
    dataset->SetActive(true);
    SetResult(Value, shell_variant(dataset));
  });
}

HRESULT TQuill::Exec(BSTR SQL, VARIANT Params, VARIANT* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    const std::string sql = Bind(Text(SQL), Params);
    server_->RunStatement(sql);
    const uint64_t affected = ClientAffectedRows(server_->Handle());
    const int64_t count = affected == UINT64_MAX ? -1 : static_cast<int64_t>(affected);
    VARIANT affected_rows;
    ValueToVariant(Variant(count), &affected_rows);
    SetResult(Value, affected_rows);
  });
}

// --- Rows as data ------------------------------------------------------------------

TMySQLDataset& TQuill::NamedDataset(const std::string& name) {
  const int found = FindDataset(name);
  if (found < 0) throw EDatabaseError("Dataset " + Quoted(name) + " not found.");
  TMySQLDataset& dataset = *datasets_[static_cast<size_t>(found)].second;
  if (!dataset.Active()) dataset.SetActive(true);
  return dataset;
}

HRESULT TQuill::get_GetRows(BSTR Name, LONG Rows, BSTR Fields, VARIANT* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    TMySQLDataset& dataset = NamedDataset(Text(Name));
    const std::string names = Text(Fields);
    std::vector<TField*> fields;
    if (names.empty()) {
      for (int i = 0; i < dataset.FieldCount(); ++i) fields.push_back(&dataset.Field(i));
    } else {
      for (uint8_t k = 1; k != 0; ++k) {
        const std::string word = ExtractWord(k, names, ";");
        if (word.empty()) break;
        if (!Trim(word).empty()) fields.push_back(&dataset.RequireField(Trim(word)));
      }
    }
    olert::ScopedVariant rows;
    ReadRowsArray(dataset, fields, Rows, rows.get());
    SetResult(Value, rows.Detach());
  });
}

HRESULT TQuill::get_ContentJSON(BSTR Name, BSTR* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    *Value = nullptr;
    const TMySQLDataset& dataset = NamedDataset(Text(Name));
    ReturnBuiltText(Value, [&](std::string& out) { RowsAsJson(dataset, out); });
  });
}

}  // namespace quill
