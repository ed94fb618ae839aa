// Lookup in the published-property tables.
#include "base/published.h"

#include "base/string_list.h"

namespace quill {

bool PropertyInfo::IsBoolean() const {
  return Kind == PropertyKind::Enumeration && EnumNames.data() == kBooleanNames;
}

const PropertyInfo* FindProperty(const TClassInfo& cls, std::string_view name) {
  for (const TClassInfo* c = &cls; c != nullptr; c = c->Parent) {
    for (const PropertyInfo& p : c->Properties) {
      if (SameText(p.Name, name)) return &p;
    }
  }
  return nullptr;
}

std::vector<const PropertyInfo*> ListProperties(const TClassInfo& cls) {
  std::vector<const PropertyInfo*> out;
  for (const TClassInfo* c = &cls; c != nullptr; c = c->Parent) {
    for (const PropertyInfo& p : c->Properties) {
      if (FindProperty(cls, p.Name) == &p) out.push_back(&p);
    }
  }
  return out;
}

int EnumOrdinal(std::span<const std::string_view> names, std::string_view name) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (SameText(names[i], name)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace quill
