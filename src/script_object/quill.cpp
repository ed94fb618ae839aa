// The script object's members: connection, dataset registry and links,
// rendering through the page producers, actions on datasets and date
// formatting. Each COM member converts its arguments, runs its body under
// the failure guard and converts the result back.
#include "script_object/quill.h"

#include <sys/mman.h>

#include <cassert>
#include <cstdint>
#include <new>

#include "activex_shell/activex_shell.h"
#include "activex_shell/variant_convert.h"
#include "base/format_date_time.h"
#include "base/utf8.h"
#include "mysql_dataset/data_source.h"
#include "mysql_dataset/fields.h"
#include "mysql_dataset/mysql_dataset.h"
#include "mysql_server/mysql_server.h"
#include "script_object/error_guard.h"
#include "script_object/form_reader.h"
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

// Holds the element count of the first dimension of an array in Values.
struct ValueArray {
  SAFEARRAY* array = nullptr;
  VARTYPE element_type = VT_EMPTY;
};

ValueArray ArrayOf(const VARIANT& values) {
  ValueArray a;
  if ((values.vt & VT_ARRAY) != 0 && (values.vt & VT_BYREF) == 0 && values.parray != nullptr) {
    a.array = values.parray;
    a.element_type = values.vt & VT_TYPEMASK;
  }
  return a;
}

// Element k - 1 of the first dimension, or nothing when k lies beyond its
// upper bound. Raises the variant-array error for an element that cannot be
// read by one index.
bool ArrayElement(const ValueArray& a, int k, Variant* out) {
  LONG upper = 0;
  if (FAILED(SafeArrayGetUBound(a.array, 1, &upper))) {
    throw EVariantError("Variant or safe array index out of bounds");
  }
  if (static_cast<int64_t>(k) > static_cast<int64_t>(upper) + 1) return false;
  if (SafeArrayGetDim(a.array) != 1) {
    throw EVariantError("Variant or safe array index out of bounds");
  }
  LONG index = k - 1;
  VARIANT element;
  VariantInit(&element);
  HRESULT hr;
  if (a.element_type == VT_VARIANT) {
    hr = SafeArrayGetElement(a.array, &index, &element);
  } else if (a.element_type == VT_DECIMAL) {
    // A DECIMAL fills the whole VARIANT but its type word.
    hr = SafeArrayGetElement(a.array, &index, &element.decVal);
    if (SUCCEEDED(hr)) element.vt = VT_DECIMAL;
  } else {
    hr = SafeArrayGetElement(a.array, &index, &element.llVal);
    if (SUCCEEDED(hr)) element.vt = a.element_type;
  }
  if (FAILED(hr)) throw EVariantError("Variant or safe array index out of bounds");
  try {
    *out = VariantToValue(element);
  } catch (...) {
    VariantClear(&element);
    throw;
  }
  VariantClear(&element);
  return true;
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
  VariantClear(value);
  *value = shell_variant(server_.get());
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
    VariantClear(value);
    *value = shell_variant(dataset);
    return;
  }
  TMySQLDataset* dataset = CreateDataset(name, table);
  if (auto_open) dataset->SetActive(true);
  VariantClear(value);
  *value = shell_variant(dataset);
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
  producer->OnHTMLTag = [this](TPageProducer& sender, TTag tag, const std::string& tag_name,
                               const TStringList& params, std::string& replace_text) {
    HandleFieldTags(sender, tag, tag_name, params, replace_text);
  };
  const int found = FindDataset(name);
  if (found >= 0) producer->SetDataSet(datasets_[static_cast<size_t>(found)].second.get());
  return producer;
}

void TQuill::RenderTemplate(TDataSetPageProducer& producer, bool is_file, const std::string& html,
                            std::string& out) {
  if (is_file) {
    producer.SetHTMLFile(html);
    out += producer.RenderDocument();
  } else {
    producer.RenderTextTo(html, out);
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
    field_tag_params_.list = params.Handle();
  }
  return field_tag_params_;
}

void TQuill::HandleFieldTags(TPageProducer& sender, TTag, const std::string& tag_name,
                             const TStringList& params, std::string& replace_text) {
  auto* producer = dynamic_cast<TDataSetPageProducer*>(&sender);
  TDataSet* dataset = producer != nullptr ? producer->DataSet() : nullptr;
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
  } else if (dataset->Active()) {
    for (int i = 0; i < count; ++i) {
      replace_text += p.field_prefix;
      AppendEncoded(replace_text, dataset->Field(i).DisplayText(), p.encoding);
      replace_text += p.field_postfix;
    }
  }
  replace_text += p.postfix;
}

std::string TQuill::DoContent(const std::string& name, bool is_file, const std::string& html) {
  std::unique_ptr<TDataSetPageProducer> producer = MakeProducer(name);
  std::string out;
  RenderTemplate(*producer, is_file, html, out);
  return out;
}

std::string TQuill::DoContentTable(const std::string& name, bool is_file, const std::string& head,
                                   const std::string& body, const std::string& foot) {
  std::unique_ptr<TDataSetPageProducer> producer = MakeProducer(name);
  TDataSet* dataset = producer->DataSet();
  if (dataset != nullptr && !dataset->Active()) dataset->SetActive(true);
  if (dataset != nullptr && dataset->Active()) dataset->MoveFirst();
  std::string out;
  RenderTemplate(*producer, is_file, head, out);
  if (dataset != nullptr && dataset->Active()) {
    // The body is the same template for every row: it is taken apart once
    // and rendered from its parsed form, with the same output and failures.
    std::unique_ptr<TParsedTemplate> parsed;
    bool sized = false;
    while (!dataset->Eof()) {
      if (!parsed) {
        if (is_file) {
          TFileSource source(body);
          parsed = std::make_unique<TParsedTemplate>(producer->Parse(source));
        } else {
          TStringSource source(body);
          parsed = std::make_unique<TParsedTemplate>(producer->Parse(source));
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
  return out;
}

HRESULT TQuill::get_Content(BSTR Name, VARIANT_BOOL IsFile, BSTR HTML, BSTR* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    *Value = nullptr;
    SetText(Value, DoContent(Text(Name), IsFile != 0, Text(HTML)));
  });
}

HRESULT TQuill::get_ContentTable(BSTR Name, VARIANT_BOOL IsFile, BSTR HTMLHead, BSTR HTMLBody,
                                 BSTR HTMLFoot, BSTR* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    *Value = nullptr;
    SetText(Value, DoContentTable(Text(Name), IsFile != 0, Text(HTMLHead), Text(HTMLBody),
                                  Text(HTMLFoot)));
  });
}

// --- Actions --------------------------------------------------------------------------

void TQuill::AssignField(TMySQLDataset& dataset, const std::string& name, int k,
                         const VARIANT& values, TFormReader& form) {
  TField* field = dataset.LookupField(name);
  if (field == nullptr) return;  // its position k is used up all the same
  Variant value;
  const ValueArray array = ArrayOf(values);
  if (array.array == nullptr || !ArrayElement(array, k, &value)) value = form.Item(name);
  field->SetAsVariant(value);
}

void TQuill::FieldsFromList(TMySQLDataset& dataset, const std::string& fields,
                            const VARIANT& values, TFormReader& form) {
  // Word positions are one byte wide: after 255 the position wraps to 0,
  // which names no word, so at most 255 names are used.
  for (int k = 1; k <= 255; ++k) {
    const std::string name = ExtractWord(static_cast<uint8_t>(k), fields, ";,");
    if (name.empty()) break;
    AssignField(dataset, name, k, values, form);
  }
}

void TQuill::FieldsFromForm(TMySQLDataset& dataset, const VARIANT& values, TFormReader& form) {
  const int count = form.Count();
  for (int k = 1; k <= count; ++k) AssignField(dataset, form.Key(k), k, values, form);
}

void TQuill::DoExecute(const std::string& action, const std::string& name,
                       const std::string& fields, const VARIANT& values_in) {
  int target = FindDataset(name);
  if (target < 0) {
    if (datasets_.empty()) return;
    target = 0;
  }
  TMySQLDataset& dataset = *datasets_[static_cast<size_t>(target)].second;

  // Values is taken with its references resolved, so an array passed by
  // reference counts as an array.
  VARIANT values;
  VariantInit(&values);
  if (FAILED(VariantCopyInd(&values, &values_in))) VariantInit(&values);
  struct Clear {
    VARIANT* v;
    ~Clear() { VariantClear(v); }
  } clear{&values};

  TFormReader form(ScriptingContext());
  auto assign = [&] {
    // All or nothing: a value that fails takes back the ones written before
    // it, so that a later post cannot send half of this Execute.
    const TMySQLDataset::TRecordValues before = dataset.SaveRecordValues();
    try {
      if (!fields.empty()) {
        FieldsFromList(dataset, fields, values, form);
      } else {
        FieldsFromForm(dataset, values, form);
      }
    } catch (...) {
      dataset.RestoreRecordValues(before);
      throw;
    }
  };
  const std::string verb = UpperCase(action);
  if (verb == "EDIT" || verb == "UPDATE") {
    dataset.BeginEdit();
    assign();
    dataset.PostRecord();
  } else if (verb == "INSERT" || verb == "APPEND") {
    dataset.BeginAppend();
    assign();
    dataset.PostRecord();
  } else if (verb == "FIRST") {
    dataset.MoveFirst();
  } else if (verb == "NEXT") {
    dataset.MoveNext();
  } else if (verb == "PRIOR" || verb == "PREVIOUS") {
    dataset.MovePrior();
  } else if (verb == "LAST") {
    dataset.MoveLast();
  } else if (verb == "REFRESH") {
    dataset.RefreshRows();
  } else if (verb == "DELETE") {
    dataset.DeleteRecord();
  }
}

HRESULT TQuill::Execute(BSTR Action, BSTR Name, BSTR Fields, VARIANT Values) {
  return GuardedCall([&] { DoExecute(Text(Action), Text(Name), Text(Fields), Values); });
}

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

// --- Transactions ---------------------------------------------------------------------

void TQuill::EnsureConnected() {
  if (!server_->Connected()) server_->Connect();
  if (!server_->Connected()) throw EDatabaseError("Server could not connect");
}

namespace {

// Moves `dataset` onto or off the object's connection; with `reopen`, an
// open dataset is reopened on the row it was on.
void SetSharing(TMySQLDataset& dataset, bool share, bool reopen) {
  const bool was_open = reopen && dataset.Active();
  const int64_t row = was_open ? dataset.RowIndex() : -1;
  dataset.SetShareConnection(share);
  if (!was_open) return;
  dataset.SetActive(true);
  if (row >= 0) dataset.SetRowIndex(row);
}

}  // namespace

void TQuill::DoBeginTrans() {
  if (in_transaction_) throw EDatabaseError("A transaction is already open");
  EnsureConnected();
  // A dataset on a connection of its own would write outside the
  // transaction.
  for (auto& entry : datasets_) {
    TMySQLDataset& dataset = *entry.second;
    if (dataset.ShareConnection()) continue;
    moved_datasets_.push_back(dataset.Handle());
    SetSharing(dataset, true, true);
  }
  try {
    server_->RunStatement("START TRANSACTION");
  } catch (...) {
    EndTransaction(true);
    throw;
  }
  // A silent reconnect would carry on outside the transaction; better that
  // the next statement fails.
  ClientSetReconnect(server_->Handle(), false);
  in_transaction_ = true;
}

void TQuill::EndTransaction(bool reopen) noexcept {
  in_transaction_ = false;
  if (server_ && server_->Handle() != nullptr) ClientSetReconnect(server_->Handle(), true);
  std::vector<ObjectHandle> moved;
  moved.swap(moved_datasets_);
  for (ObjectHandle handle : moved) {
    auto* dataset = dynamic_cast<TMySQLDataset*>(ResolveHandle(handle));
    if (dataset == nullptr) continue;
    try {
      SetSharing(*dataset, false, reopen);
    } catch (...) {
      // It stays closed; its next open reports what is wrong.
    }
  }
}

void TQuill::AbandonTransaction() noexcept {
  if (!in_transaction_) return;
  in_transaction_ = false;
  try {
    if (server_->Handle() != nullptr) server_->RunStatement("ROLLBACK");
  } catch (...) {
    // The server ends the transaction with the connection anyway.
  }
  EndTransaction(false);
}

void TQuill::RefreshAfterRollback() {
  std::exception_ptr first;
  for (auto& entry : datasets_) {
    TMySQLDataset& dataset = *entry.second;
    if (!dataset.Active()) continue;
    try {
      if (dataset.State() == dsEdit || dataset.State() == dsInsert) dataset.CancelRecord();
      dataset.RefreshRows();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

HRESULT TQuill::BeginTrans() {
  return GuardedCall([&] { DoBeginTrans(); });
}

// Sends `sql` (COMMIT or ROLLBACK) to end the open transaction; the
// datasets go back to their own connections whether or not the server
// took it.
void TQuill::FinishTransaction(const char* sql) {
  if (!in_transaction_) throw EDatabaseError("No transaction is open");
  in_transaction_ = false;
  struct End {
    TQuill* self;
    ~End() { self->EndTransaction(true); }
  } end{this};
  server_->RunStatement(sql);
}

HRESULT TQuill::CommitTrans() {
  return GuardedCall([&] { FinishTransaction("COMMIT"); });
}

HRESULT TQuill::RollbackTrans() {
  return GuardedCall([&] {
    FinishTransaction("ROLLBACK");
    RefreshAfterRollback();
  });
}

HRESULT TQuill::get_InTransaction(VARIANT_BOOL* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    *Value = in_transaction_ ? VARIANT_TRUE : VARIANT_FALSE;
  });
}

HRESULT TQuill::OnEndPage() {
  AbandonTransaction();
  return TASPObject::OnEndPage();
}

// --- Bound statements ----------------------------------------------------------------

std::vector<Variant> TQuill::ParamValues(const VARIANT& params_in) {
  VARIANT params;
  VariantInit(&params);
  if (FAILED(VariantCopyInd(&params, &params_in))) throw EVariantError("Invalid Params value");
  struct Clear {
    VARIANT* v;
    ~Clear() { VariantClear(v); }
  } clear{&params};
  if (params.vt == VT_EMPTY || (params.vt == VT_ERROR && params.scode == DISP_E_PARAMNOTFOUND)) {
    return {};
  }
  Variant value = VariantToValue(params);
  // A byte array is one value, not a list of numbers.
  if (!value.IsArray() || params.vt == (VT_ARRAY | VT_UI1)) return {std::move(value)};
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
    VariantClear(Value);
    *Value = shell_variant(dataset);
  });
}

HRESULT TQuill::Exec(BSTR SQL, VARIANT Params, VARIANT* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    const std::string sql = Bind(Text(SQL), Params);
    server_->RunStatement(sql);
    const uint64_t affected = ClientAffectedRows(server_->Handle());
    const int64_t count = affected == UINT64_MAX ? -1 : static_cast<int64_t>(affected);
    VariantClear(Value);
    ValueToVariant(Variant(count), Value);
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
    VARIANT rows;
    VariantInit(&rows);
    ReadRowsArray(dataset, fields, Rows, &rows);
    VariantClear(Value);
    *Value = rows;
  });
}

HRESULT TQuill::get_ContentJSON(BSTR Name, BSTR* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    *Value = nullptr;
    SetText(Value, RowsAsJson(NamedDataset(Text(Name))));
  });
}

}  // namespace quill
