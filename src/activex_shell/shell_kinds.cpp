// The kinds of shell: which shell class stands in front of which class of
// object. The built-in kinds are one table here, tried in order before the
// kinds other code registers, so that the generic shell never needs to know
// its subclasses.
#include "activex_shell/activex_shell.h"

#include <cassert>
#include <mutex>
#include <vector>

#include "activex_shell/collection_shell.h"
#include "activex_shell/dataset_shell.h"
#include "activex_shell/field_shell.h"
#include "activex_shell/strings_shell.h"
#include "base/collection.h"
#include "base/string_list.h"
#include "mysql_dataset/fields.h"
#include "mysql_dataset/mysql_dataset.h"

namespace quill {

namespace {

struct ShellKind {
  const TClassInfo* cls;
  shell_factory make;
};

template <class Shell>
Tactivex_shell* Make(TObject* object) {
  return new Shell(object);
}

// The first kind whose class the object is, or derives from, makes its shell.
const ShellKind kBuiltInKinds[] = {
    {&TStringList::StaticClassInfo, Make<Tactivex_shell_strings>},
    {&TCollection::StaticClassInfo, Make<Tactivex_shell_collection>},
    {&TMySQLDataset::StaticClassInfo, Make<Tactivex_shell_dataset>},
    {&TField::StaticClassInfo, Make<Tactivex_shell_field>},
};

// Registered shell kinds, tried in order after the built-in ones.
std::mutex& KindsMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}
std::vector<ShellKind>& Kinds() {
  static std::vector<ShellKind>* kinds = new std::vector<ShellKind>;
  return *kinds;
}

}  // namespace

void register_shell_kind(const TClassInfo& cls, shell_factory make) {
  assert(make != nullptr);
  std::lock_guard<std::mutex> guard(KindsMutex());
  for (const ShellKind& kind : Kinds()) {
    if (kind.cls == &cls) return;
  }
  Kinds().push_back(ShellKind{&cls, make});
}

Tactivex_shell* create_shell(TObject* object) {
  if (object != nullptr) {
    for (const ShellKind& kind : kBuiltInKinds) {
      if (object->InheritsFrom(*kind.cls)) return kind.make(object);
    }
    shell_factory make = nullptr;
    {
      std::lock_guard<std::mutex> guard(KindsMutex());
      for (const ShellKind& kind : Kinds()) {
        if (object->InheritsFrom(*kind.cls)) {
          make = kind.make;
          break;
        }
      }
    }
    if (make != nullptr) return make(object);
  }
  return new Tactivex_shell(object);
}

}  // namespace quill
