// TFormReader: the posted form of the current page, read late-bound.
//
// The page's scripting context leads to the Request object and its Form
// collection; everything on that road is reached through IDispatch by name
// (GetIDsOfNames, then Invoke), so any host that offers dispatch objects
// with those names works: the context's "Request" property, the request's
// "Form" property, and on the form "Count", "Key" (1-based index) and
// "Item" (by key). The collection is looked up on first use and kept.
//
// Every failure raises an Exception with a message that says which step
// failed; nothing is read from a page that has no context.
#pragma once

#include <string>

#include "base/variant.h"
#include "platform/olert/automation.h"

namespace quill {

class TFormReader {
 public:
  // `context` is the page's scripting context as OnStartPage kept it (an
  // IScriptingContext, which is an IDispatch), or null.
  explicit TFormReader(IUnknown* context) : context_(context) {}
  TFormReader(const TFormReader&) = delete;
  TFormReader& operator=(const TFormReader&) = delete;

  // Number of items in the posted form. Raises "No scripting context: the
  // posted form can only be read between OnStartPage and OnEndPage" without
  // a context.
  int Count();
  // The key of item `index` (from 1), as text.
  std::string Key(int index);
  // The item named `key`. An item that is itself an object (a collection
  // of the values posted under that name) is read through its default
  // property. Empty for an item the form does not have, as the host gives
  // it.
  Variant Item(const std::string& key);

 private:
  IDispatch* Form();

  IUnknown* context_;
  olert::ComPtr<IDispatch> form_;
};

}  // namespace quill
