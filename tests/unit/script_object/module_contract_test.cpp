// Quill.so as a client sees it, without a database server: the entry
// points, the class factory, the interfaces the object answers, its type
// information, the dispatch layer's argument rules, registration, unloading,
// and the members that need no connection.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/quill_client.h"
#include "support/registry_file.h"
#include "support/type_info_client.h"

namespace quill::test {

// The dual interface as a client declares it from the type library. (Not in
// an anonymous namespace: the compiler would then conclude that nothing
// implements it and turn the calls into pure-virtual traps.)
struct IQuillClient : IDispatch {
  virtual HRESULT get_Server(BSTR, BSTR, BSTR, ULONG, BSTR, VARIANT_BOOL, UINT, VARIANT*) = 0;
  virtual HRESULT get_Dataset(BSTR, BSTR, VARIANT_BOOL, BSTR, BSTR, VARIANT*) = 0;
  virtual HRESULT Connect(BSTR, BSTR, BSTR, ULONG, BSTR, VARIANT_BOOL, UINT) = 0;
  virtual HRESULT Link(BSTR, BSTR, BSTR) = 0;
  virtual HRESULT UnLink(BSTR) = 0;
  virtual HRESULT get_Content(BSTR, VARIANT_BOOL, BSTR, BSTR*) = 0;
  virtual HRESULT get_ContentTable(BSTR, VARIANT_BOOL, BSTR, BSTR, BSTR, BSTR*) = 0;
  virtual HRESULT Execute(BSTR, BSTR, BSTR, VARIANT) = 0;
  virtual HRESULT OnStartPage(IUnknown*) = 0;
  virtual HRESULT OnEndPage() = 0;
  virtual HRESULT ExecSQL(BSTR, BSTR, BSTR, BSTR, ULONG, BSTR, VARIANT_BOOL, UINT) = 0;
  virtual HRESULT get_Recordset(BSTR, BSTR, VARIANT_BOOL, BSTR, BSTR, VARIANT*) = 0;
  virtual HRESULT get_Connection(BSTR, BSTR, BSTR, ULONG, BSTR, VARIANT_BOOL, UINT, VARIANT*) = 0;
  virtual HRESULT get_FormatDateTime(BSTR, DATE, BSTR*) = 0;
};

struct IQuill2Client : IQuillClient {
  virtual HRESULT BeginTrans() = 0;
  virtual HRESULT CommitTrans() = 0;
  virtual HRESULT RollbackTrans() = 0;
  virtual HRESULT get_InTransaction(VARIANT_BOOL*) = 0;
  virtual HRESULT get_Query(BSTR, BSTR, VARIANT, VARIANT*) = 0;
  virtual HRESULT Exec(BSTR, VARIANT, VARIANT*) = 0;
  virtual HRESULT get_GetRows(BSTR, LONG, BSTR, VARIANT*) = 0;
  virtual HRESULT get_ContentJSON(BSTR, BSTR*) = 0;
};

struct IPageEventsClient : IUnknown {
  virtual HRESULT OnStartPage(IUnknown*) = 0;
  virtual HRESULT OnEndPage() = 0;
};

namespace {

template <class T>
T* Query(IUnknown* object, const IID& iid, HRESULT* hr_out = nullptr) {
  void* out = reinterpret_cast<void*>(1);
  const HRESULT hr = object->QueryInterface(iid, &out);
  if (hr_out != nullptr) *hr_out = hr;
  if (FAILED(hr)) {
    EXPECT_EQ(out, nullptr) << "a failed query must clear its output";
    return nullptr;
  }
  return static_cast<T*>(out);
}

IClassFactory* Factory() {
  IClassFactory* factory = nullptr;
  EXPECT_EQ(QuillModule::Get().GetClassObject(kQuillClsid, IID_IClassFactory,
                                               reinterpret_cast<void**>(&factory)),
            S_OK);
  return factory;
}

// A controlling object for aggregation tests: counts its references.
struct Outer final : IUnknown {
  std::atomic<ULONG> refs{1};
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
};

// --- Entry points and factory ----------------------------------------------------------------

TEST(ModuleEntryPoints, ClassObjectOnlyForTheQuillClass) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(QuillModule::Get().GetClassObject(IID_IDispatch, IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(QuillModule::Get().GetClassObject(kQuillClsid, IID_IClassFactory, nullptr), E_POINTER);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(QuillModule::Get().GetClassObject(kQuillClsid, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(QuillModule::Get().GetClassObject(kQuillClsid, IID_IUnknown,
                                              reinterpret_cast<void**>(&unknown)),
            S_OK);
  unknown->Release();
}

TEST(ModuleEntryPoints, FactoryRefusesBadRequests) {
  IClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
  Outer outer;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(QuillModule::Get().CanUnloadNow(), S_OK) << "the refused object must be gone";
  factory->Release();
}

TEST(ModuleEntryPoints, AggregatedObjectDelegatesToItsOuter) {
  IClassFactory* factory = Factory();
  Outer outer;
  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  factory->Release();
  IDispatch* dispatch = Query<IDispatch>(inner, IID_IDispatch);
  ASSERT_NE(dispatch, nullptr);
  EXPECT_EQ(outer.refs.load(), 2u) << "interfaces of a part count on the whole";
  dispatch->Release();
  EXPECT_EQ(outer.refs.load(), 1u);
  EXPECT_EQ(QuillModule::Get().CanUnloadNow(), S_FALSE);
  inner->Release();
  EXPECT_EQ(QuillModule::Get().CanUnloadNow(), S_OK);
}

TEST(ModuleEntryPoints, CanUnloadNowCountsObjectsLocksTypeInfoAndShells) {
  EXPECT_EQ(QuillModule::Get().CanUnloadNow(), S_OK);
  IClassFactory* factory = Factory();
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(QuillModule::Get().CanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(QuillModule::Get().CanUnloadNow(), S_OK);
  factory->Release();

  Dispatch q = CreateQuill();
  EXPECT_EQ(QuillModule::Get().CanUnloadNow(), S_FALSE);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(q.get()->GetTypeInfo(0, 0, &info), S_OK);
  Dispatch server = Dispatch::From(q.Get(u"Server"));
  ASSERT_TRUE(server);
  q.Reset();
  EXPECT_EQ(QuillModule::Get().CanUnloadNow(), S_FALSE) << "type information still held";
  info->Release();
  EXPECT_EQ(QuillModule::Get().CanUnloadNow(), S_FALSE) << "a shell still held";
  server.Reset();
  EXPECT_EQ(QuillModule::Get().CanUnloadNow(), S_OK);
}

// --- Interfaces ---------------------------------------------------------------------------------

TEST(ObjectInterfaces, AnswersItsInterfacesWithOneIdentity) {
  Dispatch q = CreateQuill();
  IUnknown* unknown = Query<IUnknown>(q.get(), IID_IUnknown);
  ASSERT_NE(unknown, nullptr);
  for (const IID* iid : {&IID_IDispatch, &kIQuillIid, &kIQuill2Iid, &IID_ISupportErrorInfo,
                         &IID_IProvideClassInfo, &kIPageEventsIid}) {
    IUnknown* part = Query<IUnknown>(q.get(), *iid);
    ASSERT_NE(part, nullptr);
    IUnknown* same = Query<IUnknown>(part, IID_IUnknown);
    EXPECT_EQ(same, unknown);
    same->Release();
    part->Release();
  }
  HRESULT hr = S_OK;
  EXPECT_EQ(Query<IUnknown>(q.get(), IID_IClassFactory, &hr), nullptr);
  EXPECT_EQ(hr, E_NOINTERFACE);
  EXPECT_EQ(Query<IUnknown>(q.get(), kIScriptingContextIid, &hr), nullptr);
  unknown->Release();
}

TEST(ObjectInterfaces, SupportsErrorInfoOnlyForItsOwnInterfaces) {
  Dispatch q = CreateQuill();
  auto* support = Query<ISupportErrorInfo>(q.get(), IID_ISupportErrorInfo);
  ASSERT_NE(support, nullptr);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kIQuillIid), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(kIQuill2Iid), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE);
  support->Release();
}

// The extension's slots follow IQuill's and report failures the same way.
TEST(ObjectInterfaces, SecondInterfaceExtendsTheVtable) {
  Dispatch q = CreateQuill();
  auto* quill = Query<IQuill2Client>(q.get(), kIQuill2Iid);
  ASSERT_NE(quill, nullptr);
  BSTR text = nullptr;
  BSTR format = NewBstr("yyyy");
  EXPECT_EQ(quill->get_FormatDateTime(format, 36526, &text), S_OK);
  EXPECT_EQ(BstrText(text), "2000");
  SysFreeString(text);
  SysFreeString(format);
  VARIANT_BOOL open = VARIANT_TRUE;
  EXPECT_EQ(quill->get_InTransaction(&open), S_OK);
  EXPECT_EQ(open, VARIANT_FALSE);

  SetErrorInfo(0, nullptr);
  EXPECT_EQ(quill->CommitTrans(), E_UNEXPECTED);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  GUID guid{};
  info->GetGUID(&guid);
  EXPECT_EQ(guid, kIQuillIid);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_EQ(BstrText(description), "No transaction is open");
  SysFreeString(description);
  info->Release();

  BSTR name = NewBstr("none");
  EXPECT_EQ(quill->get_ContentJSON(name, &text), E_UNEXPECTED);
  EXPECT_EQ(text, nullptr);
  SysFreeString(name);
  quill->Release();
}

TEST(ObjectInterfaces, DualVtableReportsFailuresThroughErrorInfo) {
  Dispatch q = CreateQuill();
  auto* quill = Query<IQuillClient>(q.get(), kIQuillIid);
  ASSERT_NE(quill, nullptr);

  BSTR text = nullptr;
  BSTR format = NewBstr("yyyy-mm-dd");
  EXPECT_EQ(quill->get_FormatDateTime(format, 36526.75, &text), S_OK);
  EXPECT_EQ(BstrText(text), "2000-01-01");
  SysFreeString(text);
  SysFreeString(format);

  SetErrorInfo(0, nullptr);
  BSTR name = NewBstr("nobody");
  EXPECT_EQ(quill->UnLink(name), E_UNEXPECTED);
  SysFreeString(name);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  GUID guid{};
  info->GetGUID(&guid);
  EXPECT_EQ(guid, kIQuillIid);
  BSTR source = nullptr;
  BSTR description = nullptr;
  info->GetSource(&source);
  info->GetDescription(&description);
  EXPECT_EQ(BstrText(source), "Harrow.Quill");
  EXPECT_EQ(BstrText(description), "Detail dataset \"nobody\" not found.");
  SysFreeString(source);
  SysFreeString(description);
  info->Release();
  quill->Release();
}

TEST(ObjectInterfaces, PageEventsReachTheSameOperations) {
  Dispatch q = CreateQuill();
  auto* events = Query<IPageEventsClient>(q.get(), kIPageEventsIid);
  ASSERT_NE(events, nullptr);
  TestObject* not_a_context = TestObject::New();
  EXPECT_EQ(events->OnStartPage(not_a_context), E_UNEXPECTED);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_EQ(BstrText(description), "Interface not supported");
  SysFreeString(description);
  info->Release();

  IUnknown* context = NewFormContext({});
  const ULONG before = static_cast<TestObject*>(context)->refs();
  EXPECT_EQ(events->OnStartPage(context), S_OK);
  EXPECT_GT(static_cast<TestObject*>(context)->refs(), before) << "the context is kept";
  EXPECT_EQ(events->OnEndPage(), S_OK);
  EXPECT_EQ(static_cast<TestObject*>(context)->refs(), before) << "and released at page end";
  EXPECT_EQ(events->OnStartPage(nullptr), S_OK);
  context->Release();
  not_a_context->Release();
  events->Release();
}

TEST(ObjectInterfaces, ContextIsReleasedWithTheObject) {
  IUnknown* context = NewFormContext({});
  auto* counted = static_cast<TestObject*>(context);
  {
    Dispatch q = CreateQuill();
    EXPECT_TRUE(q.Method(u"OnStartPage", {Arg::Unknown(context)}).ok());
    EXPECT_EQ(counted->refs(), 2u);
    // A second page replaces the first page's context.
    EXPECT_TRUE(q.Method(u"OnStartPage", {Arg::Unknown(context)}).ok());
    EXPECT_EQ(counted->refs(), 2u);
    // A null context (Nothing) clears it without error.
    EXPECT_TRUE(q.Method(u"OnStartPage", {Arg::Dispatch(nullptr)}).ok());
    EXPECT_EQ(counted->refs(), 1u);
    EXPECT_TRUE(q.Method(u"OnStartPage", {Arg::Unknown(context)}).ok());
  }
  EXPECT_EQ(counted->refs(), 1u);
  context->Release();
}

// --- Type information --------------------------------------------------------------------------

struct TypeInfoFixture : ::testing::Test {
  void SetUp() override {
    q = CreateQuill();
    UINT count = 0;
    ASSERT_EQ(q.get()->GetTypeInfoCount(&count), S_OK);
    ASSERT_EQ(count, 1u);
    ASSERT_EQ(q.get()->GetTypeInfo(0, 0, &info), S_OK);
  }
  void TearDown() override {
    if (info != nullptr) info->Release();
  }
  // The function description of member `id`, or null.
  FUNCDESC* Func(DISPID id) {
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    const WORD n = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < n; ++i) {
      FUNCDESC* f = nullptr;
      if (info->GetFuncDesc(i, &f) == S_OK && f->memid == id) return f;
      info->ReleaseFuncDesc(f);
    }
    return nullptr;
  }
  Dispatch q;
  ITypeInfo* info = nullptr;
};

TEST_F(TypeInfoFixture, OnlyIndexZeroExists) {
  ITypeInfo* other = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(q.get()->GetTypeInfo(1, 0, &other), DISP_E_BADINDEX);
  EXPECT_EQ(other, nullptr);
}

TEST_F(TypeInfoFixture, DescribesTheDualInterface) {
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, kIQuill2Iid);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_EQ(attr->cFuncs, 22);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0x0409u);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  info->ReleaseTypeAttr(attr);

  BSTR name = nullptr;
  BSTR doc = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(BstrText(name), "IQuill2");
  SysFreeString(name);
  SysFreeString(doc);

  // Its base is IQuill, described as it always was.
  HREFTYPE ref = 0;
  ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
  ITypeInfo* base = nullptr;
  ASSERT_EQ(info->GetRefTypeInfo(ref, &base), S_OK);
  ASSERT_EQ(base->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, kIQuillIid);
  EXPECT_EQ(attr->cFuncs, 14);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  base->ReleaseTypeAttr(attr);
  ASSERT_EQ(base->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(BstrText(name), "IQuill");
  EXPECT_EQ(BstrText(doc), "Dispatch interface for Quill Object");
  SysFreeString(name);
  SysFreeString(doc);
  EXPECT_EQ(base->GetDocumentation(100, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
  base->Release();
  ASSERT_EQ(info->GetDocumentation(3, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(BstrText(name), "Server");
  EXPECT_EQ(BstrText(doc), "Server Object");
  SysFreeString(name);
  SysFreeString(doc);
  EXPECT_EQ(info->GetDocumentation(99, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(TypeInfoFixture, MembersCarryTheirDispidsKindsAndArguments) {
  struct Expected {
    DISPID id;
    const char* name;
    INVOKEKIND kind;
    SHORT params;
    VARTYPE result;
  };
  const Expected members[] = {
      {3, "Server", INVOKE_PROPERTYGET, 7, VT_VARIANT},
      {4, "Dataset", INVOKE_PROPERTYGET, 5, VT_VARIANT},
      {9, "Connect", INVOKE_FUNC, 7, VT_VOID},
      {10, "Link", INVOKE_FUNC, 3, VT_VOID},
      {11, "UnLink", INVOKE_FUNC, 1, VT_VOID},
      {7, "Content", INVOKE_PROPERTYGET, 3, VT_BSTR},
      {5, "ContentTable", INVOKE_PROPERTYGET, 5, VT_BSTR},
      {6, "Execute", INVOKE_FUNC, 4, VT_VOID},
      {1, "OnStartPage", INVOKE_FUNC, 1, VT_VOID},
      {2, "OnEndPage", INVOKE_FUNC, 0, VT_VOID},
      {8, "ExecSQL", INVOKE_FUNC, 8, VT_VOID},
      {13, "Recordset", INVOKE_PROPERTYGET, 5, VT_VARIANT},
      {14, "Connection", INVOKE_PROPERTYGET, 7, VT_VARIANT},
      {15, "FormatDateTime", INVOKE_PROPERTYGET, 2, VT_BSTR},
      {100, "BeginTrans", INVOKE_FUNC, 0, VT_VOID},
      {101, "CommitTrans", INVOKE_FUNC, 0, VT_VOID},
      {102, "RollbackTrans", INVOKE_FUNC, 0, VT_VOID},
      {103, "InTransaction", INVOKE_PROPERTYGET, 0, VT_BOOL},
      {104, "Query", INVOKE_PROPERTYGET, 3, VT_VARIANT},
      {105, "Exec", INVOKE_FUNC, 2, VT_VARIANT},
      {106, "GetRows", INVOKE_PROPERTYGET, 3, VT_VARIANT},
      {107, "ContentJSON", INVOKE_PROPERTYGET, 1, VT_BSTR},
  };
  for (const Expected& e : members) {
    FUNCDESC* f = Func(e.id);
    ASSERT_NE(f, nullptr) << e.name;
    EXPECT_EQ(f->invkind, e.kind) << e.name;
    EXPECT_EQ(f->cParams, e.params) << e.name;
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, e.result) << e.name;
    info->ReleaseFuncDesc(f);
    std::u16string wide = Wide(e.name);
    LPOLESTR names[] = {wide.data()};
    MEMBERID id = 0;
    EXPECT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, e.id) << e.name;
  }
}

TEST_F(TypeInfoFixture, ArgumentsCarryTypesAndDefaults) {
  FUNCDESC* server = Func(3);
  ASSERT_NE(server, nullptr);
  const ELEMDESC& port = server->lprgelemdescParam[3];
  EXPECT_EQ(port.tdesc.vt, VT_UI4);
  ASSERT_NE(port.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT, 0);
  EXPECT_EQ(port.paramdesc.pparamdescex->varDefaultValue.vt, VT_UI4);
  EXPECT_EQ(port.paramdesc.pparamdescex->varDefaultValue.ulVal, 3306u);
  const ELEMDESC& user = server->lprgelemdescParam[1];
  EXPECT_EQ(BstrText(user.paramdesc.pparamdescex->varDefaultValue.bstrVal), "root");
  EXPECT_EQ(server->lprgelemdescParam[5].tdesc.vt, VT_BOOL);
  EXPECT_EQ(server->lprgelemdescParam[6].tdesc.vt, VT_UINT);
  info->ReleaseFuncDesc(server);

  FUNCDESC* table = Func(5);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN) << "Name is required";
  EXPECT_EQ(BstrText(table->lprgelemdescParam[4].paramdesc.pparamdescex->varDefaultValue.bstrVal),
            "</table>");
  info->ReleaseFuncDesc(table);

  FUNCDESC* execute = Func(6);
  ASSERT_NE(execute, nullptr);
  const ELEMDESC& values = execute->lprgelemdescParam[3];
  EXPECT_EQ(values.tdesc.vt, VT_VARIANT);
  EXPECT_EQ(values.paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOPT) << "optional, no default";
  info->ReleaseFuncDesc(execute);

  BSTR names[4] = {};
  UINT count = 0;
  ASSERT_EQ(info->GetNames(15, names, 4, &count), S_OK);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(BstrText(names[0]), "FormatDateTime");
  EXPECT_EQ(BstrText(names[1]), "Format");
  EXPECT_EQ(BstrText(names[2]), "DateTime");
  for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
}

TEST_F(TypeInfoFixture, InvokeThroughTypeInfoCallsTheObject) {
  auto* quill = Query<IQuillClient>(q.get(), kIQuillIid);
  ASSERT_NE(quill, nullptr);
  VARIANT args[2];
  args[1].vt = VT_BSTR;  // Format, given first, stands last
  args[1].bstrVal = NewBstr("dd.mm.yy");
  args[0].vt = VT_DATE;
  args[0].date = 36526;
  DISPPARAMS params{args, nullptr, 2, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(info->Invoke(quill, 15, DISPATCH_PROPERTYGET, &params, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(BstrText(result.bstrVal), "01.01.00");
  VariantClear(&result);
  VariantClear(&args[1]);
  quill->Release();
}

TEST_F(TypeInfoFixture, ClassInfoPointsAtTheDefaultInterface) {
  auto* provide = Query<IProvideClassInfo>(q.get(), IID_IProvideClassInfo);
  ASSERT_NE(provide, nullptr);
  ITypeInfo* cls = nullptr;
  ASSERT_EQ(provide->GetClassInfo(&cls), S_OK);
  provide->Release();
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, kQuillClsid);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(attr->cImplTypes, 1);
  cls->ReleaseTypeAttr(attr);
  INT flags = 0;
  EXPECT_EQ(cls->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
  HREFTYPE ref = 0;
  ASSERT_EQ(cls->GetRefTypeOfImplType(0, &ref), S_OK);
  ITypeInfo* intf = nullptr;
  ASSERT_EQ(cls->GetRefTypeInfo(ref, &intf), S_OK);
  ASSERT_EQ(intf->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, kIQuill2Iid);
  intf->ReleaseTypeAttr(attr);
  intf->Release();
  BSTR name = nullptr;
  ASSERT_EQ(cls->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(BstrText(name), "Quill");
  SysFreeString(name);
  cls->Release();
}

// --- Dispatch rules ------------------------------------------------------------------------------

TEST(DispatchRules, NamesResolveWithoutRegardToCase) {
  Dispatch q = CreateQuill();
  EXPECT_EQ(q.Id(u"formatdatetime"), 15);
  EXPECT_EQ(q.Id(u"CONTENTTABLE"), 5);
  EXPECT_EQ(q.Id(u"NoSuchMember"), DISPID_UNKNOWN);
  std::u16string member = u"Connect", arg1 = u"port", arg2 = u"nope";
  LPOLESTR names[] = {member.data(), arg1.data(), arg2.data()};
  DISPID ids[3] = {};
  EXPECT_EQ(q.get()->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 9);
  EXPECT_EQ(ids[1], 3);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
}

TEST(DispatchRules, RequiredArgumentsMustBeGiven) {
  Dispatch q = CreateQuill();
  EXPECT_EQ(q.Get(u"ContentTable").hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(q.Get(u"ContentTable", {Arg::Missing(), Arg::Bool(false)}).hr,
            DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(q.Method(u"Link", {Arg::Str("a"), Arg::Str("b")}).hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(q.Method(u"UnLink").hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(q.Method(u"OnStartPage").hr, DISP_E_PARAMNOTOPTIONAL);
}

TEST(DispatchRules, CountKindAndTypeAreChecked) {
  Dispatch q = CreateQuill();
  EXPECT_EQ(q.Method(u"OnEndPage", {Arg::I4(1)}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(q.Call(u"OnEndPage", DISPATCH_PROPERTYGET).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(q.Put(u"FormatDateTime", Arg::Str("x")).hr, DISP_E_MEMBERNOTFOUND);
  Outcome bad = q.Get(u"FormatDateTime", {Arg::Str("yyyy"), Arg::Str("not a date")});
  EXPECT_EQ(bad.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(bad.arg_error, 0u) << "the date stands first in rgvarg";
  EXPECT_EQ(q.Method(u"Connect", {Arg::Str("h"), Arg::Str("u"), Arg::Str("p"), Arg::I4(-1)}).hr,
            DISP_E_OVERFLOW);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(q.get()->Invoke(77, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST(DispatchRules, ArgumentsConvertAndDefaultsFillGaps) {
  Dispatch q = CreateQuill();
  // A property get may be called as a method; the date arrives as text.
  Outcome r = q.Method(u"FormatDateTime", {Arg::Str("yyyy/mm/dd"), Arg::Str("2/3/2001")});
  ASSERT_TRUE(r.ok()) << r.hr;
  EXPECT_EQ(r.Text(), "2001/02/03");
  // A missing argument in the middle takes its default; named arguments
  // go to their positions.
  r = q.Get(u"FormatDateTime", {}, {{u"DateTime", Arg::Date(36526.5)}});
  EXPECT_EQ(r.Text(), "2000-01-01 12:00:00");
  r = q.Get(u"FormatDateTime", {Arg::Missing(), Arg::Date(1.5)});
  EXPECT_EQ(r.Text(), "1899-12-31 12:00:00");
  EXPECT_EQ(q.Get(u"FormatDateTime", {Arg::Str("x")}, {{u"Format", Arg::Str("y")}}).hr,
            DISP_E_PARAMNOTFOUND)
      << "one argument given twice";
}

TEST(DispatchRules, MemberFailuresArriveAsExceptions) {
  Dispatch q = CreateQuill();
  Outcome r = q.Method(u"UnLink", {Arg::Str("ghost")});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.scode, E_UNEXPECTED);
  EXPECT_EQ(r.source, "Harrow.Quill");
  EXPECT_EQ(r.error, "Detail dataset \"ghost\" not found.");
}

// --- Members without a server ------------------------------------------------------------------

TEST(FormatDateTimeMember, FormatsByTheFormatLanguage) {
  Dispatch q = CreateQuill();
  auto fmt = [&](std::vector<Arg> args) { return q.Get(u"FormatDateTime", std::move(args)).Text(); };
  const double one_pm_five = 36526 + (13 * 60 + 5) / 1440.0;
  EXPECT_EQ(fmt({}), "1899-12-30 00:00:00");
  EXPECT_EQ(fmt({Arg::Str("hh:mm"), Arg::Date(one_pm_five)}), "13:05");
  EXPECT_EQ(fmt({Arg::Str("h:nn AM/PM"), Arg::Date(one_pm_five)}), "1:05 PM");
  EXPECT_EQ(fmt({Arg::Str("h:nn am/pm"), Arg::Date(36526.25)}), "6:00 am");
  EXPECT_EQ(fmt({Arg::Str(""), Arg::Date(36526.5)}), "1/1/2000 12:00:00 PM");
  EXPECT_EQ(fmt({Arg::Str("c"), Arg::Date(36526)}), "1/1/2000");
  EXPECT_EQ(fmt({Arg::Str("dddd d mmmm yyyy"), Arg::Date(36526)}), "Saturday 1 January 2000");
  EXPECT_EQ(fmt({Arg::Str("'dd' \"mm\" dd"), Arg::Date(36526)}), "dd mm 01");
  EXPECT_EQ(fmt({Arg::Str(std::string(300, 'x')), Arg::Date(0)}), std::string(256, 'x'));
}

TEST(ContentWithoutDataset, UnknownNamesRenderTheTemplatesAlone) {
  Dispatch q = CreateQuill();
  Outcome r = q.Get(u"ContentTable", {Arg::Str("nosuch")});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.Text(), "<table></table>");
  EXPECT_EQ(q.Get(u"Content").Text(), "");
  EXPECT_EQ(q.Get(u"Content", {Arg::Str("x"), Arg::Bool(false), Arg::Str("a <#X y=1> b")}).Text(),
            "a  b");
  const std::string plain = "no tag at all\r\n\tkept byte for byte ";
  EXPECT_EQ(q.Get(u"Content", {Arg::Missing(), Arg::Missing(), Arg::Str(plain)}).Text(), plain);
  r = q.Get(u"ContentTable", {Arg::Str("nosuch"), Arg::Bool(false), Arg::Str("h"), Arg::Str("b"),
                              Arg::Str("f")});
  EXPECT_EQ(r.Text(), "hf");
}

TEST(ContentWithoutDataset, TemplateErrorsReachTheScript) {
  Dispatch q = CreateQuill();
  Outcome r = q.Get(u"Content", {Arg::Missing(), Arg::Missing(), Arg::Str(std::string(5000, 'x'))});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error, "Line too long on line 1");
  r = q.Get(u"Content", {Arg::Missing(), Arg::Missing(), Arg::Str("<#T A=%q1>")});
  EXPECT_EQ(r.error, "'$q1' is not a valid integer value");
  r = q.Get(u"Content", {Arg::Str(""), Arg::Bool(true), Arg::Str("/no/such/template.html")});
  EXPECT_EQ(r.error, "Cannot open file /no/such/template.html");
}

TEST(ContentWithoutDataset, TemplatesComeFromFiles) {
  const std::string dir = ::testing::TempDir();
  const std::string head = dir + "/quill_head.html", foot = dir + "/quill_foot.html";
  std::ofstream(head, std::ios::binary) << "<h1>T</h1>\r\n<#FIELDNAMES>";
  std::ofstream(foot, std::ios::binary) << "<p>end</p>";
  Dispatch q = CreateQuill();
  Outcome r = q.Get(u"ContentTable", {Arg::Str("nosuch"), Arg::Bool(true), Arg::Str(head),
                                      Arg::Str(dir + "/missing-body.html"), Arg::Str(foot)});
  ASSERT_TRUE(r.ok()) << r.error;
  // No dataset: the body file is never read.
  EXPECT_EQ(r.Text(), "<h1>T</h1>\r\n<p>end</p>");
  std::remove(head.c_str());
  std::remove(foot.c_str());
}

TEST(DatasetsWithoutServer, RegistryAndLinks) {
  Dispatch q = CreateQuill();
  // Nothing registered: Execute does nothing, whatever the action.
  for (const char* action : {"Next", "EDIT", "delete", "bogus"}) {
    EXPECT_TRUE(q.Method(u"Execute", {Arg::Str(action), Arg::Str("none")}).ok()) << action;
  }
  Dispatch a = Dispatch::From(q.Get(u"Dataset", {Arg::Str("a"), Arg::Str("t1")}));
  ASSERT_TRUE(a);
  Dispatch again = Dispatch::From(q.Get(u"Recordset", {Arg::Str("A"), Arg::Str("t2")}));
  ASSERT_TRUE(again);
  EXPECT_EQ(again.Get(u"TableName").Text(), "t1") << "the name is found ignoring case";
  EXPECT_EQ(again.Get(u"address").Text(), a.Get(u"address").Text());

  Outcome r = q.Get(u"Dataset", {Arg::Str("d"), Arg::Str("items"), Arg::Bool(false), Arg::Str("m")});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error, "Master dataset \"m\" not found.");
  Dispatch d = Dispatch::From(q.Get(u"Dataset", {Arg::Str("d")}));
  EXPECT_EQ(d.Get(u"TableName").Text(), "items") << "the failed link left d registered";

  EXPECT_EQ(q.Method(u"Link", {Arg::Str("d"), Arg::Str("zz"), Arg::Str("")}).error,
            "Master dataset \"zz\" not found.");
  EXPECT_EQ(q.Method(u"Link", {Arg::Str("zz"), Arg::Str("a"), Arg::Str("")}).error,
            "Detail dataset \"zz\" not found.");
  EXPECT_TRUE(q.Method(u"UnLink", {Arg::Str("d")}).ok()) << "no link to drop";
  EXPECT_TRUE(q.Method(u"Link", {Arg::Str("d"), Arg::Str("a"), Arg::Str("x=y")}).ok());
  EXPECT_EQ(d.Get(u"MasterFields").Text(), "x=y");
  EXPECT_TRUE(q.Method(u"Link", {Arg::Str("d"), Arg::Str("a"), Arg::Str("p=q")}).ok());
  EXPECT_EQ(d.Get(u"MasterFields").Text(), "p=q");
  EXPECT_TRUE(q.Method(u"UnLink", {Arg::Str("D")}).ok());
  EXPECT_EQ(d.Get(u"MasterFields").Text(), "");
}

TEST(DatasetsWithoutServer, ShellsOutliveTheObjectAsShellsOverNothing) {
  Dispatch q = CreateQuill();
  Dispatch d = Dispatch::From(q.Get(u"Dataset", {Arg::Str("d"), Arg::Str("items")}));
  Dispatch server = Dispatch::From(q.Get(u"Server"));
  ASSERT_TRUE(d && server);
  EXPECT_EQ(server.Get(u"Host").Text(), "localhost");
  EXPECT_EQ(server.Get(u"UserName").Text(), "root");
  EXPECT_EQ(server.Get(u"Port").Text(), "3306");
  EXPECT_EQ(server.Get(u"LoginPrompt").Text(), "False");
  EXPECT_EQ(d.Get(u"TableName").Text(), "items");
  q.Reset();  // the last reference: the object dies, its datasets with it
  EXPECT_EQ(d.Get(u"address").Text(), "0");
  Outcome r = d.Get(u"TableName");
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error, "Property is not found : tablename");
  EXPECT_EQ(d.Get(u"Active").hr, DISP_E_UNKNOWNNAME) << "a shell over nothing learns no names";
  EXPECT_TRUE(d.Method(u"MoveNext").ok()) << "a verb over nothing does nothing";
  EXPECT_EQ(server.Get(u"Host").hr, DISP_E_EXCEPTION);
}

TEST(ConnectionWithoutServer, FailedConnectReportsAndStaysClosed) {
  Dispatch q = CreateQuill();
  // Port 1 on the loopback refuses at once.
  Outcome r = q.Method(u"Connect", {Arg::Str("127.0.0.1"), Arg::Str("nobody"), Arg::Str("pw"),
                                    Arg::I4(1)});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error, "Could not connect using: nobody@127.0.0.1");
  Dispatch server = Dispatch::From(q.Get(u"Connection"));
  EXPECT_EQ(server.Get(u"Connected").Text(), "False");
  EXPECT_EQ(server.Get(u"Port").Text(), "1");
  // The same failure through Server, which connects first when given a host.
  r = q.Get(u"Server", {Arg::Str("127.0.0.1"), Arg::Str("nobody"), Arg::Missing(), Arg::I4(65537)});
  EXPECT_EQ(r.error, "Could not connect using: nobody@127.0.0.1");
  EXPECT_EQ(server.Get(u"Port").Text(), "1") << "65537 keeps its low 16 bits";
  // Without a host ExecSQL uses the (closed) connection: nothing to do.
  EXPECT_TRUE(q.Method(u"ExecSQL", {Arg::Str("select 1"), Arg::Str("")}).ok());
}

// --- Registration ------------------------------------------------------------------------------

class RegistrationTest : public ::testing::Test {
 protected:
  // The default (or named) value of a key under HKEY_CLASSES_ROOT, or
  // "<missing>".
  static std::string Value(const std::string& key, const char* name = nullptr) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
      return "<missing>";
    }
    char buffer[4096];
    DWORD size = sizeof(buffer);
    DWORD type = 0;
    const LSTATUS s = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(h);
    if (s != ERROR_SUCCESS) return "<missing>";
    EXPECT_EQ(type, REG_SZ);
    return std::string(buffer, size > 0 && buffer[size - 1] == '\0' ? size - 1 : size);
  }
  static std::string File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  ScopedRegistry registry_;
  const std::string& path_ = registry_.path();
};

constexpr const char* kClassKey = "CLSID\\{96C7168E-E85B-46D8-9EF7-0D5777765005}";

TEST_F(RegistrationTest, RegisterTwiceThenUnregisterTwice) {
  ASSERT_EQ(QuillModule::Get().RegisterServer(), S_OK);
  const std::string first = File(path_);
  ASSERT_EQ(QuillModule::Get().RegisterServer(), S_OK);
  EXPECT_EQ(File(path_), first) << "registering again leaves the same entries";

  char module[PATH_MAX];
  ASSERT_NE(realpath(QUILL_MODULE_PATH, module), nullptr);
  const std::string key = kClassKey;
  EXPECT_EQ(Value(key), "");
  EXPECT_EQ(Value(key + "\\InprocServer32"), module);
  EXPECT_EQ(Value(key + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(Value("Harrow.Quill"), "");
  EXPECT_EQ(Value("Harrow.Quill\\Clsid"), "{96C7168E-E85B-46D8-9EF7-0D5777765005}");
  EXPECT_EQ(Value(key + "\\ProgID"), "Harrow.Quill");
  EXPECT_EQ(Value(key + "\\Version"), "1.0");
  EXPECT_EQ(Value(key + "\\TypeLib"), "{9822BE79-9966-473B-B84B-E061D922159E}");

  // A client finds the class by its ProgID and creates it.
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Harrow.Quill", &clsid), S_OK);
  EXPECT_EQ(clsid, kQuillClsid);
  IDispatch* object = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  Dispatch q(object);
  EXPECT_EQ(q.Get(u"FormatDateTime", {Arg::Str("yyyy")}).Text(), "1899");
  q.Reset();

  ASSERT_EQ(QuillModule::Get().UnregisterServer(), S_OK);
  for (const std::string& k : {key, key + "\\InprocServer32", std::string("Harrow.Quill"),
                               key + "\\ProgID", key + "\\TypeLib"}) {
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, k.c_str(), 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND) << k;
  }
  EXPECT_EQ(QuillModule::Get().UnregisterServer(), S_OK) << "nothing left to remove";
}

TEST_F(RegistrationTest, UnreadableRegistryFailsRegistration) {
  std::ofstream(path_) << "this is not a registry file\n";
  EXPECT_EQ(QuillModule::Get().RegisterServer(), E_FAIL);
  EXPECT_EQ(File(path_), "this is not a registry file\n") << "a foreign file is never overwritten";
}

}  // namespace
}  // namespace quill::test
