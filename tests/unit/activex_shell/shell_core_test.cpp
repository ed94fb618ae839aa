// The generic shell through IDispatch: names and DISPIDs, the fixed
// members, dispatch by flags and argument count, failures as dispatch
// exceptions, identity, locks, destroyed objects and the optional verbs.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "activex_shell/activex_shell.h"
#include "activex_shell/collection_shell.h"
#include "activex_shell/strings_shell.h"
#include "base/utf8.h"
#include "script_host.h"
#include "support/leak_check.h"
#include "test_objects.h"

namespace quill::testing {
namespace {

LONG AddressOf(IDispatch* d) {
  Outcome out = InvokeId(d, fixed_dispids::address, DISPATCH_PROPERTYGET);
  EXPECT_EQ(out.hr, S_OK);
  return out.result.i4();
}

TEST(ShellNames, SameNameAnyCaseKeepsItsDispidPerShell) {
  TPropertyBag bag;
  Obj first = Obj::ShellOver(&bag), second = Obj::ShellOver(&bag);
  DISPID a = 0, b = 0, c = 0, again = 0;
  ASSERT_TRUE(IdOf(first.get(), "Caption", &a));
  ASSERT_TRUE(IdOf(first.get(), "COUNT", &b));
  ASSERT_TRUE(IdOf(first.get(), "count", &c));
  ASSERT_TRUE(IdOf(first.get(), "caption", &again));
  EXPECT_EQ(a, 100);
  EXPECT_EQ(b, 101);
  EXPECT_EQ(c, b);
  EXPECT_EQ(again, a);
  // Another shell over the same object numbers its own names.
  ASSERT_TRUE(IdOf(second.get(), "Count", &c));
  EXPECT_EQ(c, 100);
}

TEST(ShellNames, LookupStopsAtTheFirstRefusedName) {
  TPropertyBag bag;
  Obj shell = Obj::ShellOver(&bag);
  std::u16string n1 = u"Ratio", n2 = u"NoSuchThing", n3 = u"Caption";
  LPOLESTR names[] = {n1.data(), n2.data(), n3.data()};
  DISPID ids[] = {-7, -7, -7};
  EXPECT_EQ(shell.get()->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 100);
  EXPECT_EQ(ids[1], -7);
  EXPECT_EQ(ids[2], -7);
  // The name accepted before the failure stays in the table.
  DISPID id = 0;
  ASSERT_TRUE(IdOf(shell.get(), "caption", &id));
  EXPECT_EQ(id, 101);
  EXPECT_EQ(shell.get()->GetIDsOfNames(IID_NULL, nullptr, 1, 0, ids), E_POINTER);
}

TEST(ShellNames, FixedNamesResolveToFixedDispids) {
  Obj shell = Obj::ShellOver(nullptr);
  const std::pair<const char*, DISPID> fixed[] = {
      {"Address", 1}, {"COM_OBJECT", 2}, {"get", 3}, {"Put", 4}, {"EXEC", 5}};
  for (const auto& [name, expected] : fixed) {
    DISPID id = 0;
    ASSERT_TRUE(IdOf(shell.get(), name, &id)) << name;
    EXPECT_EQ(id, expected) << name;
  }
  DISPID id = 0;
  EXPECT_FALSE(IdOf(shell.get(), "caption", &id));  // nothing wrapped: no names
  EXPECT_FALSE(IdOf(shell.get(), "", &id));
}

TEST(ShellInvoke, FixedMembersCheckFlagsAndArgumentCounts) {
  TPropertyBag bag;
  bag.caption = "hello";
  Obj shell = Obj::ShellOver(&bag);
  IDispatch* d = shell.get();
  Var name = Text("CAPTION"), value = Text("bye"), extra = I4(1);

  EXPECT_EQ(InvokeId(d, 1, DISPATCH_METHOD).hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(AddressOf(d), static_cast<LONG>(bag.Handle()));
  EXPECT_EQ(InvokeId(d, 2, DISPATCH_METHOD).hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(InvokeId(d, 2, DISPATCH_PROPERTYGET).result.vt(), VT_EMPTY);  // bag is no IDispatch
  TDispatchable own;
  Obj over_own = Obj::ShellOver(&own);
  EXPECT_EQ(InvokeId(over_own.get(), 2, DISPATCH_PROPERTYGET).result.dispatch(),
            static_cast<IDispatch*>(&own));

  EXPECT_EQ(InvokeId(d, 3, DISPATCH_PROPERTYGET, {&name}).hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(InvokeId(d, 3, DISPATCH_METHOD).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(InvokeId(d, 3, DISPATCH_METHOD, {&name, &extra}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(InvokeId(d, 3, DISPATCH_METHOD, {&name}).result.text(), "hello");

  EXPECT_EQ(InvokeId(d, 4, DISPATCH_METHOD, {&name}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(InvokeId(d, 4, DISPATCH_METHOD, {&name, &value}).hr, S_OK);
  EXPECT_EQ(bag.caption, "bye");

  EXPECT_EQ(InvokeId(d, 5, DISPATCH_METHOD).hr, DISP_E_BADPARAMCOUNT);
  Outcome exec = InvokeId(d, 5, DISPATCH_METHOD, {&name});  // no verbs: Empty
  EXPECT_EQ(exec.hr, S_OK);
  EXPECT_EQ(exec.result.vt(), VT_EMPTY);
}

TEST(ShellInvoke, OtherLowDispidsDoNothingAndLeaveTheResult) {
  TPropertyBag bag;
  Obj shell = Obj::ShellOver(&bag);
  for (DISPID id : {0, -1, -4, 6, 99}) {
    Var result = I4(42);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(shell.get()->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none,
                                  result.ptr(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.i4(), 42) << id;
  }
  EXPECT_EQ(InvokeId(shell.get(), 100, DISPATCH_PROPERTYGET).hr, DISP_E_UNKNOWNNAME);
}

TEST(ShellInvoke, TableDispidsByFlags) {
  TPropertyBag bag;
  bag.count = 7;
  Obj shell = Obj::ShellOver(&bag);
  IDispatch* d = shell.get();
  DISPID id = 0;
  ASSERT_TRUE(IdOf(d, "count", &id));
  Var one = I4(1), two = I4(2);

  EXPECT_EQ(InvokeId(d, id, DISPATCH_PROPERTYGET | DISPATCH_METHOD).result.i4(), 7);
  // A get with an argument and no DISPATCH_METHOD does nothing.
  Outcome ignored = InvokeId(d, id, DISPATCH_PROPERTYGET, {&one});
  EXPECT_EQ(ignored.hr, S_OK);
  EXPECT_EQ(ignored.result.vt(), VT_EMPTY);
  // A put needs exactly one argument; PUTREF counts as a put.
  EXPECT_EQ(InvokeId(d, id, DISPATCH_PROPERTYPUT, {&one, &two}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(InvokeId(d, id, DISPATCH_PROPERTYPUTREF, {&two}).hr, S_OK);
  EXPECT_EQ(bag.count, 2);
  // A method call on a property name goes to call_method: Empty.
  Outcome call = InvokeId(d, id, DISPATCH_METHOD);
  EXPECT_EQ(call.hr, S_OK);
  EXPECT_EQ(call.result.vt(), VT_EMPTY);
  // Malformed DISPPARAMS are refused, not read.
  DISPPARAMS bad{nullptr, nullptr, 2, 0};
  EXPECT_EQ(d->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &bad, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, nullptr, nullptr, nullptr),
            S_OK);
}

TEST(ShellInvoke, FailuresBecomeDispatchExceptions) {
  TPropertyBag bag;
  Obj shell = Obj::ShellOver(&bag);
  Var abc = Text("abc");
  Outcome out = Put(shell.get(), "Count", abc);
  EXPECT_EQ(out.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(out.scode, DISP_E_EXCEPTION);
  EXPECT_EQ(out.error, "'abc' is not a valid integer value");
  EXPECT_EQ(bag.writes, 0);
  // Without an EXCEPINFO the HRESULT alone reports it.
  DISPID id = 0;
  ASSERT_TRUE(IdOf(shell.get(), "count", &id));
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{abc.ptr(), &put_id, 1, 1};
  EXPECT_EQ(shell.get()->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                                nullptr),
            DISP_E_EXCEPTION);
}

TEST(ShellOverNothing, ReadsAndWritesFailCallsAnswerEmpty) {
  Obj shell = Obj::ShellOver(nullptr);
  Var name = Text("Title"), value = I4(1);
  Outcome read = InvokeId(shell.get(), 3, DISPATCH_METHOD, {&name});
  EXPECT_EQ(read.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(read.error, "Property is not found : Title");
  EXPECT_EQ(InvokeId(shell.get(), 4, DISPATCH_METHOD, {&name, &value}).error,
            "Property is not found : Title");
  Outcome call = InvokeId(shell.get(), 5, DISPATCH_METHOD, {&name, &value});
  EXPECT_EQ(call.hr, S_OK);
  EXPECT_EQ(call.result.vt(), VT_EMPTY);
  EXPECT_EQ(AddressOf(shell.get()), 0);
}

TEST(ShellOverNothing, DestroyedObjectBehavesAsNothing) {
  auto bag = std::make_unique<TPropertyBag>();
  Obj shell = Obj::ShellOver(bag.get());
  DISPID id = 0;
  ASSERT_TRUE(IdOf(shell.get(), "caption", &id));
  ObjectHandle handle = bag->Handle();
  bag.reset();

  Outcome read = InvokeId(shell.get(), id, DISPATCH_PROPERTYGET);
  EXPECT_EQ(read.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(read.error, "Property is not found : caption");
  Var v = Text("x");
  EXPECT_EQ(InvokeId(shell.get(), id, DISPATCH_PROPERTYPUT, {&v}).error,
            "Property is not found : caption");
  EXPECT_EQ(InvokeId(shell.get(), id, DISPATCH_METHOD).result.vt(), VT_EMPTY);
  EXPECT_FALSE(IdOf(shell.get(), "count", &id));
  EXPECT_EQ(AddressOf(shell.get()), 0);
  // The shell still holds its own lock under the old handle.
  EXPECT_NE(shell_registry().lock_of(handle), nullptr);
  shell.reset();
  EXPECT_EQ(shell_registry().lock_of(handle), nullptr);
}

// The registry lists every live shell for the whole process; a shell nobody
// releases must still be a leak to the leak checker.
TEST(ShellRegistry, AShellNobodyReleasesIsFoundByTheLeakChecker) {
  if (!test::LeakCheckAvailable()) GTEST_SKIP() << "no leak checker in this build";
  TPropertyBag bag;
  uintptr_t leaked = 0;  // disguised: no reference to the shell
  // Made on a thread of its own: no register or stack slot here points at it.
  std::thread([&] {
    Tactivex_shell* shell = create_shell(&bag);
    shell->AddRef();
    leaked = ~reinterpret_cast<uintptr_t>(shell);
  }).join();
  EXPECT_TRUE(test::LeaksFoundNow()) << "the shell registry hides a leaked shell";
  EXPECT_EQ(reinterpret_cast<Tactivex_shell*>(~leaked)->Release(), 0u);
  EXPECT_FALSE(test::LeaksFoundNow());
}

TEST(ShellRegistry, ShellsOverOneObjectShareOneLock) {
  TPropertyBag bag, other;
  size_t before = shell_registry().count();
  Tactivex_shell* a = create_shell(&bag);
  Tactivex_shell* b = create_shell(&bag);
  Tactivex_shell* c = create_shell(&other);
  Tactivex_shell* n1 = create_shell(nullptr);
  Tactivex_shell* n2 = create_shell(nullptr);
  for (Tactivex_shell* s : {a, b, c, n1, n2}) s->AddRef();
  EXPECT_EQ(shell_registry().count(), before + 5);
  EXPECT_EQ(&a->lock(), &b->lock());
  EXPECT_NE(&a->lock(), &c->lock());
  EXPECT_EQ(&n1->lock(), &n2->lock());

  Tthread_lock* shared = &a->lock();
  EXPECT_EQ(a->Release(), 0u);
  EXPECT_EQ(shell_registry().lock_of(bag.Handle()), shared);  // survives with b
  b->Release();
  EXPECT_EQ(shell_registry().lock_of(bag.Handle()), nullptr);  // gone with the last
  for (Tactivex_shell* s : {c, n1, n2}) s->Release();
  EXPECT_EQ(shell_registry().count(), before);
}

TEST(ShellIdentity, InterfacesAndReferenceCounts) {
  TPropertyBag bag;
  VARIANT v = shell_variant(&bag);
  ASSERT_EQ(v.vt, VT_DISPATCH);
  IDispatch* d = v.pdispVal;
  auto* shell = static_cast<Tactivex_shell*>(static_cast<Iactivex_shell*>(d));
  EXPECT_EQ(shell->reference_count(), 1u);

  void* p = nullptr;
  ASSERT_EQ(d->QueryInterface(IID_Iactivex_shell, &p), S_OK);
  EXPECT_EQ(p, d);
  LONG address = 0;
  EXPECT_EQ(static_cast<Iactivex_shell*>(p)->get_address(&address), S_OK);
  EXPECT_EQ(address, static_cast<LONG>(bag.Handle()));
  EXPECT_EQ(static_cast<Iactivex_shell*>(p)->get_address(nullptr), E_POINTER);
  static_cast<IUnknown*>(p)->Release();
  ASSERT_EQ(d->QueryInterface(IID_IUnknown, &p), S_OK);
  EXPECT_EQ(p, d);
  static_cast<IUnknown*>(p)->Release();

  IObjectSafety* safety = nullptr;
  ASSERT_EQ(d->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)), S_OK);
  ASSERT_EQ(safety->QueryInterface(IID_IDispatch, &p), S_OK);
  EXPECT_EQ(p, d);  // back to the same identity
  static_cast<IUnknown*>(p)->Release();
  safety->Release();

  p = &bag;
  EXPECT_EQ(d->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(d->QueryInterface(IID_IDispatch, nullptr), E_POINTER);

  UINT count = 9;
  EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(&bag);
  EXPECT_EQ(d->GetTypeInfo(0, 0, &info), DISP_E_BADINDEX);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(shell->reference_count(), 1u);
  VariantClear(&v);
}

TEST(ShellIdentity, ObjectSafetyOptions) {
  Obj shell = Obj::ShellOver(nullptr);
  IObjectSafety* safety = nullptr;
  ASSERT_EQ(shell.get()->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety)),
            S_OK);
  DWORD supported = 9, enabled = 9;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IClassFactory, &supported, &enabled),
            E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_Iactivex_shell, 0x7, 0x5), S_OK);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IClassFactory, 0x3, 0x3), E_NOINTERFACE);
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 1u);  // 7 AND 5 AND 3
  safety->Release();
}

TEST(ShellGeneric, OwnedComponentsReadAsShellsButAreNotWritable) {
  TPropertyBag owner;
  TPropertyBag child(&owner);
  child.SetName("Child");
  child.caption = "inner";
  Obj shell = Obj::ShellOver(&owner);
  Outcome read = Get(shell.get(), "child");
  ASSERT_EQ(read.result.vt(), VT_DISPATCH);
  EXPECT_EQ(Get(read.result.dispatch(), "Caption").result.text(), "inner");
  EXPECT_EQ(Put(shell.get(), "CHILD", I4(1)).error, "Property is not found : child");
  // A published property wins over a component of the same name.
  child.SetName("Caption");
  EXPECT_EQ(Get(shell.get(), "caption").result.vt(), VT_BSTR);
}

TEST(ShellGeneric, MethodProviderVerbs) {
  TVerbBag verbs;
  Obj shell = Obj::ShellOver(&verbs);
  Var a = Text("a"), b = I4(2), c = Bool(true), n = I4(21);
  EXPECT_EQ(Call(shell.get(), "TWICE", {&n}).result.i4(), 42);
  EXPECT_EQ(verbs.last_name, "twice");  // lower-cased on the way in
  EXPECT_EQ(Call(shell.get(), "join", {&a, &b, &c}).result.text(), "a+2+True");
  Call(shell.get(), "join");
  EXPECT_TRUE(verbs.last_params.IsEmpty());
  // exec passes the name verbatim and the rest as parameters.
  Var verb = Text("twice");
  EXPECT_EQ(InvokeId(shell.get(), 5, DISPATCH_METHOD, {&verb, &n}).result.i4(), 42);
  Outcome missing = Call(shell.get(), "twice");
  EXPECT_EQ(missing.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(missing.error, "Missing argument 1");
  DISPID id = 0;
  EXPECT_FALSE(IdOf(shell.get(), "thrice", &id));
}

class TMarked : public TComponent {
  QUILL_DECLARE_CLASS()
};
const TClassInfo TMarked::StaticClassInfo{"TMarked", &TComponent::StaticClassInfo, {}};
class TMarkedChild : public TMarked {
  QUILL_DECLARE_CLASS()
};
const TClassInfo TMarkedChild::StaticClassInfo{"TMarkedChild", &TMarked::StaticClassInfo, {}};

class MarkedShell : public Tactivex_shell {
 public:
  using Tactivex_shell::Tactivex_shell;
  bool has_name(const std::string& name) override {
    return name == "marked" || Tactivex_shell::has_name(name);
  }
  Variant get_property(const std::string& name) override {
    return name == "marked" ? Variant(true) : Tactivex_shell::get_property(name);
  }
};

TEST(ShellKinds, CreateShellPicksTheKindByClass) {
  register_shell_kind(TMarked::StaticClassInfo,
                      [](TObject* o) -> Tactivex_shell* { return new MarkedShell(o); });
  TStringList list;
  TTestCollection items;
  TMarkedChild marked;
  TPropertyBag bag;
  auto kind_of = [](TObject* o) {
    Tactivex_shell* s = create_shell(o);
    s->AddRef();
    int kind = dynamic_cast<Tactivex_shell_strings*>(s)      ? 1
               : dynamic_cast<Tactivex_shell_collection*>(s) ? 2
               : dynamic_cast<MarkedShell*>(s)               ? 3
                                                             : 0;
    s->Release();
    return kind;
  };
  EXPECT_EQ(kind_of(&list), 1);
  EXPECT_EQ(kind_of(&items), 2);
  EXPECT_EQ(kind_of(&marked), 3);  // a class derived from a registered one
  EXPECT_EQ(kind_of(&bag), 0);
  EXPECT_EQ(kind_of(nullptr), 0);
  Obj shell = Obj::ShellOver(&marked);
  EXPECT_TRUE(Get(shell.get(), "Marked").result.boolean());
}

TEST(ShellHelpers, ValueTextAndNameInList) {
  EXPECT_EQ(value_text(Variant()), "");
  EXPECT_EQ(value_text(Variant::Null()), "");
  EXPECT_EQ(value_text(Variant(2.5)), "2.5");
  EXPECT_EQ(value_text(Variant(true)), "True");
  // An array has no text form: refused, never taken as "".
  EXPECT_THROW(value_text(Variant(VariantArray{0, {Variant(1)}})), EVariantError);
  EXPECT_TRUE(name_in_list("b", " a ,\tb\r\n,c"));
  EXPECT_TRUE(name_in_list("c", "a,b,c"));
  EXPECT_FALSE(name_in_list("B", "a,b,c"));
  EXPECT_FALSE(name_in_list("a b", "a,b"));
  EXPECT_FALSE(name_in_list("x", ""));
  EXPECT_EQ(index_value(Variant("12")), 12);
  EXPECT_EQ(index_value(Variant("x")), 0);
  EXPECT_EQ(index_value(Variant()), 0);
}

}  // namespace
}  // namespace quill::testing
