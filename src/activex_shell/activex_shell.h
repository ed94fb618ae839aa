// Tactivex_shell: the late-bound automation object that stands in front of
// one object of the system and lets a script reach it by name.
//
// A script never sees the system's objects themselves. It sees shells: small
// reference-counted IDispatch objects without a type library. A shell turns
// each name the script uses into a DISPID (100 plus the name's position in
// the shell's own name table), and each Invoke into one of four operations
// that the verb shells override (get_property, set_property, call_method,
// has_name). The generic operations reach the wrapped object's published
// properties (published_access.h), the components it owns, and the verbs of
// an optional Iactivex_method_provider.
//
// A shell keeps the handle of its object (base/object.h), never a pointer,
// and resolves it on every call: a shell whose object has been destroyed
// behaves exactly as a shell over nothing (reads and writes fail with
// PropertyNotFound, calls answer Empty). Shells never own what they wrap.
//
// Every GetIDsOfNames and Invoke runs inside the lock shared by all shells
// over the same object (shell_registry.h), and no exception ever leaves
// either: failures become DISP_E_EXCEPTION with the message in EXCEPINFO.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "activex_shell/shell_registry.h"
#include "base/errors.h"
#include "base/object.h"
#include "base/variant.h"
#include "platform/olert/olert.h"

namespace quill {

// {8A28E091-6F48-11D3-8159-204C4F4F5020}
extern const IID IID_Iactivex_shell;
// {B0BA1D30-6F55-11D3-B11C-F9DBB0614516}
extern const IID IID_Iactivex_method_provider;

// The interface every shell answers besides IDispatch, through the same
// pointer. get_address is how one shell recognises another shell's object.
struct Iactivex_shell : IDispatch {
  // Stores the handle of the wrapped object (0 when nothing is wrapped or
  // the object has been destroyed) and returns S_OK; E_POINTER for a null
  // output. Takes no lock, so it may be asked while any lock is held.
  virtual HRESULT get_address(LONG* address) = 0;
};

// Optional verbs of a wrapped object. A class that derives from this
// interface (as well as from TObject) offers the listed verbs to script
// through every generic shell; the shell finds it with dynamic_cast. No
// class of the system offers any today.
class Iactivex_method_provider {
 public:
  // The verbs, separated by ",", in lower case (script names arrive lower
  // cased, see name_in_list).
  virtual std::string method_names() = 0;
  // Runs `name` with `params` (Empty, or an array from index 0 in script
  // order) and stores its value in `result` (Empty when it has none).
  virtual void invoke_method(const std::string& name, const Variant& params, Variant& result) = 0;

 protected:
  ~Iactivex_method_provider() = default;
};

// The shells' failure for a name that cannot be read or written. Its message
// is always "Property is not found : " followed by the name as requested.
using PropertyNotFound = EPropertyNotFound;

// The fixed part of every shell's vocabulary.
namespace fixed_dispids {
inline constexpr std::string_view message_prefix = "Property is not found : ";
inline constexpr DISPID name_base = 100;
inline constexpr DISPID address = 1;
inline constexpr DISPID com_object = 2;
inline constexpr DISPID get = 3;
inline constexpr DISPID put = 4;
inline constexpr DISPID exec = 5;
}  // namespace fixed_dispids

class Tactivex_shell : public Iactivex_shell, public IObjectSafety {
 public:
  // A shell over `object` (null: over nothing), with a reference count of
  // zero and registered with shell_registry(). The first QueryInterface or
  // AddRef takes the first reference; the last Release destroys the shell
  // (never the object). Prefer create_shell, which picks the right kind.
  explicit Tactivex_shell(TObject* object);
  virtual ~Tactivex_shell();
  Tactivex_shell(const Tactivex_shell&) = delete;
  Tactivex_shell& operator=(const Tactivex_shell&) = delete;

  // IUnknown. IUnknown, IDispatch and Iactivex_shell are one pointer;
  // IObjectSafety is another. E_NOINTERFACE (and a null output) otherwise.
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDispatch. There is no type information: GetTypeInfoCount answers 0,
  // GetTypeInfo DISP_E_BADINDEX with a null output.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  // Lower-cases each name (ASCII letters). "address", "com_object", "get",
  // "put" and "exec" get their fixed DISPIDs 1 to 5; any other name its
  // position in the name table plus 100, appended when has_name accepts it.
  // At the first name refused: DISP_E_UNKNOWNNAME, and that entry and all
  // later ones of `ids` stay unwritten (names accepted before it stay in the
  // table). E_POINTER for null arrays. The interface id and locale are
  // ignored.
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                        DISPID* ids) override;
  // Dispatches by DISPID and flags as script hosts call it: arguments by
  // position only (named ones are ignored), last argument first. Fixed
  // DISPIDs: 1 and 2 need DISPATCH_PROPERTYGET; 3 ("get", one argument:
  // the name), 4 ("put", the name and the value) and 5 ("exec", the name
  // and the verb's arguments) need DISPATCH_METHOD. A table DISPID runs
  // get_property when DISPATCH_PROPERTYGET is set without arguments, else
  // set_property for DISPATCH_PROPERTYPUT(REF) with exactly one argument,
  // else call_method for DISPATCH_METHOD, else nothing (S_OK). Other
  // DISPIDs below 100 do nothing and answer S_OK.
  // Returns DISP_E_UNKNOWNNAME for an unknown table DISPID or a missing
  // flag, DISP_E_BADPARAMCOUNT for a wrong argument count, E_INVALIDARG
  // for arguments announced but not given, DISP_E_EXCEPTION when the
  // operation fails (EXCEPINFO, when given, gets the message as
  // description, help context 0 and scode DISP_E_EXCEPTION; its other
  // fields are untouched). A result, when `result` is given, replaces what
  // it held (it is cleared first, so it must be initialised); writes store
  // nothing in it.
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excep, UINT* arg_error) override;

  // Iactivex_shell.
  HRESULT get_address(LONG* address) override;

  // IObjectSafety. Both report/accept only the interfaces QueryInterface
  // answers (E_NOINTERFACE otherwise). Supported options are always 3
  // (untrusted caller and data); the enabled ones are stored and reported
  // but change nothing else. Get answers E_POINTER for a null output.
  HRESULT GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
  HRESULT SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;

  // --- The four operations. `name` is as the script gave it: lower-cased
  // when it came through GetIDsOfNames, verbatim through "get", "put" and
  // "exec". Failures are exceptions (Invoke reports them).

  // Generic: the published property `name` (case ignored) of the wrapped
  // object, else a new shell over the owned component of that name.
  // Raises PropertyNotFound when nothing is wrapped, the name is empty or
  // neither exists.
  virtual Variant get_property(const std::string& name);
  // Generic: writes the published property `name`. Raises PropertyNotFound
  // when nothing is wrapped, the name is empty or no property has it
  // (owned components are not consulted), and the conversion's failure or
  // a read-only failure otherwise.
  virtual void set_property(const std::string& name, const Variant& value);
  // Generic: the method provider's verb, when the wrapped object offers
  // one; Empty (and nothing done) in every other case. `params` is Empty
  // or an array from index 0 in script order.
  virtual Variant call_method(const std::string& name, const Variant& params);
  // Generic: whether `name` is a published property, an owned component or
  // a provider verb of the wrapped object. False when nothing is wrapped or
  // the name is empty.
  virtual bool has_name(const std::string& name);
  // Writes of properties that need the value exactly as the script passed
  // it (typed arrays, dates), which set_property's argument conversion
  // does not keep. Answers true when `name` was handled; the generic shell
  // handles none, and set_property then runs as before.
  virtual bool set_property_value(const std::string& name, const VARIANT& value);

  // --- State.

  // The handle kept since construction (0 for a shell over nothing). It
  // stays the shell's identity in the registry even after the object dies.
  ObjectHandle identity() const { return handle_; }
  // The wrapped object, or null when nothing is wrapped or it has been
  // destroyed. Resolved anew on every call.
  TObject* wrapped() const { return ResolveHandle(handle_); }
  // The lock shared with every shell over the same object.
  Tthread_lock& lock() const { return *lock_; }
  // The name table, in DISPID order (DISPID = 100 + index).
  // REQUIRES: the caller holds lock().
  const std::vector<std::string>& names() const { return names_; }
  ULONG reference_count() const { return refs_.load(); }

 private:
  // True for the interfaces QueryInterface answers.
  bool implements(REFIID riid) const;
  void store_result(const Variant& value, VARIANT* result) const;

  const ObjectHandle handle_;
  std::vector<std::string> names_;  // lower case, only ever appended
  Tthread_lock* lock_;  // owned by the registry, shared with the other shells
  std::atomic<DWORD> safety_options_{0};
  std::atomic<ULONG> refs_{0};
};

// --- Making shells.

// Makes a shell for objects of one class (the factory may assume the object
// inherits from the class it was registered for).
using shell_factory = Tactivex_shell* (*)(TObject* object);

// Registers a kind of shell: create_shell gives every object whose class is
// `cls` or derives from it a shell made by `make`. Kinds are tried after the
// built-in ones, in the order they were registered; a class registered
// twice keeps its first factory. Thread-safe; meant to be called once at
// start-up by the code that provides the kind.
void register_shell_kind(const TClassInfo& cls, shell_factory make);

// A new shell of the right kind over `object` (null: a generic shell over
// nothing; the kinds are shell_kinds.cpp's), tested in this order: a string
// list gets Tactivex_shell_strings,
// a collection Tactivex_shell_collection, a MySQL dataset
// Tactivex_shell_dataset, a field Tactivex_shell_field, a registered kind
// its own shell, anything else Tactivex_shell. The shell's reference count is zero: the caller takes the
// first reference (QueryInterface or AddRef) or deletes it.
Tactivex_shell* create_shell(TObject* object);

// A new shell over `object` as a VT_DISPATCH VARIANT that holds the shell's
// only reference (the caller clears the VARIANT). Null still gives a shell,
// over nothing, never Empty.
VARIANT shell_variant(TObject* object);
// The same as a Variant of type Dispatch, for results built inside shells.
Variant shell_value(TObject* object);

// --- Helpers shared by the shells.

// The text of a value: "" for Empty and Null and for any value that has no
// text form (arrays, references); never raises.
std::string value_text(const Variant& value);

// True when one of the ","-separated pieces of `list`, trimmed of blanks and
// control characters, equals `name` exactly (case-sensitive).
bool name_in_list(std::string_view name, std::string_view list);

// Number of script arguments in a parameter value (Empty: 0).
size_t param_count(const Variant& params);
// Argument `index` (from 0, script order). Raises EVariantError "Missing
// argument N" (N from 1) when there is no such argument.
const Variant& param(const Variant& params, size_t index);
// The integer read from the value's text; 0 when the text is no integer.
int32_t index_value(const Variant& value);

}  // namespace quill
