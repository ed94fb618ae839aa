// Tactivex_shell_collection: the shell over a collection (in this system a
// dataset's Macros, whose items script then handles through generic
// shells).
//
// Collections publish no properties; these names are what a script can use:
//
//   read    count (Integer), itemclass (the item class's name, "TParam" for
//           macros)
//   write   nothing: every write ends in PropertyNotFound
//   call    item(i): a shell over the item at index i, Empty when i is out
//           of range; finditemid(id): a shell over the item with that ID;
//           add: a shell over a new item appended; clear
//
// Read names are matched without regard to case, verbs exactly. An index
// or ID is the integer read from the argument's text, 0 when it is no
// integer; a verb without the argument it needs answers Empty.
//
// finditemid searches every ID, so an item whose ID has grown past the
// item count (after deletions) is still found. An ID below the count that
// no item carries gives a shell over nothing; any other ID not found gives
// Empty.
#pragma once

#include <string>

#include "activex_shell/activex_shell.h"

namespace quill {

class TCollection;

class Tactivex_shell_collection : public Tactivex_shell {
 public:
  static constexpr std::string_view kNames = "add,clear,count,itemclass,item,finditemid";

  // REQUIRES: `object` is a TCollection or null.
  explicit Tactivex_shell_collection(TObject* object) : Tactivex_shell(object) {}

  Variant get_property(const std::string& name) override;
  Variant call_method(const std::string& name, const Variant& params) override;
  bool has_name(const std::string& name) override;

 private:
  TCollection* collection() const;
};

}  // namespace quill
