// Tactivex_shell_dataset: the shell a script receives for a dataset, with a
// recordset-like vocabulary (movenext, eof, edit, post, fieldvalues, ...).
// Every name it does not handle falls back on the generic shell, so the
// dataset's published properties (TableName, Active, SQL, Server, ...) and
// owned components are reachable too.
//
// The verbs are the members of Tshell_dataset_method: each member is named
// "m_" followed by the verb, and a script name is looked up by prefixing
// "m_" and comparing without regard to case (the empty name is the member
// "m_": the value of the field named by the first argument).
//
// Reads (get_property) answer state, affectedrows, lastinsertid, bof, eof,
// isempty, recordcount, recno, absoluteposition, realsql, querystring and
// fieldcount; every other name, verbs included, goes to the generic read
// (so reading movenext fails with PropertyNotFound). Writes accept recno
// and absoluteposition and change nothing; every other name goes to the
// generic write. Calls run every member; a verb whose argument is missing
// fails with "Missing argument N".
//
//   state            1 closed or inactive, -2 editing or inserting,
//                    -1 opening, 0 otherwise
//   affectedrows,    the dataset's texts for the last statement it sent
//   lastinsertid,
//   realsql/querystring
//   bof, eof, isempty   the dataset's flags
//   recordcount      the number of cached rows (0 while closed)
//   recno, absoluteposition   the 0-based row number of the active record,
//                    -1 when there is none (the dataset's RowIndex)
//   open, close/closerecordset, insert, append, edit, cancel, delete, post,
//   refresh, first/movefirst, last/movelast, next/movenext,
//   prior/moveprior/moveprevious   the dataset operations of those names
//   moveby(n)        moves n rows; n must be an integer text
//   execsql(sql)     runs the text's statements as a batch of the dataset
//   hexstr(s)        "0x" and two upper-case hex digits per byte; "NULL"
//                    for the empty text
//   escapestr(s), formatidentifier(s)   escaped / quoted by the dataset's
//                    connection; unchanged without one
//   locaterecord(keys, value)   the dataset's record search from where it
//                    stands, case-insensitive with partial keys
//   fieldcount       the number of fields
//   fieldvalues(names)   one field's value, or an array of the values of
//                    several names separated by ";"
//   fields(i), fieldbyname(name)   a field shell; a bad index fails with
//                    the list's message, a name the dataset lacks with
//                    "Field '%s' not found"
//   findfield(name)  a field shell, over nothing for an unknown name
//   macrobyname(name)   a generic shell over the macro; an unknown name
//                    fails with "Parameter '%s' not found"
// Failures of the dataset's own operations propagate with their messages.
#pragma once

#include <array>
#include <bitset>
#include <string>
#include <string_view>

#include "activex_shell/activex_shell.h"

namespace quill {

class TMySQLDataset;

enum Tshell_dataset_method : uint8_t {
  m_, m_state, m_affectedrows, m_lastinsertid, m_bof, m_eof, m_isempty, m_recordcount, m_recno,
  m_absoluteposition, m_open, m_close, m_closerecordset, m_insert, m_append, m_edit, m_cancel,
  m_delete, m_post, m_refresh, m_execsql, m_hexstr, m_escapestr, m_formatidentifier, m_realsql,
  m_querystring, m_first, m_movefirst, m_last, m_movelast, m_next, m_movenext, m_prior,
  m_moveprior, m_moveprevious, m_moveby, m_locaterecord, m_fieldcount, m_fieldvalues, m_fields,
  m_fieldbyname, m_findfield, m_macrobyname,
};
inline constexpr size_t kShellDatasetMethodCount = m_macrobyname + 1;
using Tshell_dataset_methods = std::bitset<kShellDatasetMethodCount>;

// The member names ("m_", "m_state", ...) by ordinal.
extern const std::array<std::string_view, kShellDatasetMethodCount> kShellDatasetMethodNames;

class Tactivex_shell_dataset : public Tactivex_shell {
 public:
  // REQUIRES: `object` is a TMySQLDataset or null.
  explicit Tactivex_shell_dataset(TObject* object) : Tactivex_shell(object) {}

  Variant get_property(const std::string& name) override;
  void set_property(const std::string& name, const Variant& value) override;
  // `filterparams`: the values of the Filter's "?" placeholders (an array,
  // one value, or Empty/Null for none), taken with their types.
  bool set_property_value(const std::string& name, const VARIANT& value) override;
  Variant call_method(const std::string& name, const Variant& params) override;
  bool has_name(const std::string& name) override;

 private:
  TMySQLDataset* dataset() const;
  Variant run(TMySQLDataset& ds, Tshell_dataset_method verb, const Variant& params);
};

// The member for a script name ("m_" + name, case ignored), or false.
bool find_dataset_method(std::string_view name, Tshell_dataset_method* out);

}  // namespace quill
