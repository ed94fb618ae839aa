// TDataSet: the generic dataset layer.
//
// A dataset shows the rows of some cursor through a small window of record
// buffers, one of which is the active record; it owns the state machine
// (inactive, browse, edit, insert, ...), the begin-of-data and end-of-data
// flags, the field objects, the before/after events and the notifications to
// its data sources. It knows nothing of where rows come from: a concrete
// dataset (TMySQLDataset) supplies the cursor operations and the editing
// hooks declared protected below, and this layer turns every public
// operation into calls of them in a fixed order.
//
// The window holds BufferCount records plus one scratch buffer into which
// the cursor fetches; BufferCount is the largest count any data link asks
// for, at least 1. With the links of this system it is 1, so the active
// record is the only record of the window.
//
// Every error raised here is an EDatabaseError whose text carries the
// dataset's Name as "name: text" when the dataset has one (except the
// required-field message). Events are plain function objects; none is
// assigned by the system itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/component.h"
#include "base/date_time.h"
#include "base/errors.h"
#include "mysql_dataset/field_types.h"
#include "mysql_dataset/stream.h"

namespace quill {

class TDataSet;
class TDataSource;
class TField;

// Error texts of the layer.
inline constexpr const char* kMsgDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* kMsgDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* kMsgDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* kMsgDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* kMsgNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* kMsgFieldRequired = "Field '%s' must have a value";
inline constexpr const char* kMsgFieldNotFound = "Field '%s' not found";
inline constexpr const char* kMsgRecordNotFound = "Record not found";

// `pattern` with its one "%s" replaced by `arg`.
std::string FormatMessage(std::string_view pattern, std::string_view arg);

// One record of the window. Concrete datasets derive their own layout from
// it; the layer only creates, moves and destroys buffers.
class TRecordBuffer {
 public:
  virtual ~TRecordBuffer() = default;
};

// A field value in the representation of its field type, as the dataset's
// ReadFieldValue fills it and WriteFieldValue takes it:
//   ftString, ftVariant, ftUnknown            Text
//   ftSmallint, ftInteger, ftWord, ftAutoInc  Integer (32-bit range)
//   ftLargeint                                Integer
//   ftFloat                                   Float, and Text when the
//                                             value is an exact decimal text
//   ftDate, ftTime, ftDateTime                DateTime (date: no fraction,
//                                             time: day 0 and a fraction)
// Blob and memo fields move their bytes through streams instead.
struct TFieldValue {
  std::string Text;
  int64_t Integer = 0;
  double Float = 0;
  TDateTime DateTime = 0;
};

// The description of one column of the cursor, from which a default field
// is made.
class TFieldDef {
 public:
  std::string Name;
  int FieldNo = 0;  // 1-based column number
  TFieldType DataType = ftUnknown;
  int32_t Size = 0;
  bool Required = false;
  uint32_t Attributes = 0;         // bits of TFieldAttribute
  bool InternalCalcField = false;  // computed by the server: no source table

  bool Has(TFieldAttribute a) const { return (Attributes >> a) & 1u; }
  void Set(TFieldAttribute a) { Attributes |= 1u << a; }
};

class TFieldDefs {
 public:
  int Count() const { return static_cast<int>(defs_.size()); }
  // REQUIRES: 0 <= index < Count().
  TFieldDef& operator[](int index) { return *defs_.at(static_cast<size_t>(index)); }
  const TFieldDef& operator[](int index) const { return *defs_.at(static_cast<size_t>(index)); }
  // Appends a definition and returns it.
  TFieldDef& Add(std::string name, TFieldType type, int32_t size, bool required);
  void Clear() { defs_.clear(); }
  // Position of the first definition named `name` (ASCII case ignored), or -1.
  int IndexOf(std::string_view name) const;

 private:
  std::vector<std::unique_ptr<TFieldDef>> defs_;
};

// Makes a field object for a field type (FieldClassFor).
using TFieldClass = std::unique_ptr<TField> (*)(TDataSet& dataset);

class TDataSet : public TComponent {
  QUILL_DECLARE_CLASS()

 public:
  using TDataSetNotifyEvent = std::function<void(TDataSet& dataset)>;
  using TDataSetErrorEvent =
      std::function<void(TDataSet& dataset, EDatabaseError& error, TDataAction& action)>;

  explicit TDataSet(TComponent* owner = nullptr);
  // REQUIRES: a derived class whose cursor may be open calls
  // CloseForDestruction() in its own destructor.
  ~TDataSet() override;

  // --- State ---------------------------------------------------------------

  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != dsInactive; }
  // Opens (true) or closes (false); the current value does nothing.
  void SetActive(bool value);
  // Opens an inactive dataset: BeforeOpen, OpenResult, the window filled from
  // the first row (Bof true), state browse, AfterOpen. When the cursor
  // fails, the dataset is left inactive (everything it opened is closed
  // again) and the cursor's failure propagates.
  void OpenDataset();
  // Closes an active dataset: BeforeClose, state inactive, the cursor and the
  // window released, default fields destroyed, AfterClose.
  void CloseDataset();
  // A field value of the active record was written since the last state
  // change.
  bool Modified() const { return modified_; }
  // True when the window holds no record.
  bool IsEmpty() const { return active_index_ >= window_count_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }

  // Whether the dataset may be edited (inserting, editing and deleting check
  // it). The layer itself has no reason to refuse.
  virtual bool CanModify() const { return true; }

  // --- Navigation ------------------------------------------------------------
  // Each first passes EnsureBrowse, so a record being edited is posted (with
  // changes) or cancelled (without) before the move.

  // The first row becomes active and Bof is true (Eof too when empty).
  void MoveFirst();
  // The last row becomes active and Eof is true (Bof too when empty).
  void MoveLast();
  // Moves by `n` rows and returns the number actually moved (negative when
  // backward). Moving past the end sets Eof and leaves the last row active;
  // moving before the start sets Bof and leaves the first row active. With n
  // 0, or toward an end whose flag is already set, nothing moves and
  // AfterScroll is not raised.
  int64_t MoveRows(int64_t n);
  void MoveNext() { MoveRows(1); }
  void MovePrior() { MoveRows(-1); }

  // Fails with the closed-dataset message when inactive; lets consumers flush
  // their edits; posts a record being edited or inserted when Modified, else
  // cancels it; posts in set-key state.
  void EnsureBrowse();

  // The bookmark of the active record, or none when the dataset is inactive
  // or empty.
  std::optional<int64_t> GetBookmark();
  // Makes the row of `bookmark` the active record (BeforeScroll/AfterScroll
  // around it). Fails with "Record not found" when the cursor has no such
  // row; the window is then reloaded around the cursor.
  void GotoBookmark(int64_t bookmark);
  // True when `bookmark` names a row of the cursor.
  bool BookmarkValid(std::optional<int64_t> bookmark) { return IsValidBookmark(bookmark); }
  // -1, 0 or 1; an invalid bookmark orders first.
  int CompareBookmarks(std::optional<int64_t> a, std::optional<int64_t> b) {
    return OrderBookmarks(a, b);
  }

  // --- Editing ------------------------------------------------------------

  // Starts editing the active record (nothing when already editing or
  // inserting; an insert when the dataset is empty). Fails with
  // "Cannot modify a read-only dataset" when CanModify() is false.
  void BeginEdit();
  // Starts a new record before the active one (BeforeInsert, BeforeScroll,
  // OnNewRecord, AfterInsert, AfterScroll).
  void BeginInsert();
  // Starts a new record after the last row.
  void BeginAppend();
  // Writes the record being edited or inserted back through the post hook,
  // after checking required fields ("Field '%s' must have a value", never
  // prefixed with the dataset's name). Fails with "Dataset not in edit or
  // insert mode" in any other state. A failed post leaves the state as it
  // was, so the caller may correct the record and post again or cancel.
  void PostRecord();
  // Abandons the edit or insert in progress; nothing in other states.
  void CancelRecord();
  // Deletes the active row (cancels an insert instead). Fails on a closed
  // dataset, on an empty one ("Cannot perform this operation on an empty
  // dataset") and when CanModify() is false.
  void DeleteRecord();
  // Re-reads the cursor's rows keeping the position (Requery), then reloads
  // the window; AfterRefresh is raised even when the requery fails.
  void RefreshRows();
  // Asks the consumers to write their pending edits into the fields.
  // REQUIRES: the state is edit, insert or set-key, else fails with
  // "Dataset not in edit or insert mode".
  void UpdateRecord();

  // --- Fields -------------------------------------------------------------

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // REQUIRES: 0 <= index < FieldCount(); else EListError.
  TField& Field(int index) const {
    if (static_cast<unsigned>(index) >= fields_.size()) FieldIndexError(index);
    return *fields_[static_cast<size_t>(index)];
  }
  // The first field whose FieldName equals `name` ignoring case, or null.
  TField* LookupField(std::string_view name) const;
  // As LookupField, but fails with "Field '%s' not found".
  TField& RequireField(std::string_view name) const;
  // Position of `field` in the field list, or -1.
  int IndexOfField(const TField* field) const;
  // Moves `field` to position `index` (clamped into the list).
  void MoveField(TField* field, int index);
  TFieldDefs& FieldDefs() { return field_defs_; }
  const TFieldDefs& FieldDefs() const { return field_defs_; }
  // True while the fields are the ones made from the definitions at open.
  bool DefaultFields() const { return default_fields_; }

  // --- Window -------------------------------------------------------------

  int BufferCount() const { return buffer_count_; }
  int WindowCount() const { return window_count_; }
  int ActiveIndex() const { return active_index_; }
  int CursorIndex() const { return cursor_index_; }
  // The buffer of the active record, or null when the window is empty.
  TRecordBuffer* ActiveBuffer() const;
  // The buffer that field access reads and writes in the current state: in
  // browse state the active buffer (null when empty), in edit, insert and
  // filtering states the active buffer, in any other state null.
  virtual TRecordBuffer* ActiveRecordBuffer() const { return StateRecordBuffer(); }

  // --- Consumers ------------------------------------------------------------

  // Sends `event` to every data source (FieldChange also marks the record
  // modified and raises the field's OnChange). While controls are disabled
  // only state changes go out; the rest are summed up as one DataSetChange
  // (or LayoutChange) when they are enabled again.
  void DataEvent(TDataEvent event, TField* field = nullptr, int64_t info = 0);
  void DisableControls() { ++disable_count_; }
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }
  int DataSourceCount() const { return static_cast<int>(data_sources_.size()); }
  TDataSource* DataSource(int index) const { return data_sources_.at(static_cast<size_t>(index)); }
  // Recomputes BufferCount from the links; a changed count while active
  // reloads the window around the active row.
  void UpdateBufferCount();

  // --- Field values (called by the fields) --------------------------------

  // True when `field` has a value in the active record; with `dest`, the
  // value is stored there in the representation of its type.
  virtual bool ReadFieldValue(const TField& field, TFieldValue* dest) = 0;
  // As ReadFieldValue for a field whose value is text (ftString, ftVariant,
  // ftUnknown): the text goes to *out, whose capacity is kept; *out is
  // emptied when the answer is false.
  virtual bool ReadFieldText(const TField& field, std::string* out);
  // What a field's text can be made from without reading its value, for a
  // dataset that keeps values as text: Text with the kept text in *text
  // (valid until the active record changes; not trimmed or checked) when
  // ReadFieldValue reads the value from exactly that text with the readers
  // of its type (for ftFloat: only an exact decimal's text); Null when the
  // field has no value; Unknown (the default) when there is no such text,
  // and the field reads its value instead.
  enum class TKeptText : uint8_t { Unknown, Null, Text };
  virtual TKeptText PeekFieldText(const TField& field, std::string_view* text);
  // For a text field: Text with its text in *text when ReadFieldText would
  // give exactly that, Null when it would give none, Unknown (the default)
  // when the text has to be read.
  virtual TKeptText PeekStringText(const TField& field, std::string_view* text);
  // Stores a value (null: NULL) into the active record.
  virtual void WriteFieldValue(TField& field, const TFieldValue* source) = 0;
  // A stream over the blob of `field` in the active record.
  enum class TBlobStreamMode : uint8_t { Read, Write, ReadWrite };
  virtual std::unique_ptr<TStream> OpenBlobStream(TField& field, TBlobStreamMode mode) = 0;
  // Called by a field that was written: marks the record modified, raises
  // the field's OnChange and tells the consumers (not in the calculating,
  // filtering and new-value states).
  void FieldChanged(TField& field);

  // --- Events ---------------------------------------------------------------

  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh, OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

  // Raises EDatabaseError with `message` prefixed by the dataset's name.
  [[noreturn]] void Fail(const std::string& message) const;

 protected:
  // The rule of ActiveRecordBuffer, inline for the field-reading paths.
  TRecordBuffer* StateRecordBuffer() const {
    switch (state_) {
      case dsBrowse:
      case dsEdit:
      case dsInsert:
      case dsFilter:
        // No calculated fields are built, so the calculating state has no
        // buffer of its own.
        return active_index_ < window_count_ &&
                       static_cast<size_t>(active_index_) < buffers_.size()
                   ? buffers_[static_cast<size_t>(active_index_)].get()
                   : nullptr;
      default:
        return nullptr;
    }
  }

  // --- Cursor operations, supplied by the concrete dataset --------------------

  // Opens the cursor, builds FieldDefs, creates the default fields when
  // DefaultFields() (CreateFields) and binds them.
  virtual void OpenResult() = 0;
  // Closes the cursor and destroys the default fields (DestroyFields).
  virtual void CloseResult() = 0;
  virtual bool IsResultOpen() const = 0;
  virtual std::unique_ptr<TRecordBuffer> NewRecordBuffer() = 0;
  // Initialises `buffer` for a row being inserted.
  virtual void InitNewRecord(TRecordBuffer& buffer) = 0;
  // Fetches the cursor's current, next or prior row into `buffer`, moving
  // the cursor; with `check`, a current row that does not exist raises.
  virtual TGetResult FillRecord(TRecordBuffer& buffer, TGetMode mode, bool check) = 0;
  virtual void MoveBeforeFirst() = 0;
  virtual void MoveAfterLast() = 0;
  virtual void MoveToBookmark(int64_t bookmark) = 0;
  // Positions the cursor on the row `buffer` was fetched from.
  virtual void SetToRecord(const TRecordBuffer& buffer) = 0;
  virtual int64_t ReadBookmark(const TRecordBuffer& buffer) const = 0;
  virtual void WriteBookmark(TRecordBuffer& buffer, int64_t bookmark) = 0;
  virtual TBookmarkFlag ReadBookmarkFlag(const TRecordBuffer& buffer) const = 0;
  virtual void WriteBookmarkFlag(TRecordBuffer& buffer, TBookmarkFlag flag) = 0;
  virtual bool IsValidBookmark(std::optional<int64_t> bookmark) = 0;
  virtual int OrderBookmarks(std::optional<int64_t> a, std::optional<int64_t> b) = 0;
  // Re-runs the cursor's query keeping its position (RefreshRows).
  virtual void Requery() = 0;
  // The field maker for a type, or null when the type has no field class.
  virtual TFieldClass FieldClassFor(TFieldType type) const;

  // --- Editing hooks ----------------------------------------------------------
  // The places where a concrete dataset writes rows back. The layer calls
  // each at its fixed point of the operation; the post, edit-start and
  // delete hooks run under the error events (retried on TDataAction::Retry).

  virtual void HookEditStart() {}
  virtual void HookInsertStart() {}
  virtual void HookCancel() {}
  virtual void HookPost() {}
  virtual void HookDelete() {}

  // --- Helpers for concrete datasets ------------------------------------------

  // Makes one field per definition (FieldClassFor); a definition whose type
  // has no field class fails with "Field '%s' is of an unknown type".
  void CreateFields();
  // Destroys every field.
  void DestroyFields();
  // Positions the cursor on the active buffer (UpdateCursorPos).
  void UpdateCursorPos();
  // Refills the window around the cursor's row (the cursor's row, else the
  // next, else the prior); an empty cursor empties the window. With `exact`,
  // a missing current row fails with "Record not found".
  void ReloadWindow(bool exact = false);
  // Empties the window: no records, Bof and Eof true.
  void ClearWindow();
  // Sets the state; a change clears Modified and notifies the consumers.
  void SetState(TDataSetState value);
  void SetModified(bool value) { modified_ = value; }
  // True while the dataset is being destroyed (no close events then).
  bool Destroying() const { return destroying_; }
  // Closes the dataset without close events and without letting a failure
  // escape. Derived destructors call it first.
  void CloseForDestruction() noexcept;
  void Notification(TComponent* component, Operation operation) override;

 private:
  friend class TDataSource;
  friend class TField;

  [[noreturn]] static void FieldIndexError(int index);
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  int LinkBufferCount() const;
  void SetBufferCount(int count);
  void ReleaseBuffers();
  void ActivateBuffers();
  bool FetchNext();
  bool FetchPrior();
  int FetchNextRecords();
  int FetchPriorRecords();
  void SetCursorIndex(int index);
  void MoveBuffer(int from, int to);
  void BeginInsertAppend();
  void EndInsertAppend();
  void CheckActive() const;
  void CheckCanModify() const;
  void CheckRequiredFields();
  // Runs `hook` with the cursor on the active buffer, under `error_event`.
  void RunUnderErrorEvent(void (TDataSet::*hook)(), TDataSetErrorEvent& error_event);
  void CloseSteps();

  TDataSetState state_ = dsInactive;
  bool modified_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool default_fields_ = false;
  bool open_complete_ = false;
  bool destroying_ = false;
  int buffer_count_ = 0;
  int window_count_ = 0;
  int active_index_ = 0;
  int cursor_index_ = -1;
  int disable_count_ = 0;
  bool pending_layout_change_ = false;
  // buffer_count_ + 1 buffers while open; the one at window_count_ is where
  // the next fetch lands.
  std::vector<std::unique_ptr<TRecordBuffer>> buffers_;
  std::vector<std::unique_ptr<TField>> fields_;
  TFieldDefs field_defs_;
  std::vector<TDataSource*> data_sources_;
};

}  // namespace quill
