// The dataset shell's verbs.
#include "activex_shell/dataset_shell.h"

#include <limits>

#include "activex_shell/field_shell.h"
#include "activex_shell/variant_convert.h"
#include "base/errors.h"
#include "base/number_text.h"
#include "base/string_list.h"
#include "mysql_dataset/macros.h"
#include "mysql_dataset/mysql_dataset.h"

namespace quill {

const std::array<std::string_view, kShellDatasetMethodCount> kShellDatasetMethodNames = {
    "m_",          "m_state",        "m_affectedrows", "m_lastinsertid",   "m_bof",
    "m_eof",       "m_isempty",      "m_recordcount",  "m_recno",          "m_absoluteposition",
    "m_open",      "m_close",        "m_closerecordset", "m_insert",       "m_append",
    "m_edit",      "m_cancel",       "m_delete",       "m_post",           "m_refresh",
    "m_execsql",   "m_hexstr",       "m_escapestr",    "m_formatidentifier", "m_realsql",
    "m_querystring", "m_first",      "m_movefirst",    "m_last",           "m_movelast",
    "m_next",      "m_movenext",     "m_prior",        "m_moveprior",      "m_moveprevious",
    "m_moveby",    "m_locaterecord", "m_fieldcount",   "m_fieldvalues",    "m_fields",
    "m_fieldbyname", "m_findfield",  "m_macrobyname",
};

namespace {

// The members a read answers (the rest fall back on the generic read).
const Tshell_dataset_methods kReadable = [] {
  Tshell_dataset_methods set;
  for (Tshell_dataset_method m :
       {m_state, m_affectedrows, m_lastinsertid, m_bof, m_eof, m_isempty, m_recordcount, m_recno,
        m_absoluteposition, m_realsql, m_querystring, m_fieldcount}) {
    set.set(m);
  }
  return set;
}();

int32_t Clamp32(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

int32_t StateCode(const TMySQLDataset& ds) {
  if (!ds.Active()) return 1;
  switch (ds.State()) {
    case dsInactive: return 1;
    case dsEdit:
    case dsInsert: return -2;
    case dsOpening: return -1;
    default: return 0;
  }
}

// One field's value, or an array of the values of several ";"-separated
// names, each required to exist.
Variant FieldValues(const TMySQLDataset& ds, const std::string& names) {
  if (names.find(';') == std::string::npos) return ds.RequireField(names).AsVariant();
  VariantArray values;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    values.Items.push_back(ds.RequireField(Trim(names.substr(start, end - start))).AsVariant());
    start = end + 1;
  }
  return Variant(std::move(values));
}

}  // namespace

bool find_dataset_method(std::string_view name, Tshell_dataset_method* out) {
  std::string member = "m_" + std::string(name);
  for (size_t i = 0; i < kShellDatasetMethodNames.size(); ++i) {
    if (SameText(kShellDatasetMethodNames[i], member)) {
      *out = static_cast<Tshell_dataset_method>(i);
      return true;
    }
  }
  return false;
}

TMySQLDataset* Tactivex_shell_dataset::dataset() const {
  return dynamic_cast<TMySQLDataset*>(wrapped());
}

bool Tactivex_shell_dataset::has_name(const std::string& name) {
  if (Tactivex_shell::has_name(name)) return true;
  if (name == "filterparams") return true;
  std::string member = "m_" + name;
  for (std::string_view known : kShellDatasetMethodNames) {
    if (known == member) return true;
  }
  return false;
}

Variant Tactivex_shell_dataset::get_property(const std::string& name) {
  TMySQLDataset* ds = dataset();
  if (ds == nullptr || name.empty()) throw PropertyNotFound(name);
  Tshell_dataset_method verb;
  if (find_dataset_method(name, &verb) && kReadable.test(verb)) return run(*ds, verb, Variant());
  if (SameText(name, "filterparams")) {
    if (!ds->FilterParams()) return Variant();
    VariantArray values;
    values.Items = *ds->FilterParams();
    return Variant(std::move(values));
  }
  return Tactivex_shell::get_property(name);
}

void Tactivex_shell_dataset::set_property(const std::string& name, const Variant& value) {
  TMySQLDataset* ds = dataset();
  if (ds == nullptr || name.empty()) throw PropertyNotFound(name);
  // Accepted for scripts written against recordsets, but moving on a write
  // would make an innocent assignment scroll the page's data.
  if (SameText(name, "recno") || SameText(name, "absoluteposition")) return;
  Tactivex_shell::set_property(name, value);
}

bool Tactivex_shell_dataset::set_property_value(const std::string& name, const VARIANT& value) {
  if (!SameText(name, "filterparams")) return false;
  TMySQLDataset* ds = dataset();
  if (ds == nullptr) throw PropertyNotFound(name);
  const VARIANT* v = &value;
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal != nullptr) v = v->pvarVal;
  if (v->vt == VT_EMPTY || v->vt == VT_NULL) {
    ds->SetFilterParams(std::nullopt);
    return true;
  }
  Variant values = VariantToValue(*v);
  // A byte array is one value, not a list of numbers.
  if (!values.IsArray() || (v->vt & ~VT_BYREF) == (VT_ARRAY | VT_UI1)) {
    ds->SetFilterParams(std::vector<Variant>{std::move(values)});
  } else {
    ds->SetFilterParams(std::move(values.RawArray().Items));
  }
  return true;
}

Variant Tactivex_shell_dataset::call_method(const std::string& name, const Variant& params) {
  TMySQLDataset* ds = dataset();
  if (ds == nullptr) return Variant();
  Tshell_dataset_method verb;
  if (!find_dataset_method(name, &verb)) return Tactivex_shell::call_method(name, params);
  return run(*ds, verb, params);
}

Variant Tactivex_shell_dataset::run(TMySQLDataset& ds, Tshell_dataset_method verb,
                                    const Variant& params) {
  auto text = [&params](size_t i) { return value_text(param(params, i)); };
  switch (verb) {
    case m_: return ds.RequireField(text(0)).AsVariant();
    case m_state: return Variant(StateCode(ds));
    case m_affectedrows: return Variant(ds.AffectedRows());
    case m_lastinsertid: return Variant(ds.LastInsertID());
    case m_bof: return Variant(ds.Bof());
    case m_eof: return Variant(ds.Eof());
    case m_isempty: return Variant(ds.IsEmpty());
    case m_recordcount: return Variant(Clamp32(ds.RowCount()));
    case m_recno:
    case m_absoluteposition: return Variant(Clamp32(ds.RowIndex()));
    case m_open: ds.SetActive(true); break;
    case m_close:
    case m_closerecordset: ds.SetActive(false); break;
    case m_insert: ds.BeginInsert(); break;
    case m_append: ds.BeginAppend(); break;
    case m_edit: ds.BeginEdit(); break;
    case m_cancel: ds.CancelRecord(); break;
    case m_delete: ds.DeleteRecord(); break;
    case m_post: ds.PostRecord(); break;
    case m_refresh: ds.RefreshRows(); break;
    case m_execsql: {
      TStringList lines;
      lines.SetText(text(0));
      ds.ExecStatements(lines, ds.MacrosEnabled(), ds.CachedUpdates());
      break;
    }
    case m_hexstr: return Variant(TMySQLDataset::HexStr(text(0)));
    case m_escapestr: {
      std::string s = text(0);
      return Variant(ds.Server() ? ds.Server()->EscapeString(s) : s);
    }
    case m_formatidentifier: {
      std::string s = text(0);
      return Variant(ds.Server() ? ds.Server()->QuoteName(s) : s);
    }
    case m_realsql:
    case m_querystring: return Variant(ds.RealSQL());
    case m_first:
    case m_movefirst: ds.MoveFirst(); break;
    case m_last:
    case m_movelast: ds.MoveLast(); break;
    case m_next:
    case m_movenext: ds.MoveNext(); break;
    case m_prior:
    case m_moveprior:
    case m_moveprevious: ds.MovePrior(); break;
    case m_moveby: ds.MoveRows(StrToInt(text(0))); break;
    case m_locaterecord: {
      const std::string keys = text(0);
      const Variant value(text(1));
      return Variant(ds.LocateRecord(keys, value, /*case_insensitive=*/true, /*partial_key=*/true));
    }
    case m_fieldcount: return Variant(static_cast<int32_t>(ds.FieldCount()));
    case m_fieldvalues: return FieldValues(ds, text(0));
    case m_fields: return field_shell_value(&ds.Field(StrToInt(text(0))));
    case m_fieldbyname: return field_shell_value(&ds.RequireField(text(0)));
    case m_findfield: return field_shell_value(ds.LookupField(text(0)));
    case m_macrobyname: {
      std::string name = text(0);
      TMySQLMacro* macro = ds.Macros().FindMacro(name);
      if (macro == nullptr) throw EDatabaseError("Parameter '" + name + "' not found");
      return shell_value(macro);
    }
  }
  return Variant();
}

}  // namespace quill
