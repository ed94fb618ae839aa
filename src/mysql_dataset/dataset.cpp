// The generic dataset layer: the state machine, the record window and its
// fetches, navigation, the editing transitions with their events, the error
// events' retry loop, the required-field check, the field list and the
// notifications to data sources.
//
// The window is a vector of BufferCount + 1 buffers; buffers_[window_count_]
// is always where the next fetch lands, so a fetch never needs a buffer of
// its own, and dropping a record from a full window is a rotation.
#include "mysql_dataset/dataset.h"

#include <algorithm>
#include <cassert>

#include "base/published.h"
#include "base/string_list.h"
#include "mysql_dataset/data_source.h"
#include "mysql_dataset/fields.h"

namespace quill {

namespace {

constexpr std::string_view kFieldTypeNameTable[kFieldTypeCount] = {
    "ftUnknown",  "ftString",     "ftSmallint",   "ftInteger",   "ftWord",       "ftBoolean",
    "ftFloat",    "ftCurrency",   "ftBCD",        "ftDate",      "ftTime",       "ftDateTime",
    "ftBytes",    "ftVarBytes",   "ftAutoInc",    "ftBlob",      "ftMemo",       "ftGraphic",
    "ftFmtMemo",  "ftParadoxOle", "ftDBaseOle",   "ftTypedBinary", "ftCursor",   "ftFixedChar",
    "ftWideString", "ftLargeint", "ftADT",        "ftArray",     "ftReference",  "ftDataSet",
    "ftOraBlob",  "ftOraClob",    "ftVariant",    "ftInterface", "ftIDispatch",  "ftGuid",
};
constexpr std::string_view kFieldKindNameTable[] = {"fkData", "fkCalculated", "fkLookup",
                                                    "fkInternalCalc", "fkAggregate"};
constexpr std::string_view kAlignmentNameTable[] = {"taLeftJustify", "taRightJustify", "taCenter"};
constexpr std::string_view kAutoRefreshNameTable[] = {"arNone", "arAutoInc", "arDefault"};
constexpr std::string_view kProviderFlagNameTable[] = {"pfInUpdate", "pfInWhere", "pfInKey",
                                                       "pfHidden"};

using DS = TDataSet;

const PropertyInfo kDataSetProps[] = {
    BooleanProp(
        "Active", [](const TObject& o) { return Variant(static_cast<const DS&>(o).Active()); },
        [](TObject& o, const Variant& v) { static_cast<DS&>(o).SetActive(v.AsBoolean()); },
        "False"),
    EventProp("BeforeOpen"),   EventProp("AfterOpen"),     EventProp("BeforeClose"),
    EventProp("AfterClose"),   EventProp("BeforeInsert"),  EventProp("AfterInsert"),
    EventProp("BeforeEdit"),   EventProp("AfterEdit"),     EventProp("BeforePost"),
    EventProp("AfterPost"),    EventProp("BeforeCancel"),  EventProp("AfterCancel"),
    EventProp("BeforeDelete"), EventProp("AfterDelete"),   EventProp("BeforeScroll"),
    EventProp("AfterScroll"),  EventProp("BeforeRefresh"), EventProp("AfterRefresh"),
    EventProp("OnCalcFields"), EventProp("OnDeleteError"), EventProp("OnEditError"),
    EventProp("OnNewRecord"),  EventProp("OnPostError"),
};

void Fire(const TDataSet::TDataSetNotifyEvent& event, TDataSet& dataset) {
  if (event) event(dataset);
}

}  // namespace

std::span<const std::string_view> FieldTypeNames() { return kFieldTypeNameTable; }
std::span<const std::string_view> BlobTypeNames() {
  return std::span<const std::string_view>(kFieldTypeNameTable).subspan(ftBlob,
                                                                        ftTypedBinary - ftBlob + 1);
}
std::span<const std::string_view> FieldKindNames() { return kFieldKindNameTable; }
std::span<const std::string_view> AlignmentNames() { return kAlignmentNameTable; }
std::span<const std::string_view> AutoRefreshFlagNames() { return kAutoRefreshNameTable; }
std::span<const std::string_view> ProviderFlagNames() { return kProviderFlagNameTable; }

std::string FormatMessage(std::string_view pattern, std::string_view arg) {
  std::string out(pattern);
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, arg);
  return out;
}

// --- TFieldDefs ---------------------------------------------------------------

TFieldDef& TFieldDefs::Add(std::string name, TFieldType type, int32_t size, bool required) {
  auto def = std::make_unique<TFieldDef>();
  def->Name = std::move(name);
  def->DataType = type;
  def->Size = size;
  def->Required = required;
  def->FieldNo = Count() + 1;
  defs_.push_back(std::move(def));
  return *defs_.back();
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < defs_.size(); ++i) {
    if (SameText(defs_[i]->Name, name)) return static_cast<int>(i);
  }
  return -1;
}

// --- TDataSet: construction -------------------------------------------------

const TClassInfo TDataSet::StaticClassInfo{"TDataSet", &TComponent::StaticClassInfo,
                                           kDataSetProps};

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) { ClearWindow(); }

TDataSet::~TDataSet() {
  destroying_ = true;
  // A derived dataset has closed its cursor already; what is left is the
  // layer's own part.
  state_ = dsInactive;
  buffers_.clear();
  while (!data_sources_.empty()) data_sources_.back()->SetDataSet(nullptr);
  fields_.clear();
}

void TDataSet::CloseForDestruction() noexcept {
  destroying_ = true;
  if (!Active()) return;
  try {
    CloseDataset();
  } catch (...) {
    // Destruction must go on; the cursor has released what it could.
  }
}

void TDataSet::Notification(TComponent* component, Operation operation) {
  TComponent::Notification(component, operation);
}

void TDataSet::Fail(const std::string& message) const { throw EDatabaseError(Decorate(message)); }

void TDataSet::CheckActive() const {
  if (!Active()) Fail(kMsgDataSetClosed);
}

void TDataSet::CheckCanModify() const {
  if (!CanModify()) Fail(kMsgDataSetReadOnly);
}

// --- State ------------------------------------------------------------------

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(TDataEvent::UpdateState);
}

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    OpenDataset();
  } else {
    CloseDataset();
  }
}

void TDataSet::OpenDataset() {
  if (Active()) return;
  Fire(BeforeOpen, *this);
  try {
    default_fields_ = fields_.empty();
    OpenResult();
    open_complete_ = true;
    SetBufferCount(LinkBufferCount());
    bof_ = true;
  } catch (...) {
    SetState(dsInactive);
    try {
      CloseSteps();
    } catch (...) {
      // The open's own failure is the one worth reporting.
    }
    throw;
  }
  SetState(dsBrowse);
  Fire(AfterOpen, *this);
}

void TDataSet::CloseDataset() {
  if (!Active()) return;
  if (!destroying_) Fire(BeforeClose, *this);
  SetState(dsInactive);
  CloseSteps();
  if (!destroying_) Fire(AfterClose, *this);
}

void TDataSet::CloseSteps() {
  ClearWindow();
  ReleaseBuffers();
  open_complete_ = false;
  try {
    CloseResult();
  } catch (...) {
    buffer_count_ = 0;
    default_fields_ = false;
    throw;
  }
  buffer_count_ = 0;
  default_fields_ = false;
}

// --- Window ----------------------------------------------------------------

void TDataSet::ClearWindow() {
  window_count_ = 0;
  active_index_ = 0;
  cursor_index_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ReleaseBuffers() { buffers_.clear(); }

void TDataSet::ActivateBuffers() {
  window_count_ = 1;
  active_index_ = 0;
  bof_ = false;
  eof_ = false;
}

TRecordBuffer* TDataSet::ActiveBuffer() const {
  if (active_index_ >= window_count_ || static_cast<size_t>(active_index_) >= buffers_.size()) {
    return nullptr;
  }
  return buffers_[static_cast<size_t>(active_index_)].get();
}

TDataSet::TKeptText TDataSet::PeekFieldText(const TField&, std::string_view*) {
  return TKeptText::Unknown;
}

TDataSet::TKeptText TDataSet::PeekStringText(const TField&, std::string_view*) {
  return TKeptText::Unknown;
}

bool TDataSet::ReadFieldText(const TField& field, std::string* out) {
  TFieldValue value;
  value.Text.swap(*out);
  const bool has_value = ReadFieldValue(field, &value);
  if (!has_value) value.Text.clear();
  out->swap(value.Text);
  return has_value;
}

void TDataSet::MoveBuffer(int from, int to) {
  auto first = buffers_.begin();
  if (from < to) {
    std::rotate(first + from, first + from + 1, first + to + 1);
  } else if (from > to) {
    std::rotate(first + to, first + from, first + from + 1);
  }
}

void TDataSet::SetCursorIndex(int index) {
  // Always repositioned: hooks and the cursor's own operations move the
  // cursor behind the window's back, and repositioning is cheap.
  TRecordBuffer& buffer = *buffers_[static_cast<size_t>(index)];
  switch (ReadBookmarkFlag(buffer)) {
    case TBookmarkFlag::Current:
    case TBookmarkFlag::Inserted:
      SetToRecord(buffer);
      break;
    case TBookmarkFlag::BeforeFirst:
      MoveBeforeFirst();
      break;
    case TBookmarkFlag::AfterLast:
      MoveAfterLast();
      break;
  }
  cursor_index_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (window_count_ > 0) SetCursorIndex(active_index_);
}

bool TDataSet::FetchNext() {
  if (window_count_ > 0) SetCursorIndex(window_count_ - 1);
  if (FillRecord(*buffers_[static_cast<size_t>(window_count_)], TGetMode::Next, true) ==
      TGetResult::Ok) {
    if (window_count_ == 0) {
      ActivateBuffers();
    } else if (window_count_ < buffer_count_) {
      ++window_count_;
    } else {
      MoveBuffer(0, window_count_);
    }
    cursor_index_ = window_count_ - 1;
    return true;
  }
  cursor_index_ = -1;
  return false;
}

bool TDataSet::FetchPrior() {
  if (window_count_ > 0) SetCursorIndex(0);
  if (FillRecord(*buffers_[static_cast<size_t>(window_count_)], TGetMode::Prior, true) ==
      TGetResult::Ok) {
    if (window_count_ == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(window_count_, 0);
      if (window_count_ < buffer_count_) {
        ++window_count_;
        ++active_index_;
      }
    }
    cursor_index_ = 0;
    return true;
  }
  cursor_index_ = -1;
  return false;
}

int TDataSet::FetchNextRecords() {
  int n = 0;
  while (window_count_ < buffer_count_ && FetchNext()) ++n;
  return n;
}

int TDataSet::FetchPriorRecords() {
  int n = 0;
  while (window_count_ < buffer_count_ && FetchPrior()) ++n;
  return n;
}

void TDataSet::ReloadWindow(bool exact) {
  if (buffers_.empty()) return;
  const int priors_wanted = std::min(active_index_, buffer_count_ - 1);
  TRecordBuffer& first = *buffers_[0];
  if (FillRecord(first, TGetMode::Current, false) != TGetResult::Ok) {
    if (exact) Fail(kMsgRecordNotFound);
    if (FillRecord(first, TGetMode::Next, false) != TGetResult::Ok &&
        FillRecord(first, TGetMode::Prior, false) != TGetResult::Ok) {
      ClearWindow();
      DataEvent(TDataEvent::DataSetChange);
      return;
    }
  }
  ActivateBuffers();
  cursor_index_ = 0;
  int priors = 0;
  while (priors < priors_wanted && FetchPrior()) ++priors;
  FetchNextRecords();
  DataEvent(TDataEvent::DataSetChange);
}

int TDataSet::LinkBufferCount() const {
  int count = 1;
  for (TDataSource* source : data_sources_) {
    for (TDataLink* link : source->links_) count = std::max(count, link->BufferCount());
  }
  return count;
}

void TDataSet::SetBufferCount(int count) {
  assert(count >= 1);
  if (count == buffer_count_ && buffers_.size() == static_cast<size_t>(count) + 1) return;
  const bool had_records = window_count_ > 0;
  if (had_records) UpdateCursorPos();
  buffers_.clear();
  for (int i = 0; i <= count; ++i) buffers_.push_back(NewRecordBuffer());
  buffer_count_ = count;
  if (had_records) {
    ReloadWindow();
  } else {
    ClearWindow();
    FetchNextRecords();
  }
}

void TDataSet::UpdateBufferCount() {
  // Resizing would drop a record being edited, so the window keeps its
  // size until the dataset is browsing (or opens again).
  if (state_ != dsBrowse) return;
  SetBufferCount(LinkBufferCount());
}

// --- Navigation ---------------------------------------------------------------

void TDataSet::EnsureBrowse() {
  CheckActive();
  DataEvent(TDataEvent::CheckBrowseMode);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_) {
        PostRecord();
      } else {
        CancelRecord();
      }
      break;
    case dsSetKey:
      PostRecord();
      break;
    default:
      break;
  }
}

void TDataSet::MoveFirst() {
  EnsureBrowse();
  Fire(BeforeScroll, *this);
  ClearWindow();
  try {
    MoveBeforeFirst();
    FetchNext();
    FetchNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(TDataEvent::DataSetChange);
    throw;
  }
  bof_ = true;
  DataEvent(TDataEvent::DataSetChange);
  Fire(AfterScroll, *this);
}

void TDataSet::MoveLast() {
  EnsureBrowse();
  Fire(BeforeScroll, *this);
  ClearWindow();
  try {
    MoveAfterLast();
    FetchPrior();
    FetchPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(TDataEvent::DataSetChange);
    throw;
  }
  eof_ = true;
  DataEvent(TDataEvent::DataSetChange);
  Fire(AfterScroll, *this);
}

int64_t TDataSet::MoveRows(int64_t n) {
  EnsureBrowse();
  Fire(BeforeScroll, *this);
  if (n == 0 || (n > 0 && eof_) || (n < 0 && bof_)) return 0;
  bof_ = false;
  eof_ = false;
  const int old_window_count = window_count_;
  int64_t scrolled = 0;
  int64_t moved = 0;
  auto notify = [&] {
    if (window_count_ != old_window_count) {
      DataEvent(TDataEvent::DataSetChange);
    } else {
      DataEvent(TDataEvent::DataSetScroll, nullptr, scrolled);
    }
  };
  try {
    for (; n > 0; --n) {
      if (active_index_ < window_count_ - 1) {
        ++active_index_;
      } else {
        const int dropped = window_count_ < buffer_count_ ? 0 : 1;
        if (!FetchNext()) {
          eof_ = true;
          break;
        }
        scrolled -= dropped;
      }
      ++moved;
    }
    for (; n < 0; ++n) {
      if (active_index_ > 0) {
        --active_index_;
      } else {
        const int dropped = window_count_ < buffer_count_ ? 0 : 1;
        if (!FetchPrior()) {
          bof_ = true;
          break;
        }
        scrolled += dropped;
      }
      --moved;
    }
  } catch (...) {
    notify();
    throw;
  }
  notify();
  Fire(AfterScroll, *this);
  return moved;
}

std::optional<int64_t> TDataSet::GetBookmark() {
  TRecordBuffer* buffer = Active() ? ActiveBuffer() : nullptr;
  if (buffer == nullptr || ReadBookmarkFlag(*buffer) != TBookmarkFlag::Current) {
    return std::nullopt;
  }
  return ReadBookmark(*buffer);
}

void TDataSet::GotoBookmark(int64_t bookmark) {
  EnsureBrowse();
  Fire(BeforeScroll, *this);
  if (!IsValidBookmark(bookmark)) Fail(kMsgRecordNotFound);
  MoveToBookmark(bookmark);
  active_index_ = (buffer_count_ - 1) / 2;  // centre the row in a larger window
  ReloadWindow(true);
  Fire(AfterScroll, *this);
}

// --- Editing -----------------------------------------------------------------

void TDataSet::UpdateRecord() {
  if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey) Fail(kMsgNotEditing);
  DataEvent(TDataEvent::UpdateRecord);
}

void TDataSet::RunUnderErrorEvent(void (TDataSet::*hook)(), TDataSetErrorEvent& error_event) {
  for (;;) {
    try {
      UpdateCursorPos();
      (this->*hook)();
      return;
    } catch (EDatabaseError& error) {
      if (!error_event) throw;
      TDataAction action = TDataAction::Fail;
      error_event(*this, error, action);
      if (action == TDataAction::Fail) throw;
      if (action == TDataAction::Abort) throw EAbort();
      // Retry: run the hook again.
    }
  }
}

void TDataSet::BeginEdit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (window_count_ == 0) {
    BeginInsert();
    return;
  }
  EnsureBrowse();
  CheckCanModify();
  Fire(BeforeEdit, *this);
  RunUnderErrorEvent(&TDataSet::HookEditStart, OnEditError);
  SetState(dsEdit);
  DataEvent(TDataEvent::RecordChange);
  Fire(AfterEdit, *this);
}

void TDataSet::BeginInsertAppend() {
  EnsureBrowse();
  CheckCanModify();
  Fire(BeforeInsert, *this);
  Fire(BeforeScroll, *this);
}

void TDataSet::BeginInsert() {
  BeginInsertAppend();
  std::optional<int64_t> noted;
  if (window_count_ > 0) noted = ReadBookmark(*buffers_[static_cast<size_t>(active_index_)]);
  MoveBuffer(window_count_, active_index_);
  TRecordBuffer& buffer = *buffers_[static_cast<size_t>(active_index_)];
  InitNewRecord(buffer);
  WriteBookmarkFlag(buffer, TBookmarkFlag::Inserted);
  if (noted) {
    WriteBookmark(buffer, *noted);
  } else {
    WriteBookmarkFlag(buffer, TBookmarkFlag::BeforeFirst);
  }
  if (window_count_ < buffer_count_) ++window_count_;
  HookInsertStart();
  EndInsertAppend();
}

void TDataSet::BeginAppend() {
  BeginInsertAppend();
  ClearWindow();
  TRecordBuffer& buffer = *buffers_[0];
  InitNewRecord(buffer);
  WriteBookmarkFlag(buffer, TBookmarkFlag::AfterLast);
  window_count_ = 1;
  bof_ = false;
  FetchPriorRecords();
  HookInsertStart();
  EndInsertAppend();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    Fire(OnNewRecord, *this);
  } catch (...) {
    UpdateCursorPos();
    SetState(dsBrowse);
    ReloadWindow();
    throw;
  }
  modified_ = false;
  DataEvent(TDataEvent::DataSetChange);
  Fire(AfterInsert, *this);
  Fire(AfterScroll, *this);
}

void TDataSet::CheckRequiredFields() {
  for (const auto& field : fields_) {
    if (field->Required() && !field->ReadOnly() &&
        (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) &&
        field->IsNull()) {
      // Never prefixed with the dataset's name.
      throw EDatabaseError(FormatMessage(kMsgFieldRequired, field->DisplayName()));
    }
  }
}

void TDataSet::PostRecord() {
  UpdateRecord();
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(TDataEvent::CheckBrowseMode);
  CheckRequiredFields();
  Fire(BeforePost, *this);
  RunUnderErrorEvent(&TDataSet::HookPost, OnPostError);
  SetState(dsBrowse);
  ReloadWindow();
  Fire(AfterPost, *this);
}

void TDataSet::CancelRecord() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(TDataEvent::CheckBrowseMode);
  Fire(BeforeCancel, *this);
  const bool scroll = state_ == dsInsert;
  if (scroll) Fire(BeforeScroll, *this);
  UpdateCursorPos();
  HookCancel();
  SetState(dsBrowse);
  ReloadWindow();
  Fire(AfterCancel, *this);
  if (scroll) Fire(AfterScroll, *this);
}

void TDataSet::DeleteRecord() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    CancelRecord();
    return;
  }
  if (window_count_ == 0) Fail(kMsgDataSetEmpty);
  // A read-only dataset refuses deletes as it refuses edits and inserts.
  CheckCanModify();
  DataEvent(TDataEvent::CheckBrowseMode);
  Fire(BeforeDelete, *this);
  Fire(BeforeScroll, *this);
  RunUnderErrorEvent(&TDataSet::HookDelete, OnDeleteError);
  SetState(dsBrowse);
  ReloadWindow();
  Fire(AfterDelete, *this);
  Fire(AfterScroll, *this);
}

void TDataSet::RefreshRows() {
  Fire(BeforeRefresh, *this);
  EnsureBrowse();
  UpdateCursorPos();
  try {
    Requery();
  } catch (...) {
    ReloadWindow();
    Fire(AfterRefresh, *this);
    throw;
  }
  ReloadWindow();
  Fire(AfterRefresh, *this);
}

// --- Fields ------------------------------------------------------------------

void TDataSet::FieldIndexError(int index) {
  throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

TField* TDataSet::LookupField(std::string_view name) const {
  for (const auto& field : fields_) {
    if (SameText(field->FieldName(), name)) return field.get();
  }
  return nullptr;
}

TField& TDataSet::RequireField(std::string_view name) const {
  TField* field = LookupField(name);
  if (field == nullptr) Fail(FormatMessage(kMsgFieldNotFound, name));
  return *field;
}

int TDataSet::IndexOfField(const TField* field) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].get() == field) return static_cast<int>(i);
  }
  return -1;
}

void TDataSet::MoveField(TField* field, int index) {
  const int from = IndexOfField(field);
  if (from < 0 || fields_.empty()) return;
  const int to = std::clamp(index, 0, FieldCount() - 1);
  auto first = fields_.begin();
  if (from < to) {
    std::rotate(first + from, first + from + 1, first + to + 1);
  } else if (from > to) {
    std::rotate(first + to, first + from, first + from + 1);
  }
  DataEvent(TDataEvent::LayoutChange);
}

TFieldClass TDataSet::FieldClassFor(TFieldType type) const { return DefaultFieldClass(type); }

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i) {
    const TFieldDef& def = field_defs_[i];
    const TFieldClass make = FieldClassFor(def.DataType);
    if (make == nullptr) Fail(FormatMessage(kMsgFieldUnknownType, def.Name));
    std::unique_ptr<TField> field = make(*this);
    field->SetFieldName(def.Name);
    field->SetSize(def.Size);
    field->SetRequired(def.Required);
    field->SetReadOnly(def.Has(faReadonly));
    if (def.InternalCalcField) field->SetFieldKind(fkInternalCalc);
    field->SetFieldNo(def.FieldNo);
    fields_.push_back(std::move(field));
  }
}

void TDataSet::DestroyFields() { fields_.clear(); }

// --- Consumers ------------------------------------------------------------------

void TDataSet::AddDataSource(TDataSource* source) {
  if (std::find(data_sources_.begin(), data_sources_.end(), source) == data_sources_.end()) {
    data_sources_.push_back(source);
  }
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  data_sources_.erase(std::remove(data_sources_.begin(), data_sources_.end(), source),
                      data_sources_.end());
}

void TDataSet::DataEvent(TDataEvent event, TField* field, int64_t info) {
  if (disable_count_ > 0 && event != TDataEvent::UpdateState) {
    if (event == TDataEvent::LayoutChange) pending_layout_change_ = true;
    return;
  }
  // Copy: a receiver may detach itself while it reacts.
  const std::vector<TDataSource*> sources = data_sources_;
  for (TDataSource* source : sources) source->DataEvent(event, field, info);
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0 || --disable_count_ > 0) return;
  const TDataEvent summary =
      pending_layout_change_ ? TDataEvent::LayoutChange : TDataEvent::DataSetChange;
  pending_layout_change_ = false;
  if (Active()) DataEvent(summary);
}

void TDataSet::FieldChanged(TField& field) {
  if (state_ == dsCalcFields || state_ == dsFilter || state_ == dsNewValue) return;
  if (field.FieldKind() == fkData || field.FieldKind() == fkInternalCalc) modified_ = true;
  if (field.OnChange) field.OnChange(field);
  DataEvent(TDataEvent::FieldChange, &field);
}

}  // namespace quill
