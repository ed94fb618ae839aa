// Objects for the shells to wrap: one property of every kind, a small
// collection, and an object that offers verbs of its own.
#pragma once

#include <memory>
#include <string>

#include "activex_shell/activex_shell.h"
#include "base/collection.h"
#include "base/component.h"
#include "base/string_list.h"
#include "base/variant.h"

namespace quill::testing {

// Enabled (Boolean, default True), Count (Integer), Letter (Char), Color
// (enumeration clRed, clGreen, clBlue), Ratio (Float), Caption (String),
// Options (set of opA, opB, opC), Lines (object, a TStringList), Peer
// (object, a TComponent), OnChange (event), Data (Variant), Big (Int64),
// Version (String, read-only, "1.0"), plus Name and Tag of TComponent.
class TPropertyBag : public TComponent {
  QUILL_DECLARE_CLASS()

 public:
  using TComponent::TComponent;

  bool enabled = true;
  int32_t count = 0;
  int32_t letter = 'A';
  int32_t color = 0;
  double ratio = 0;
  std::string caption;
  int32_t options = 0;
  TStringList* lines = nullptr;
  TComponent* peer = nullptr;
  Variant data;
  int64_t big = 0;
  int writes = 0;  // writes that reached a writer
};

class TTestItem : public TCollectionItem {
  QUILL_DECLARE_CLASS()

 public:
  using TCollectionItem::TCollectionItem;
  std::string name;
};

// Items of class "TTestItem", each with a published Name.
class TTestCollection : public TCollection {
  QUILL_DECLARE_CLASS()

 public:
  std::string_view ItemClassName() const override { return "TTestItem"; }

 protected:
  std::unique_ptr<TCollectionItem> NewItem() override {
    return std::make_unique<TTestItem>(this);
  }
};

// Offers the verbs "twice" (its argument times two) and "join" (its
// arguments' texts joined with "+"), and records the last call.
class TVerbBag : public TComponent, public Iactivex_method_provider {
  QUILL_DECLARE_CLASS()

 public:
  using TComponent::TComponent;
  std::string method_names() override { return " twice ,\tjoin"; }
  void invoke_method(const std::string& name, const Variant& params, Variant& result) override;

  std::string last_name;
  Variant last_params;
};

// Offers the verb "bump", a deliberately slow read-modify-write of `value`:
// calls that overlap would lose increments.
class TCounter : public TComponent, public Iactivex_method_provider {
  QUILL_DECLARE_CLASS()

 public:
  using TComponent::TComponent;
  std::string method_names() override { return "bump"; }
  void invoke_method(const std::string& name, const Variant& params, Variant& result) override;

  int64_t value = 0;
};

// An object of the system that is a dispatch object of its own (for
// com_object), and a dispatch object that is not a shell (for object
// properties). Not reference-counted: it lives on the stack of a test.
class TDispatchable : public TObject, public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
};

}  // namespace quill::testing
