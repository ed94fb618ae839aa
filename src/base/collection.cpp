// Item management of TCollection.
#include "base/collection.h"

#include "base/errors.h"

namespace quill {

const TClassInfo TCollectionItem::StaticClassInfo{"TCollectionItem", &TObject::StaticClassInfo, {}};
const TClassInfo TCollection::StaticClassInfo{"TCollection", &TObject::StaticClassInfo, {}};

int TCollectionItem::Index() const {
  if (collection_ == nullptr) return -1;
  for (int i = 0; i < collection_->Count(); ++i) {
    if (collection_->Item(i) == this) return i;
  }
  return -1;
}

TCollectionItem* TCollection::Item(int index) const {
  if (index < 0 || index >= Count()) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
  return items_[static_cast<size_t>(index)].get();
}

TCollectionItem* TCollection::FindItemID(int32_t id) const {
  for (const auto& item : items_) {
    if (item->id_ == id) return item.get();
  }
  return nullptr;
}

TCollectionItem* TCollection::Add() {
  std::unique_ptr<TCollectionItem> item = NewItem();
  item->id_ = next_id_++;
  items_.push_back(std::move(item));
  Changed();
  return items_.back().get();
}

void TCollection::Delete(int index) {
  Item(index);  // range check
  items_.erase(items_.begin() + index);
  Changed();
}

void TCollection::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

}  // namespace quill
