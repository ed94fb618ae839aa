// Owner lists and destruction notices of TComponent.
#include "base/component.h"

#include <algorithm>

#include "base/published.h"
#include "base/string_list.h"

namespace quill {

namespace {
const PropertyInfo kComponentProps[] = {
    StringProp(
        "Name", [](const TObject& o) { return Variant(static_cast<const TComponent&>(o).Name()); },
        [](TObject& o, const Variant& v) { static_cast<TComponent&>(o).SetName(v.AsString()); }),
    IntegerProp(
        "Tag", [](const TObject& o) { return Variant(static_cast<const TComponent&>(o).Tag()); },
        [](TObject& o, const Variant& v) { static_cast<TComponent&>(o).SetTag(v.AsInteger()); }),
};

void Erase(std::vector<TComponent*>& list, TComponent* c) {
  list.erase(std::remove(list.begin(), list.end(), c), list.end());
}
}  // namespace

const TClassInfo TComponent::StaticClassInfo{"TComponent", &TObject::StaticClassInfo,
                                             kComponentProps};

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_) {
    owner_->components_.push_back(this);
    owner_->Notification(this, Operation::Insert);
  }
}

TComponent::~TComponent() {
  // Copy first: a receiver may change the lists while it reacts.
  std::vector<TComponent*> notify = notify_;
  for (TComponent* other : notify) {
    Erase(other->notify_, this);
    other->Notification(this, Operation::Remove);
  }
  for (TComponent* part : components_) part->owner_ = nullptr;
  if (owner_) {
    Erase(owner_->components_, this);
    owner_->Notification(this, Operation::Remove);
  }
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_) {
    if (SameText(c->Name(), name)) return c;
  }
  return nullptr;
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(notify_.begin(), notify_.end(), other) == notify_.end()) notify_.push_back(other);
  if (std::find(other->notify_.begin(), other->notify_.end(), this) == other->notify_.end()) {
    other->notify_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (other == nullptr) return;
  Erase(notify_, other);
  Erase(other->notify_, this);
}

std::string TComponent::Decorate(const std::string& message) const {
  return name_.empty() ? message : name_ + ": " + message;
}

void TComponent::Notification(TComponent*, Operation) {}

}  // namespace quill
