// The script object's Execute: an edit, insert or move on a named dataset,
// with field values from the script's array or from the page's posted form.
#include "script_object/quill.h"

#include <cstdint>

#include "activex_shell/variant_convert.h"
#include "base/errors.h"
#include "mysql_dataset/fields.h"
#include "mysql_dataset/mysql_dataset.h"
#include "platform/olert/automation.h"
#include "script_object/error_guard.h"
#include "script_object/form_reader.h"
#include "sql_parser/qz_str_utils.h"

namespace quill {

namespace {

// Holds the element count of the first dimension of an array in Values.
struct ValueArray {
  SAFEARRAY* array = nullptr;
  VARTYPE element_type = VT_EMPTY;
};

ValueArray ArrayOf(const VARIANT& values) {
  ValueArray a;
  if ((values.vt & VT_ARRAY) != 0 && (values.vt & VT_BYREF) == 0 && values.parray != nullptr) {
    a.array = values.parray;
    a.element_type = values.vt & VT_TYPEMASK;
  }
  return a;
}

// Element k - 1 of the first dimension, or nothing when k lies beyond its
// upper bound. Raises the variant-array error for an element that cannot be
// read by one index.
bool ArrayElement(const ValueArray& a, int k, Variant* out) {
  LONG upper = 0;
  if (FAILED(SafeArrayGetUBound(a.array, 1, &upper))) {
    throw EVariantError("Variant or safe array index out of bounds");
  }
  if (static_cast<int64_t>(k) > static_cast<int64_t>(upper) + 1) return false;
  if (SafeArrayGetDim(a.array) != 1) {
    throw EVariantError("Variant or safe array index out of bounds");
  }
  const olert::SafeArrayElements elements(a.array);
  const int64_t position = static_cast<int64_t>(k) - 1 - a.array->rgsabound[0].lLbound;
  if (position < 0 || static_cast<uint64_t>(position) >= elements.size() ||
      a.array->pvData == nullptr) {
    throw EVariantError("Variant or safe array index out of bounds");
  }
  // An array that keeps no record of its element type is read as the type
  // the value declares.
  const size_t index = static_cast<size_t>(position);
  *out = VariantToValue(elements.type() != VT_EMPTY ? elements.View(index)
                                                    : elements.ViewAs(index, a.element_type));
  return true;
}

}  // namespace

void TQuill::AssignField(TMySQLDataset& dataset, const std::string& name, int k,
                         const VARIANT& values, TFormReader& form) {
  TField* field = dataset.LookupField(name);
  if (field == nullptr) return;  // its position k is used up all the same
  Variant value;
  const ValueArray array = ArrayOf(values);
  if (array.array == nullptr || !ArrayElement(array, k, &value)) value = form.Item(name);
  field->SetAsVariant(value);
}

void TQuill::FieldsFromList(TMySQLDataset& dataset, const std::string& fields,
                            const VARIANT& values, TFormReader& form) {
  // Word positions are one byte wide: after 255 the position wraps to 0,
  // which names no word, so at most 255 names are used.
  for (int k = 1; k <= 255; ++k) {
    const std::string name = ExtractWord(static_cast<uint8_t>(k), fields, ";,");
    if (name.empty()) break;
    AssignField(dataset, name, k, values, form);
  }
}

void TQuill::FieldsFromForm(TMySQLDataset& dataset, const VARIANT& values, TFormReader& form) {
  const int count = form.Count();
  for (int k = 1; k <= count; ++k) AssignField(dataset, form.Key(k), k, values, form);
}

void TQuill::DoExecute(const std::string& action, const std::string& name,
                       const std::string& fields, const VARIANT& values_in) {
  int target = FindDataset(name);
  if (target < 0) {
    if (datasets_.empty()) return;
    target = 0;
  }
  TMySQLDataset& dataset = *datasets_[static_cast<size_t>(target)].second;

  // Values is taken with its references resolved, so an array passed by
  // reference counts as an array.
  olert::ScopedVariant values;
  if (FAILED(VariantCopyInd(values.get(), &values_in))) values.Reset();

  TFormReader form(ScriptingContext());
  auto assign = [&] {
    // All or nothing: a value that fails takes back the ones written before
    // it, so that a later post cannot send half of this Execute.
    const TMySQLDataset::TRecordValues before = dataset.SaveRecordValues();
    try {
      if (!fields.empty()) {
        FieldsFromList(dataset, fields, *values, form);
      } else {
        FieldsFromForm(dataset, *values, form);
      }
    } catch (...) {
      dataset.RestoreRecordValues(before);
      throw;
    }
  };
  const std::string verb = UpperCase(action);
  if (verb == "EDIT" || verb == "UPDATE") {
    dataset.BeginEdit();
    assign();
    dataset.PostRecord();
  } else if (verb == "INSERT" || verb == "APPEND") {
    dataset.BeginAppend();
    assign();
    dataset.PostRecord();
  } else if (verb == "FIRST") {
    dataset.MoveFirst();
  } else if (verb == "NEXT") {
    dataset.MoveNext();
  } else if (verb == "PRIOR" || verb == "PREVIOUS") {
    dataset.MovePrior();
  } else if (verb == "LAST") {
    dataset.MoveLast();
  } else if (verb == "REFRESH") {
    dataset.RefreshRows();
  } else if (verb == "DELETE") {
    dataset.DeleteRecord();
  }
}

HRESULT TQuill::Execute(BSTR Action, BSTR Name, BSTR Fields, VARIANT Values) {
  return GuardedCall([&] {
    DoExecute(BstrToString(Action), BstrToString(Name), BstrToString(Fields), Values);
  });
}

}  // namespace quill
