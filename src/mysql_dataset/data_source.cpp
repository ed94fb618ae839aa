// Data sources and data links: how a dataset's notifications reach the
// objects that follow it. The dataset talks only to its sources; a source
// relays to its links and keeps the state its links see, so that a disabled
// source looks like a closed dataset to them.
#include "mysql_dataset/data_source.h"

#include <algorithm>

#include "base/published.h"

namespace quill {

namespace {

using DSrc = TDataSource;

const PropertyInfo kDataSourceProps[] = {
    BooleanProp(
        "AutoEdit", [](const TObject& o) { return Variant(static_cast<const DSrc&>(o).AutoEdit()); },
        [](TObject& o, const Variant& v) { static_cast<DSrc&>(o).SetAutoEdit(v.AsBoolean()); },
        "True"),
    ObjectProp(
        "DataSet", &TDataSet::StaticClassInfo,
        [](const TObject& o) -> TObject* { return static_cast<const DSrc&>(o).DataSet(); },
        [](TObject& o, TObject* value) {
          TDataSet* dataset = nullptr;
          if (value != nullptr && value->InheritsFrom(TDataSet::StaticClassInfo)) {
            dataset = static_cast<TDataSet*>(value);
          }
          static_cast<DSrc&>(o).SetDataSet(dataset);
        }),
    BooleanProp(
        "Enabled", [](const TObject& o) { return Variant(static_cast<const DSrc&>(o).Enabled()); },
        [](TObject& o, const Variant& v) { static_cast<DSrc&>(o).SetEnabled(v.AsBoolean()); },
        "True"),
    EventProp("OnStateChange"),
    EventProp("OnDataChange"),
    EventProp("OnUpdateData"),
};

bool IsEditingState(TDataSetState state) {
  return state == dsEdit || state == dsInsert || state == dsSetKey;
}

}  // namespace

const TClassInfo TDataSource::StaticClassInfo{"TDataSource", &TComponent::StaticClassInfo,
                                              kDataSourceProps};

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  const std::vector<TDataLink*> links = links_;
  links_.clear();
  for (TDataLink* link : links) {
    link->source_ = nullptr;
    link->UpdateState();
  }
  if (dataset_ != nullptr) {
    dataset_->RemoveDataSource(this);
    RemoveFreeNotification(dataset_);
    dataset_ = nullptr;
  }
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) {
    dataset_->RemoveDataSource(this);
    RemoveFreeNotification(dataset_);
  }
  dataset_ = dataset;
  if (dataset_ != nullptr) {
    dataset_->AddDataSource(this);
    FreeNotification(dataset_);
  }
  UpdateState();
  if (dataset_ != nullptr && !links_.empty()) dataset_->UpdateBufferCount();
}

void TDataSource::SetEnabled(bool value) {
  enabled_ = value;
  UpdateState();
}

void TDataSource::Edit() {
  if (auto_edit_ && dataset_ != nullptr && state_ == dsBrowse) dataset_->BeginEdit();
}

void TDataSource::Notification(TComponent* component, Operation operation) {
  TComponent::Notification(component, operation);
  if (operation == Operation::Remove && component == dataset_) {
    // The dataset is being destroyed: none of its members may be used now.
    dataset_ = nullptr;
    UpdateState();
  }
}

void TDataSource::UpdateState() {
  const TDataSetState state =
      enabled_ && dataset_ != nullptr ? dataset_->State() : dsInactive;
  if (state == state_) return;
  state_ = state;
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) link->UpdateState();
  if (OnStateChange) OnStateChange(*this);
}

void TDataSource::DataEvent(TDataEvent event, TField* field, int64_t info) {
  if (event == TDataEvent::UpdateState) {
    UpdateState();
    return;
  }
  if (state_ == dsInactive) return;
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) link->DataEvent(event, field, info);
  switch (event) {
    case TDataEvent::FieldChange:
    case TDataEvent::RecordChange:
    case TDataEvent::DataSetChange:
    case TDataEvent::DataSetScroll:
    case TDataEvent::LayoutChange:
      if (OnDataChange) OnDataChange(*this, field);
      break;
    case TDataEvent::UpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

void TDataSource::AddLink(TDataLink* link) {
  if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

// --- TDataLink -------------------------------------------------------------------

TDataLink::~TDataLink() {
  // No overridable is called from here: the derived part is gone.
  if (source_ != nullptr) source_->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  if (source_ != nullptr) source_->RemoveLink(this);
  source_ = source;
  if (source_ != nullptr) source_->AddLink(this);
  UpdateState();
  if (TDataSet* dataset = DataSet()) dataset->UpdateBufferCount();
}

void TDataLink::SetBufferCount(int count) {
  buffer_count_ = std::max(count, 1);
  if (TDataSet* dataset = DataSet()) dataset->UpdateBufferCount();
}

bool TDataLink::Edit() {
  if (source_ != nullptr && !editing_) source_->Edit();
  return editing_;
}

void TDataLink::UpdateState() {
  const TDataSetState state = source_ != nullptr ? source_->State() : dsInactive;
  const bool active = state != dsInactive;
  if (active != active_) {
    active_ = active;
    ActiveChanged();
  }
  const bool editing = active && IsEditingState(state);
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::DataEvent(TDataEvent event, TField* field, int64_t info) {
  if (!active_) return;
  switch (event) {
    case TDataEvent::FieldChange:
    case TDataEvent::RecordChange:
      if (!updating_) RecordChanged(field);
      break;
    case TDataEvent::DataSetChange:
      DataSetChanged();
      break;
    case TDataEvent::DataSetScroll:
      DataSetScrolled(info);
      break;
    case TDataEvent::LayoutChange:
      LayoutChanged();
      break;
    case TDataEvent::UpdateRecord:
      updating_ = true;
      try {
        UpdateData();
      } catch (...) {
        updating_ = false;
        throw;
      }
      updating_ = false;
      break;
    case TDataEvent::CheckBrowseMode:
      CheckBrowseMode();
      break;
    case TDataEvent::UpdateState:
      break;
  }
}

}  // namespace quill
