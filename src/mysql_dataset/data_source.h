// TDataSource and TDataLink: the consumers of a dataset.
//
// A data source attaches to one dataset and relays its notifications to
// the data links attached to the source. A link is how another object (the
// master link of a detail dataset, for instance) follows a dataset: it
// learns when the dataset opens or closes, when the active record changes
// or scrolls, when the whole data changes, when the state changes, and when
// the dataset is about to need browse state (so that pending edits can be
// written first). A link also tells the dataset how many records it wants to
// see, which sizes the dataset's record window.
//
// Neither owns the other: a source forgets its dataset when either is
// destroyed, a link forgets its source likewise.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/component.h"
#include "mysql_dataset/dataset.h"

namespace quill {

class TDataLink;

class TDataSource : public TComponent {
  QUILL_DECLARE_CLASS()

 public:
  using TNotifyEvent = std::function<void(TDataSource& source)>;
  using TDataChangeEvent = std::function<void(TDataSource& source, TField* field)>;

  explicit TDataSource(TComponent* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  // Leaves the previous dataset and attaches to `dataset` (null: none).
  void SetDataSet(TDataSet* dataset);
  // A disabled source reports its state as inactive to its links.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool value) { auto_edit_ = value; }
  // The dataset's state as the links see it: inactive without a dataset or
  // while disabled.
  TDataSetState State() const { return state_; }
  // Starts editing the dataset when AutoEdit is on and it is browsing.
  void Edit();

  int LinkCount() const { return static_cast<int>(links_.size()); }
  TDataLink* Link(int index) const { return links_.at(static_cast<size_t>(index)); }

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

 protected:
  void Notification(TComponent* component, Operation operation) override;

 private:
  friend class TDataSet;
  friend class TDataLink;

  // Relays one notification of the dataset.
  void DataEvent(TDataEvent event, TField* field, int64_t info);
  void UpdateState();
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);

  TDataSet* dataset_ = nullptr;
  TDataSetState state_ = dsInactive;
  bool enabled_ = true;
  bool auto_edit_ = true;
  std::vector<TDataLink*> links_;
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return source_; }
  // Leaves the previous source and joins `source` (null: none).
  void SetDataSource(TDataSource* source);
  // The source's dataset, or null.
  TDataSet* DataSet() const { return source_ ? source_->DataSet() : nullptr; }
  // True while the source reports an active dataset.
  bool Active() const { return active_; }
  // True while the dataset is editing or inserting.
  bool Editing() const { return editing_; }
  // Number of records the link wants to see in the dataset's window.
  int BufferCount() const { return buffer_count_; }
  // REQUIRES: count >= 1. The dataset's window is resized accordingly.
  void SetBufferCount(int count);
  // Starts editing through the source (AutoEdit); true when editing.
  bool Edit();

 protected:
  // Overridables, all empty here.
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int64_t /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  void DataEvent(TDataEvent event, TField* field, int64_t info);
  void UpdateState();

  TDataSource* source_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool updating_ = false;
  int buffer_count_ = 1;
};

}  // namespace quill
