// TQuill: the script object, the one class page scripts create.
//
// A script hands it the page's scripting context, gives it connection
// parameters, asks it for named datasets (made on first request and kept
// until the object dies), links datasets as master and detail, runs actions
// on them and renders them as HTML through templates. Connection and
// datasets reach the script wrapped in late-bound shells; the objects
// themselves stay owned here, and when this object dies every shell still
// held by a script becomes a shell over nothing.
//
// IQuill2 adds transactions on the object's connection, statements with
// "?" placeholders bound to values, and rows handed out as an array or as
// JSON. A transaction left open is rolled back when the page ends, when
// Connect reconnects and when the object dies.
//
// Each IQuill member runs under the failure guard (error_guard.h): it
// answers S_OK, or E_UNEXPECTED (or the failure's own HRESULT) with the
// failure's message in the thread's error information. Nothing a member
// changed before it failed is undone. Members that use other members
// (Server -> Connect, Dataset -> Link, Link -> UnLink, ExecSQL -> Connect)
// fail with the innermost message.
//
// The object is used from the thread that created it (apartment model) and
// takes no locks.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/variant.h"
#include "script_object/auto_object.h"
#include "script_object/page_producer.h"
#include "script_object/text_encoding.h"

namespace quill {

class TDataSource;
class TMySQLDataset;
class TMySQLServer;
class TFormReader;

class TQuill final : public TASPObject {
 public:
  TQuill();

  // Makes the connection (login prompt off; its other properties keep their
  // defaults: host "localhost", user "root", port 3306) and an empty
  // dataset registry.
  void Initialize() override;

  // --- IQuill ------------------------------------------------------------------

  // When `Host` is not empty, first connects with all seven arguments (as
  // Connect). Returns a shell over the connection.
  HRESULT get_Server(BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                     VARIANT_BOOL Compression, UINT Options, VARIANT* Value) override;
  // The same as get_Server.
  HRESULT get_Connection(BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                         VARIANT_BOOL Compression, UINT Options, VARIANT* Value) override;
  // Closes the connection (its open datasets close with it), sets Host,
  // UserName, Password, Compression and Port (its low 16 bits), DatabaseName
  // when `DB` is not empty (an empty one keeps the previous name), and
  // connects. `Options` is not used.
  HRESULT Connect(BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                  VARIANT_BOOL Compression, UINT Options) override;
  // The dataset registered as `Name` (case ignored), opened when `AutoOpen`
  // (Table, Master and Condition then ignored); else a new one over
  // `Table`, registered, opened when `AutoOpen`, and linked to `Master`
  // with `Condition` when `Master` is not empty. Returns a shell over it. A
  // failing link fails the member; the new dataset stays registered.
  HRESULT get_Dataset(BSTR Name, BSTR Table, VARIANT_BOOL AutoOpen, BSTR Master, BSTR Condition,
                      VARIANT* Value) override;
  // The same as get_Dataset.
  HRESULT get_Recordset(BSTR Name, BSTR Table, VARIANT_BOOL AutoOpen, BSTR Master,
                        BSTR Condition, VARIANT* Value) override;
  // Makes `Detail` follow `Master`: any earlier link of the detail is
  // dropped, a new data source over the master becomes the detail's
  // MasterSource, `Condition` (detail-field=master-field pairs, comma
  // separated) its MasterFields. Fails with "Master dataset "m" not found."
  // or "Detail dataset "d" not found.".
  HRESULT Link(BSTR Detail, BSTR Master, BSTR Condition) override;
  // Drops the link of `Detail` (nothing to drop is fine). Fails with
  // "Detail dataset "d" not found.".
  HRESULT UnLink(BSTR Detail) override;
  // Renders `HTML` (a template, or a file name when `IsFile`) over the
  // current row of the dataset `Name`; an unknown name renders without a
  // dataset. Neither moves nor (for a text template) opens the dataset.
  HRESULT get_Content(BSTR Name, VARIANT_BOOL IsFile, BSTR HTML, BSTR* Value) override;
  // Opens the dataset `Name` when closed and moves to its first row, then
  // renders the head, the body once per row to the end (where the dataset
  // is left) and the foot. An unknown name gives head and foot only.
  HRESULT get_ContentTable(BSTR Name, VARIANT_BOOL IsFile, BSTR HTMLHead, BSTR HTMLBody,
                           BSTR HTMLFoot, BSTR* Value) override;
  // Runs `Action` (upper-cased ASCII, exact) on the dataset `Name`, or on
  // the first registered one when no dataset has that name (nothing at all
  // when none is registered): EDIT/UPDATE and INSERT/APPEND assign fields
  // and post; FIRST, NEXT, PRIOR/PREVIOUS, LAST move; REFRESH re-reads;
  // DELETE deletes; anything else does nothing. Fields come from `Fields`
  // (FieldsFromList) when it is not empty, else from the posted form
  // (FieldsFromForm).
  HRESULT Execute(BSTR Action, BSTR Name, BSTR Fields, VARIANT Values) override;
  // When `Host` is not empty, connects first (as Connect); then, when the
  // connection is open, runs `SQL` on it without reading rows.
  HRESULT ExecSQL(BSTR SQL, BSTR Host, BSTR Username, BSTR Password, ULONG Port, BSTR DB,
                  VARIANT_BOOL Compression, UINT Options) override;
  // `DateTime` formatted by `Format` (empty: "C"); never fails.
  HRESULT get_FormatDateTime(BSTR Format, DATE DateTime, BSTR* Value) override;
  // Rolls back a transaction still open, then releases the scripting
  // context.
  HRESULT OnEndPage() override;

  // --- IQuill2 -----------------------------------------------------------------

  // Connects when needed and sends "START TRANSACTION". Datasets that keep
  // a connection of their own are moved onto the object's connection until
  // the transaction ends (reopened on their row), and the connection stops
  // reconnecting by itself, which would silently end the transaction. Fails
  // with "A transaction is already open" when one is.
  HRESULT BeginTrans() override;
  // Sends "COMMIT". Fails with "No transaction is open" when none is. The
  // transaction is over afterwards even when the server refused.
  HRESULT CommitTrans() override;
  // Sends "ROLLBACK", then cancels pending edits and re-reads every open
  // dataset so that the rows agree with the server. Fails as CommitTrans.
  HRESULT RollbackTrans() override;
  HRESULT get_InTransaction(VARIANT_BOOL* Value) override;
  // Binds `Params` into `SQL` (BindPlaceholders), makes it the SQL of the
  // dataset `Name` (registered first when new) and opens it anew. Over a
  // plain table select ("select ... from t where ..."), t becomes the
  // dataset's TableName, so that its rows can be edited. Returns a shell
  // over it. A binding failure changes nothing.
  HRESULT get_Query(BSTR Name, BSTR SQL, VARIANT Params, VARIANT* Value) override;
  // Binds `Params` into `SQL` and sends it on the connection (connecting
  // when needed); the value is the affected-row count, -1 when there is
  // none.
  HRESULT Exec(BSTR SQL, VARIANT Params, VARIANT* Value) override;
  // Opens the dataset `Name` when closed and reads up to `Rows` rows (all
  // when negative) of `Fields` (names separated by ";"; empty: every field)
  // from the current row on into an array indexed (field, row). The dataset
  // is left on the row after the last one read. Fails with "Dataset "n" not
  // found." and "Field '%s' not found".
  HRESULT get_GetRows(BSTR Name, LONG Rows, BSTR Fields, VARIANT* Value) override;
  // Opens the dataset `Name` when closed and writes every cached row as a
  // JSON object (RowsAsJson); the position does not change.
  HRESULT get_ContentJSON(BSTR Name, BSTR* Value) override;
  bool InTransaction() const { return in_transaction_; }

  // --- Internal operations ---------------------------------------------------------

  // Position of the first registered dataset named `name` (case ignored), or -1.
  int FindDataset(std::string_view name) const;
  // Makes a dataset over the connection, with `table` as its TableName when
  // not empty, and registers it as `name`. REQUIRES: FindDataset(name) < 0.
  TMySQLDataset* CreateDataset(const std::string& name, const std::string& table);
  // Unlinks, closes and frees every dataset in registry order, then closes
  // and frees the connection. Never fails. Runs when the object dies.
  void ReleaseAll() noexcept;

  TMySQLServer* Connection() const { return server_.get(); }
  int DatasetCount() const { return static_cast<int>(datasets_.size()); }
  TMySQLDataset* DatasetAt(int index) const { return datasets_.at(static_cast<size_t>(index)).second.get(); }

  // The tag handler of the producers: FIELDNAMES and FIELDVALUES, each name
  // or value encoded as the tag's ENCODE parameter says (none without it;
  // an unknown encoding raises EConvertError).
  void HandleFieldTags(TDataSetPageProducer& sender, const std::string& tag_name,
                       const TStringList& params, std::string& replace_text);

 protected:
  ~TQuill() override;

 private:
  struct ConnectArgs {
    std::string host, user, password, db;
    uint32_t port = 3306;
    bool compression = false;
  };

  void DoConnect(const ConnectArgs& args);
  void DoServer(const ConnectArgs& args, VARIANT* value);
  void DoDataset(const std::string& name, const std::string& table, bool auto_open,
                 const std::string& master, const std::string& condition, VARIANT* value);
  void DoLink(const std::string& detail, const std::string& master, const std::string& condition);
  void DoUnLink(const std::string& detail);
  TMySQLDataset& NamedDataset(const std::string& name);
  void EnsureConnected();
  // `Params` as the values of the placeholders.
  static std::vector<Variant> ParamValues(const VARIANT& params);
  std::string Bind(const std::string& sql, const VARIANT& params);
  void DoBeginTrans();
  // Ends the transaction's bookkeeping: reconnection on again, datasets
  // back on connections of their own (reopened on their row with `reopen`).
  // Never fails.
  void EndTransaction(bool reopen) noexcept;
  void FinishTransaction(const char* sql);
  // Rolls back a transaction still open without re-reading datasets (the
  // page or the connection is going away). Never fails.
  void AbandonTransaction() noexcept;
  void RefreshAfterRollback();
  // Content and ContentTable, appending to `out`.
  void DoContent(const std::string& name, bool is_file, const std::string& html, std::string& out);
  void DoContentTable(const std::string& name, bool is_file, const std::string& head,
                      const std::string& body, const std::string& foot, std::string& out);
  // *value becomes the text `build` appends to an empty string. The string
  // is this object's, kept with its capacity from call to call, so that a
  // large page rendered again is written into memory already in use instead
  // of memory the system must hand out (and clear) page by page again.
  void ReturnBuiltText(BSTR* value, const std::function<void(std::string&)>& build);
  void DoExecute(const std::string& action, const std::string& name, const std::string& fields,
                 const VARIANT& values);
  void FieldsFromList(TMySQLDataset& dataset, const std::string& fields, const VARIANT& values,
                      TFormReader& form);
  void FieldsFromForm(TMySQLDataset& dataset, const VARIANT& values, TFormReader& form);
  void AssignField(TMySQLDataset& dataset, const std::string& name, int k, const VARIANT& values,
                   TFormReader& form);

  // A producer over the dataset `name` (none when unknown) with the field
  // tag handler attached.
  std::unique_ptr<TDataSetPageProducer> MakeProducer(const std::string& name);
  // Renders one template argument: a file when `is_file`, else the text.
  void RenderTemplate(TDataSetPageProducer& producer, bool is_file, const std::string& html,
                      std::string& out);

  // The parameters of a field tag, read once per parameter list. A list is
  // known by its handle, which no other list ever gets, so a parsed body's
  // list is read once for all rows.
  struct FieldTagParams {
    ObjectHandle list = kNoHandle;
    std::string prefix, postfix, field_prefix, field_postfix;
    std::string between;  // field_postfix and field_prefix: from one field to the next
    TTextEncoding encoding = TTextEncoding::None;  // of each name or value
  };
  const FieldTagParams& ReadFieldTagParams(const TStringList& params);

  std::unique_ptr<TMySQLServer> server_;
  std::vector<std::pair<std::string, std::unique_ptr<TMySQLDataset>>> datasets_;
  // Data sources of the links made by Link, freed by UnLink.
  std::vector<std::unique_ptr<TDataSource>> sources_;
  FieldTagParams field_tag_params_;
  // One display text at a time while rendering rows; its capacity is reused.
  std::string field_text_;
  // ReturnBuiltText's string, and whether a call is using it (a call made
  // while another builds, from an event, gets one of its own).
  std::string built_text_;
  bool building_text_ = false;

  bool in_transaction_ = false;
  // Datasets moved onto the object's connection for the transaction, by
  // object handle (a dataset cannot go away before the object, but a
  // handle never dangles anyway).
  std::vector<ObjectHandle> moved_datasets_;
};

// A new, uninitialised script object for the class factory.
TAutoObject* NewQuillObject();

}  // namespace quill
