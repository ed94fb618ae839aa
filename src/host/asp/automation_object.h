// AutomationObject: the base of the host's own automation objects, the
// intrinsic objects of a page and their collections.
//
// They are real IDispatch objects, not script constructs: script reaches
// them through the same bridge as any other automation object, and so does
// a component such as Quill that is handed the page's scripting context and
// reads Request.Form through GetIDsOfNames and Invoke. A derived class lists
// its members (name, DISPID) and answers Call; names compare without regard
// to ASCII case; failures are AutomationError exceptions, turned at the
// Invoke boundary into DISP_E_EXCEPTION with the message in EXCEPINFO. No
// exception ever leaves Invoke.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/olert/automation.h"

namespace quill::asp {

// A failure of an automation member: the HRESULT the caller sees and the
// description it reads.
class AutomationError : public std::runtime_error {
 public:
  AutomationError(HRESULT hr, const std::string& message) : std::runtime_error(message), hr_(hr) {}
  HRESULT hr() const { return hr_; }

 private:
  HRESULT hr_;
};

// The arguments of one Invoke, in call order (DISPPARAMS holds them last to
// first). A VT_BYREF argument reads as the value it refers to.
class Arguments {
 public:
  explicit Arguments(const DISPPARAMS* params);
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  // Positional arguments, not counting a property put's value.
  size_t count() const { return positional_.size(); }
  // REQUIRES: i < count().
  const VARIANT& at(size_t i) const { return *positional_[i]; }
  // True when argument i was not given or was given as omitted (VT_ERROR
  // DISP_E_PARAMNOTFOUND).
  bool Missing(size_t i) const;
  // The value of a property put (named argument DISPID_PROPERTYPUT), or
  // null when there is none.
  const VARIANT* put_value() const { return has_put_ ? put_.get() : nullptr; }

  // Argument i as UTF-8 text: numbers and dates in their usual text, true
  // and false as "True" and "False", Empty and Null as "". Raises
  // AutomationError(DISP_E_PARAMNOTOPTIONAL) when it is missing and
  // (DISP_E_TYPEMISMATCH) when it has no text form; `member` names the
  // member in the message.
  std::string Text(size_t i, std::string_view member) const;
  // Argument i as a 32-bit integer; errors as Text.
  int32_t Int(size_t i, std::string_view member) const;

 private:
  // The arguments as read: a text argument is the caller's own VARIANT,
  // any other a dereferenced copy in copies_.
  std::vector<const VARIANT*> positional_;
  std::vector<olert::ScopedVariant> copies_;
  olert::ScopedVariant put_;
  bool has_put_ = false;
};

// Text of a value as pages print it (see Arguments::Text). False when the
// value has no text form (an object without a default value, an array).
bool VariantToUtf8(const VARIANT& value, std::string* out);
// A new BSTR holding `utf8`, or null when memory runs out.
BSTR Utf8ToBstr(std::string_view utf8);
// The text of a BSTR (null reads as "").
std::string BstrToUtf8(BSTR text);
// The description of the thread's error information (GetErrorInfo), or ""
// when there is none; the information is taken, as GetErrorInfo does.
std::string ErrorInfoDescription();
// True when a and b are equal without regard to ASCII case.
bool SameNoCase(std::string_view a, std::string_view b);

// Result helpers: each clears *result first; a null result is ignored.
void SetResultText(VARIANT* result, std::string_view utf8);
void SetResultInt(VARIANT* result, int32_t value);
void SetResultBool(VARIANT* result, bool value);
// AddRefs `object`; a null object gives VT_DISPATCH null.
void SetResultDispatch(VARIANT* result, IDispatch* object);
// Hands the reference `object` holds on to *result (VT_DISPATCH).
void SetResultObject(VARIANT* result, olert::ComPtr<IDispatch> object);
// An enumerator (VT_UNKNOWN) over `texts` as strings: a collection's
// _NewEnum.
void SetResultEnumerator(VARIANT* result, const std::vector<std::string>& texts);

// Initialises the automation runtime for the current thread (an apartment
// of its own) while it lives, unless the thread did so already.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

// Created with one reference (see olert::RefCounted), which the creator
// hands on.
class AutomationObject : public olert::RefCounted<IDispatch> {
 public:
  struct Member {
    const char16_t* name;
    DISPID id;
  };

  // IUnknown, IDispatch and what AlsoImplements answers.
  HRESULT QueryInterface(REFIID riid, void** object) override;
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excep, UINT* arg_error) override;

  // Host objects (of this class and VariantEnumerator) not yet destroyed, in
  // the whole process; tests use it to see that a request leaves none.
  static int LiveObjects();

 protected:
  AutomationObject();
  ~AutomationObject() override;

  virtual std::span<const Member> Members() const = 0;
  // Runs member `id` (one of Members(), or DISPID_VALUE / DISPID_NEWENUM
  // when listed there). `flags` are the DISPATCH_* flags as given.
  virtual void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) = 0;
  // An interface other than IUnknown and IDispatch that the object answers
  // QueryInterface for with itself, or false.
  virtual bool AlsoImplements(REFIID) const { return false; }

  // What Invoke answers for the exception being handled, with *excep
  // filled as Invoke fills it: for members reached other than through
  // Invoke. Call only from a catch block.
  static HRESULT CurrentFailure(EXCEPINFO* excep) noexcept;

  // Raises AutomationError(DISP_E_MEMBERNOTFOUND) unless `flags` ask for a
  // read (get or method call): read-only members call it first.
  static void RequireRead(WORD flags, std::string_view member);
  static bool IsPut(WORD flags) {
    return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  }
};

// IEnumVARIANT over a fixed list of values, for the collections' _NewEnum
// and for script enumerators over arrays. Created with one reference.
class VariantEnumerator final : public olert::RefCounted<IEnumVARIANT> {
 public:
  // Copies the values.
  static VariantEnumerator* Create(const std::vector<VARIANT>& values);
  // Takes the values over.
  static VariantEnumerator* Create(std::vector<olert::ScopedVariant> values);

  HRESULT Next(ULONG count, VARIANT* values, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumVARIANT** clone) override;

 private:
  explicit VariantEnumerator(std::vector<olert::ScopedVariant> values);
  ~VariantEnumerator() override;

  std::vector<olert::ScopedVariant> values_;
  size_t next_ = 0;
};

}  // namespace quill::asp
