// TComponent: an object with an owner, a Name, a Tag and destruction notices.
//
// The owner does not delete its components (owners hold their parts in
// unique_ptrs and destroy them explicitly); the owner list exists so that a
// component can be found by name and so that owner and parts know of each
// other's destruction. Any component may ask another for a notice when that
// one is destroyed (FreeNotification); the notice arrives as
// Notification(other, Operation::Remove) and is how references to a
// destroyed component are cleared.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/object.h"

namespace quill {

class TComponent : public TObject {
  QUILL_DECLARE_CLASS()

 public:
  enum class Operation { Insert, Remove };

  explicit TComponent(TComponent* owner = nullptr);
  // Sends the Remove notice to the owner and to every component that asked
  // for one, then leaves the owner's list.
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  virtual void SetName(std::string name) { name_ = std::move(name); }
  int32_t Tag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Component(int index) const { return components_.at(static_cast<size_t>(index)); }
  // The owned component named `name` (ASCII case ignored), or null.
  TComponent* FindComponent(std::string_view name) const;

  // Asks for a Remove notice when `other` is destroyed (and gives `other`
  // one when this is destroyed). Safe to call more than once.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  // The Name, prefixed to error texts as "%s: %s" when it is not empty.
  std::string Decorate(const std::string& message) const;

 protected:
  // Called on the owner when a component joins or leaves it, and on every
  // component that asked for notices when the other is destroyed.
  virtual void Notification(TComponent* component, Operation operation);

 private:
  TComponent* owner_ = nullptr;
  std::string name_;
  int32_t tag_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> notify_;
};

}  // namespace quill
