// A small in-memory cursor for testing the generic dataset layer without a
// server: rows of optional texts, string and integer fields, hooks that keep
// the rows, and a log of every event and hook in the order they ran.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "mysql_dataset/data_source.h"
#include "mysql_dataset/dataset.h"
#include "mysql_dataset/fields.h"

namespace quill::test {

using Row = std::vector<std::optional<std::string>>;

struct MemRecord : TRecordBuffer {
  Row values;
  int64_t row = 0;
  TBookmarkFlag flag = TBookmarkFlag::Current;
};

class TMemoryDataSet : public TDataSet {
 public:
  struct Column {
    std::string name;
    TFieldType type = ftString;
    bool required = false;
    bool read_only = false;
  };

  // Columns id (integer) and name (string).
  TMemoryDataSet();
  explicit TMemoryDataSet(std::vector<Column> cols) : columns(std::move(cols)) {
    auto log_event = [this](const char* name) {
      return [this, name](TDataSet&) { log.push_back(name); };
    };
    BeforeOpen = log_event("BeforeOpen");
    AfterOpen = log_event("AfterOpen");
    BeforeClose = log_event("BeforeClose");
    AfterClose = log_event("AfterClose");
    BeforeInsert = log_event("BeforeInsert");
    AfterInsert = log_event("AfterInsert");
    BeforeEdit = log_event("BeforeEdit");
    AfterEdit = log_event("AfterEdit");
    BeforePost = log_event("BeforePost");
    AfterPost = log_event("AfterPost");
    BeforeCancel = log_event("BeforeCancel");
    AfterCancel = log_event("AfterCancel");
    BeforeDelete = log_event("BeforeDelete");
    AfterDelete = log_event("AfterDelete");
    BeforeScroll = log_event("BeforeScroll");
    AfterScroll = log_event("AfterScroll");
    BeforeRefresh = log_event("BeforeRefresh");
    AfterRefresh = log_event("AfterRefresh");
    OnNewRecord = log_event("OnNewRecord");
  }
  ~TMemoryDataSet() override { CloseForDestruction(); }

  // Fills `rows` with n rows (id = i, name = "row i").
  void MakeRows(int n) {
    rows.clear();
    for (int i = 0; i < n; ++i) rows.push_back({std::to_string(i), "row " + std::to_string(i)});
  }
  // The id of the active record, or -1.
  int ActiveId() {
    TField* f = LookupField("id");
    return f != nullptr && !f->IsNull() ? f->AsInteger() : -1;
  }
  void ClearLog() { log.clear(); }
  bool CanModify() const override { return !read_only; }

  std::vector<Column> columns;
  std::vector<Row> rows;
  int64_t cursor = -1;
  std::vector<std::string> log;
  bool read_only = false;
  bool fail_open = false;
  bool fail_close = false;
  bool fail_requery = false;
  int fail_post_times = 0;          // the post hook raises EDatabaseError this often
  bool fail_post_with_logic_error = false;

  bool ReadFieldValue(const TField& field, TFieldValue* dest) override {
    auto* rec = static_cast<MemRecord*>(ActiveRecordBuffer());
    const int c = field.FieldNo() - 1;
    if (rec == nullptr || c < 0 || c >= static_cast<int>(rec->values.size())) return false;
    const auto& v = rec->values[static_cast<size_t>(c)];
    if (!v) return false;
    if (dest != nullptr) {
      if (field.DataType() == ftInteger) {
        dest->Integer = std::stoll(*v);
      } else {
        dest->Text = *v;
      }
    }
    return true;
  }

  void WriteFieldValue(TField& field, const TFieldValue* source) override {
    auto* rec = static_cast<MemRecord*>(ActiveRecordBuffer());
    if (rec == nullptr) return;
    const size_t c = static_cast<size_t>(field.FieldNo() - 1);
    if (source == nullptr) {
      rec->values[c].reset();
    } else if (field.DataType() == ftInteger) {
      rec->values[c] = std::to_string(source->Integer);
    } else {
      rec->values[c] = source->Text;
    }
    FieldChanged(field);
  }

  std::unique_ptr<TStream> OpenBlobStream(TField&, TBlobStreamMode) override {
    throw std::logic_error("no blobs here");
  }

  using TDataSet::ReloadWindow;

 protected:
  void OpenResult() override {
    log.push_back("OpenResult");
    if (fail_open) throw EDatabaseError("open failed");
    open_ = true;
    cursor = -1;
    FieldDefs().Clear();
    for (const Column& c : columns) {
      TFieldDef& def = FieldDefs().Add(c.name, c.type, c.type == ftString ? 40 : 0, c.required);
      if (c.read_only) def.Set(faReadonly);
    }
    if (DefaultFields()) CreateFields();
  }
  void CloseResult() override {
    log.push_back("CloseResult");
    open_ = false;
    cursor = -1;
    if (DefaultFields()) DestroyFields();
    if (fail_close) throw EDatabaseError("close failed");
  }
  bool IsResultOpen() const override { return open_; }
  std::unique_ptr<TRecordBuffer> NewRecordBuffer() override {
    return std::make_unique<MemRecord>();
  }
  void InitNewRecord(TRecordBuffer& buffer) override {
    static_cast<MemRecord&>(buffer).values.assign(columns.size(), std::nullopt);
  }
  TGetResult FillRecord(TRecordBuffer& buffer, TGetMode mode, bool check) override {
    const int64_t count = static_cast<int64_t>(rows.size());
    if (count == 0) return TGetResult::AfterLast;
    TGetResult r = TGetResult::Ok;
    if (mode == TGetMode::Current) {
      if (cursor < 0 || cursor >= count) r = TGetResult::Error;
    } else if (mode == TGetMode::Next) {
      if (cursor < count - 1) ++cursor; else r = TGetResult::AfterLast;
    } else {
      if (cursor > 0) --cursor; else r = TGetResult::BeforeFirst;
    }
    if (r == TGetResult::Ok) {
      auto& rec = static_cast<MemRecord&>(buffer);
      rec.values = rows[static_cast<size_t>(cursor)];
      rec.row = cursor;
      rec.flag = TBookmarkFlag::Current;
    } else if (r == TGetResult::Error && check) {
      throw EDatabaseError("No Records");
    }
    return r;
  }
  void MoveBeforeFirst() override { cursor = -1; }
  void MoveAfterLast() override { cursor = static_cast<int64_t>(rows.size()); }
  void MoveToBookmark(int64_t b) override { cursor = b; }
  void SetToRecord(const TRecordBuffer& b) override { cursor = static_cast<const MemRecord&>(b).row; }
  int64_t ReadBookmark(const TRecordBuffer& b) const override {
    return static_cast<const MemRecord&>(b).row;
  }
  void WriteBookmark(TRecordBuffer& b, int64_t v) override { static_cast<MemRecord&>(b).row = v; }
  TBookmarkFlag ReadBookmarkFlag(const TRecordBuffer& b) const override {
    return static_cast<const MemRecord&>(b).flag;
  }
  void WriteBookmarkFlag(TRecordBuffer& b, TBookmarkFlag f) override {
    static_cast<MemRecord&>(b).flag = f;
  }
  bool IsValidBookmark(std::optional<int64_t> b) override {
    return b && *b >= 0 && *b < static_cast<int64_t>(rows.size());
  }
  int OrderBookmarks(std::optional<int64_t> a, std::optional<int64_t> b) override {
    if (!IsValidBookmark(a)) return -1;
    if (!IsValidBookmark(b)) return 1;
    return *a == *b ? 0 : (*a > *b ? 1 : -1);
  }
  void Requery() override {
    log.push_back("Requery");
    if (fail_requery) throw EDatabaseError("requery failed");
    if (cursor >= static_cast<int64_t>(rows.size())) cursor = static_cast<int64_t>(rows.size()) - 1;
  }

  void HookEditStart() override { log.push_back("HookEditStart"); }
  void HookInsertStart() override { log.push_back("HookInsertStart"); }
  void HookCancel() override { log.push_back("HookCancel"); }
  void HookPost() override {
    log.push_back("HookPost");
    if (fail_post_with_logic_error) throw std::logic_error("not a database error");
    if (fail_post_times > 0) {
      --fail_post_times;
      throw EDatabaseError("post failed");
    }
    auto& rec = static_cast<MemRecord&>(*ActiveBuffer());
    if (State() == dsEdit) {
      rows[static_cast<size_t>(cursor)] = rec.values;
    } else {
      const int64_t at = cursor < 0 ? static_cast<int64_t>(rows.size())
                                    : std::min<int64_t>(cursor, static_cast<int64_t>(rows.size()));
      rows.insert(rows.begin() + at, rec.values);
      cursor = at;
    }
  }
  void HookDelete() override {
    log.push_back("HookDelete");
    rows.erase(rows.begin() + cursor);
    if (cursor >= static_cast<int64_t>(rows.size())) cursor = static_cast<int64_t>(rows.size()) - 1;
  }

 private:
  bool open_ = false;
};

inline TMemoryDataSet::TMemoryDataSet()
    : TMemoryDataSet(std::vector<Column>{{"id", ftInteger}, {"name", ftString}}) {}

// A data link that records what it is told.
class RecordingLink : public TDataLink {
 public:
  std::vector<std::string> seen;
  std::function<void()> on_update_data;
  using TDataLink::SetBufferCount;

 protected:
  void ActiveChanged() override { seen.push_back(Active() ? "active" : "inactive"); }
  void CheckBrowseMode() override { seen.push_back("check"); }
  void DataSetChanged() override { seen.push_back("changed"); }
  void DataSetScrolled(int64_t distance) override {
    seen.push_back("scrolled " + std::to_string(distance));
  }
  void EditingChanged() override { seen.push_back(Editing() ? "editing" : "not editing"); }
  void RecordChanged(TField* field) override {
    seen.push_back(field ? "field " + field->FieldName() : "record");
  }
  void UpdateData() override {
    seen.push_back("update");
    if (on_update_data) on_update_data();
  }
};

}  // namespace quill::test
