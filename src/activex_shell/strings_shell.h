// Tactivex_shell_strings: the shell over a string list (a dataset's SQL
// templates, the connection's Params, a string field's StringValues).
//
// The shell works on the list itself, never on a copy: a line added through
// it is a line of the owner's list. String lists publish no properties, so
// the names below are all a script can use; every other name falls back on
// the generic shell and ends in PropertyNotFound (reads, writes) or Empty
// (calls).
//
//   read    count (Integer), text (every line followed by CR LF)
//   write   text (replaces all lines by the lines of the value's text)
//   call    strings/item(i), setstrings/setitem(i, s), add/append(s),
//           clear, exchange(i, j), indexof(s), insert(i, s), move(i, j),
//           loadfromfile(path), savetofile(path)
//
// Read and write names are matched without regard to case, verbs exactly
// (script names arrive lower-cased from GetIDsOfNames). An index argument
// is the integer read from its text, 0 when the text is no integer. An
// index out of range makes a verb do nothing (strings/item answer ""); a
// verb given fewer arguments than it needs does nothing and answers Empty.
// loadfromfile and savetofile raise "Cannot open file %s" and "Cannot
// create file %s".
#pragma once

#include <string>

#include "activex_shell/activex_shell.h"

namespace quill {

class TStringList;

class Tactivex_shell_strings : public Tactivex_shell {
 public:
  // The verbs and property names this shell adds to the generic ones.
  static constexpr std::string_view kNames =
      "text,count,strings,item,setstrings,setitem,add,append,clear,exchange,indexof,insert,"
      "move,loadfromfile,savetofile";

  // REQUIRES: `object` is a TStringList or null.
  explicit Tactivex_shell_strings(TObject* object) : Tactivex_shell(object) {}

  Variant get_property(const std::string& name) override;
  void set_property(const std::string& name, const Variant& value) override;
  Variant call_method(const std::string& name, const Variant& params) override;
  bool has_name(const std::string& name) override;

 private:
  TStringList* list() const;
};

}  // namespace quill
