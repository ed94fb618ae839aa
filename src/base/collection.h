// TCollection: an ordered, owning list of items of one item class. Every item
// carries a numeric ID that the collection assigns when the item is created
// (0, 1, 2, ... never reused within one collection).
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "base/object.h"

namespace quill {

class TCollection;

class TCollectionItem : public TObject {
  QUILL_DECLARE_CLASS()

 public:
  explicit TCollectionItem(TCollection* collection) : collection_(collection) {}
  ~TCollectionItem() override = default;

  TCollection* Collection() const { return collection_; }
  int32_t ID() const { return id_; }
  // Position in the collection, or -1 once removed.
  int Index() const;

 private:
  friend class TCollection;
  TCollection* collection_;
  int32_t id_ = -1;
};

class TCollection : public TObject {
  QUILL_DECLARE_CLASS()

 public:
  TCollection() = default;
  ~TCollection() override = default;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count(); otherwise EListError.
  TCollectionItem* Item(int index) const;
  // The item with that ID, or null.
  TCollectionItem* FindItemID(int32_t id) const;

  // Creates an item of the item class at the end and returns it.
  TCollectionItem* Add();
  void Delete(int index);
  void Clear();

  // Name of the item class, as scripts see it.
  virtual std::string_view ItemClassName() const = 0;

 protected:
  // Creates one new item of the item class.
  virtual std::unique_ptr<TCollectionItem> NewItem() = 0;
  // Called after the list of items changed.
  virtual void Changed() {}

 private:
  std::vector<std::unique_ptr<TCollectionItem>> items_;
  int32_t next_id_ = 0;
};

}  // namespace quill
