// The automation bridge against objects of the tests' own: which Invoke
// each script form makes, values both ways, VBArray and Enumerator, errors,
// and the release of every reference.
#include <gtest/gtest.h>

#include <cmath>

#include "host/asp/automation_object.h"
#include "host/asp/dispatch_bridge.h"
#include "host/asp/script_engine.h"
#include "probe_object.h"
#include "script_fixture.h"

namespace quill::asp {
namespace {

using test::Fail;
using test::PageRun;
using test::ProbeObject;
using test::RunScript;
using test::Var;

constexpr DISPID kName = 1;
constexpr DISPID kEcho = 2;
constexpr DISPID kMoveNext = 3;
constexpr DISPID kDataset = 4;

HRESULT EchoFirst(const ProbeObject::Call& call, VARIANT* result, EXCEPINFO*) {
  if (result != nullptr && !call.args.empty()) VariantCopy(result, &call.args[0].get());
  return S_OK;
}

// An engine with one probe object as the global `o`.
class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    probe_ = ProbeObject::Create();
    probe_->AddProperty("Name", kName, Var::Text("initial"));
    probe_->Add("Echo", kEcho, EchoFirst);
    probe_->Add("MoveNext", kMoveNext, [](const ProbeObject::Call&, VARIANT*, EXCEPINFO*) { return S_OK; });
    probe_->Add("Dataset", kDataset, EchoFirst);
    engine_ = std::make_unique<ScriptEngine>();
    engine_->DefineObject("o", probe_);
  }
  void TearDown() override {
    engine_.reset();
    probe_->calls.clear();  // recorded arguments hold references too
    // Only the test's own reference is left once the engine is gone.
    EXPECT_EQ(probe_->refs(), 1u);
    probe_->Release();
  }

  PageRun Run(const std::string& code) {
    PageRun run = RunScript(*engine_, code);
    EXPECT_TRUE(run.ok()) << code << " -> " << run.outcome.Describe();
    return run;
  }

  // The arguments `o.Echo(...)` received for script expression `expr`.
  Var Sent(const std::string& expr) {
    probe_->calls.clear();
    Run("o.Echo(" + expr + ")");
    if (probe_->calls.empty() || probe_->calls.back().member != "Echo" || probe_->calls.back().args.empty()) {
      ADD_FAILURE() << "o.Echo was not called with " << expr;
      return Var();
    }
    Var sent = probe_->calls.back().args[0];
    probe_->calls.clear();
    return sent;
  }

  ProbeObject* probe_ = nullptr;
  std::unique_ptr<ScriptEngine> engine_;
};

TEST_F(BridgeTest, EachScriptFormMakesItsOwnInvoke) {
  Run("__quill_write(o.Name)");
  Run("o.Name = 5");
  Run("o.Dataset('d', 't', true)");
  Run("o.MoveNext()");
  Run("o['Dataset']('x')");
  ASSERT_EQ(probe_->calls.size(), 5u);

  EXPECT_EQ(probe_->calls[0].flags, DISPATCH_PROPERTYGET);
  EXPECT_TRUE(probe_->calls[0].args.empty());

  const ProbeObject::Call& put = probe_->calls[1];
  EXPECT_EQ(put.flags, DISPATCH_PROPERTYPUT);
  EXPECT_TRUE(put.args.empty());
  ASSERT_EQ(put.named, std::vector<DISPID>{DISPID_PROPERTYPUT});
  EXPECT_EQ(put.named_values[0].vt(), VT_I4);
  EXPECT_EQ(put.named_values[0].get().lVal, 5);

  const ProbeObject::Call& with_args = probe_->calls[2];
  EXPECT_EQ(with_args.member, "Dataset");
  EXPECT_EQ(with_args.flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  ASSERT_EQ(with_args.args.size(), 3u);  // in call order
  EXPECT_EQ(with_args.args[0].text(), "d");
  EXPECT_EQ(with_args.args[1].text(), "t");
  EXPECT_EQ(with_args.args[2].vt(), VT_BOOL);

  EXPECT_EQ(probe_->calls[3].member, "MoveNext");
  EXPECT_EQ(probe_->calls[3].flags, DISPATCH_METHOD);

  EXPECT_EQ(probe_->calls[4].flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
}

TEST_F(BridgeTest, PutThenGetReadsTheValueBack) {
  EXPECT_EQ(Run("o.Name = 'changed'; __quill_write(o.name + '/' + o.NAME)").output, "changed/changed");
}

TEST_F(BridgeTest, NamesAreResolvedOncePerObjectAndName) {
  Run("for (var i = 0; i < 20; i++) { o.Name; o.Echo(i); o.Name = i; }");
  EXPECT_EQ(probe_->lookups, 2);
  Run("o.name");  // another spelling is another name to the script
  EXPECT_EQ(probe_->lookups, 3);
  Run("try { o.Nope } catch (e) {} try { o.Nope } catch (e) {}");
  EXPECT_EQ(probe_->lookups, 4);
}

TEST_F(BridgeTest, CallingTheObjectReachesTheEmptyNameOrTheDefaultMember) {
  ProbeObject* with_empty = ProbeObject::Create();
  with_empty->Add("", 7, EchoFirst);
  with_empty->Add("Item", DISPID_VALUE, EchoFirst);
  ProbeObject* with_default = ProbeObject::Create();
  with_default->Add("Item", DISPID_VALUE, EchoFirst);
  engine_->DefineObject("e", with_empty);
  engine_->DefineObject("d", with_default);
  EXPECT_EQ(Run("__quill_write(e('a'), d('b'))").output, "ab");
  Run("d()");
  ASSERT_EQ(with_empty->calls.size(), 1u);
  EXPECT_EQ(with_empty->calls[0].id, 7);
  EXPECT_EQ(with_empty->calls[0].flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  ASSERT_EQ(with_default->calls.size(), 2u);
  EXPECT_EQ(with_default->calls[0].id, DISPID_VALUE);
  EXPECT_EQ(with_default->calls[1].flags, DISPATCH_METHOD);
  engine_.reset();
  EXPECT_EQ(with_empty->Release(), 0u);
  EXPECT_EQ(with_default->Release(), 0u);
}

TEST_F(BridgeTest, ConversionToTextGoesThroughTheDefaultMember) {
  ProbeObject* valued = ProbeObject::Create();
  valued->AddProperty("Value", DISPID_VALUE, Var::Text("dflt"));
  engine_->DefineObject("v", valued);
  EXPECT_EQ(Run("__quill_write('' + v, '|', String(v), '|', v.toString(), '|', v.valueOf(), '|', v == 'dflt')").output,
            "dflt|dflt|dflt|dflt|True");
  const PageRun run = RunScript(*engine_, "'' + o");  // o has no default member
  EXPECT_EQ(run.outcome.kind, ScriptOutcome::Kind::kFailed);
  EXPECT_NE(run.outcome.message.find("no default value"), std::string::npos) << run.outcome.message;
  engine_.reset();
  valued->Release();
}

TEST_F(BridgeTest, ScriptSeesWhichNamesExist) {
  EXPECT_EQ(Run("__quill_write('Name' in o, 'Nope' in o, typeof o, typeof o.Name)").output,
            "TrueFalsefunctionstring");
  EXPECT_EQ(Run("__quill_write(JSON.stringify({a: 1}), o.toJSON === undefined)").output, "{\"a\":1}True");
}

TEST_F(BridgeTest, UnknownNamesAreErrorsNamingThem) {
  const std::string out = Run(
      "try { o.Missing(1) } catch (e) { __quill_write(e.number, '|', e.message, '|', e.description) }")
      .output;
  EXPECT_EQ(out, "-2147352570|Object doesn't support property or method 'Missing'|"
                 "Object doesn't support property or method 'Missing'");
  EXPECT_EQ(Run("try { o.Missing = 1 } catch (e) { __quill_write(e instanceof Error) }").output, "True");
  const PageRun run = RunScript(*engine_, "\n\no.Missing");
  EXPECT_EQ(run.outcome.kind, ScriptOutcome::Kind::kFailed);
  EXPECT_EQ(run.outcome.line, 3);
  EXPECT_EQ(run.outcome.number, DISP_E_UNKNOWNNAME);
}

TEST_F(BridgeTest, NumbersBecomeI4WhenWholeAndInRangeElseR8) {
  struct Case {
    const char* expr;
    VARTYPE vt;
    double value;
  };
  const Case cases[] = {{"42", VT_I4, 42},
                        {"-7", VT_I4, -7},
                        {"2147483647", VT_I4, 2147483647.0},
                        {"-2147483648", VT_I4, -2147483648.0},
                        {"2147483648", VT_R8, 2147483648.0},
                        {"1.5", VT_R8, 1.5},
                        {"-0", VT_R8, 0},
                        {"1e300", VT_R8, 1e300}};
  for (const Case& c : cases) {
    const Var v = Sent(c.expr);
    EXPECT_EQ(v.vt(), c.vt) << c.expr;
    EXPECT_EQ(v.vt() == VT_I4 ? v.get().lVal : v.get().dblVal, c.value) << c.expr;
  }
  EXPECT_TRUE(std::signbit(Sent("-0").get().dblVal));
  EXPECT_TRUE(std::isnan(Sent("NaN").get().dblVal));
}

TEST_F(BridgeTest, OtherValuesToTheObject) {
  EXPECT_EQ(Sent("'h\\u00e9llo \\ud83d\\ude00'").text(), "h\xC3\xA9llo \xF0\x9F\x98\x80");
  EXPECT_EQ(Sent("''").vt(), VT_BSTR);
  Var t = Sent("true");
  EXPECT_EQ(t.vt(), VT_BOOL);
  EXPECT_EQ(t.get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(Sent("false").get().boolVal, VARIANT_FALSE);
  EXPECT_EQ(Sent("null").vt(), VT_NULL);
  EXPECT_EQ(Sent("undefined").vt(), VT_EMPTY);
  EXPECT_EQ(Sent("{toString: function () { return 'obj'; }}").text(), "obj");

  const Var date = Sent("new Date(2024, 0, 15, 13, 30, 0)");
  EXPECT_EQ(date.vt(), VT_DATE);
  EXPECT_DOUBLE_EQ(date.get().date, 45306.0 + 13.5 / 24.0);
  EXPECT_DOUBLE_EQ(Sent("new Date(1899, 11, 29, 6, 0, 0)").get().date, -1.25);

  const Var self = Sent("o");
  EXPECT_EQ(self.vt(), VT_DISPATCH);
  EXPECT_EQ(self.get().pdispVal, static_cast<IDispatch*>(probe_));
}

TEST_F(BridgeTest, ArraysBecomeSafeArraysOfVariants) {
  const Var v = Sent("[1, 'a', [2.5, null], []]");
  ASSERT_EQ(v.vt(), VT_ARRAY | VT_VARIANT);
  SAFEARRAY* a = v.get().parray;
  ASSERT_EQ(SafeArrayGetDim(a), 1u);
  LONG lo = -1;
  LONG hi = -1;
  SafeArrayGetLBound(a, 1, &lo);
  SafeArrayGetUBound(a, 1, &hi);
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 3);
  auto* items = static_cast<VARIANT*>(a->pvData);
  EXPECT_EQ(items[0].vt, VT_I4);
  EXPECT_EQ(items[1].vt, VT_BSTR);
  ASSERT_EQ(items[2].vt, VT_ARRAY | VT_VARIANT);
  auto* inner = static_cast<VARIANT*>(items[2].parray->pvData);
  EXPECT_EQ(inner[0].vt, VT_R8);
  EXPECT_EQ(inner[1].vt, VT_NULL);
  EXPECT_EQ(items[3].parray->rgsabound[0].cElements, 0u);
}

TEST_F(BridgeTest, ValuesWithoutAnAutomationFormAreErrorsAndNothingIsCalled) {
  probe_->calls.clear();
  const std::string out = Run(
      "var a = []; a.push(a);"
      "try { o.Echo(a) } catch (e) { __quill_write(e.name, ':', e.message.indexOf('contain') >= 0, ';') }"
      "try { o.Echo(Symbol('s')) } catch (e) { __quill_write(e.name, ';') }"
      "try { o.Echo(new Date(NaN)) } catch (e) { __quill_write(e.name, ';') }"
      "try { o.Echo({toString: function () { throw new Error('nope') }}) } catch (e) { __quill_write(e.message) }")
      .output;
  EXPECT_EQ(out, "RangeError:True;TypeError;RangeError;nope");
  EXPECT_TRUE(probe_->calls.empty());
}

// A member answering a VARIANT of every kind, chosen by its argument.
HRESULT Produce(const ProbeObject::Call& call, VARIANT* r, EXCEPINFO*) {
  const int kind = call.args.empty() ? 0 : call.args[0].get().lVal;
  VariantInit(r);
  switch (kind) {
    case 1: r->vt = VT_I1; r->cVal = -5; break;
    case 2: r->vt = VT_UI1; r->bVal = 250; break;
    case 3: r->vt = VT_I2; r->iVal = -30000; break;
    case 4: r->vt = VT_UI2; r->uiVal = 60000; break;
    case 5: r->vt = VT_UI4; r->ulVal = 4000000000u; break;
    case 6: r->vt = VT_I8; r->llVal = -9007199254740991LL; break;
    case 7: r->vt = VT_R4; r->fltVal = 0.5f; break;
    case 8: r->vt = VT_CY; r->cyVal.int64 = 123456; break;
    case 9: r->vt = VT_BOOL; r->boolVal = VARIANT_TRUE; break;
    case 10: r->vt = VT_NULL; break;
    case 11: break;  // Empty
    case 12: r->vt = VT_DATE; r->date = 45306.5625; break;
    case 13: r->vt = VT_BSTR; r->bstrVal = SysAllocString(u"t\u00fc\U0001F600"); break;
    case 14: r->vt = VT_DISPATCH; r->pdispVal = nullptr; break;
    case 15: r->vt = VT_ERROR; r->scode = DISP_E_PARAMNOTFOUND; break;
    case 16:  // -10.5
      r->decVal.scale = 1;
      r->decVal.sign = 0x80;
      r->decVal.Lo64 = 105;
      r->vt = VT_DECIMAL;
      break;
    case 17: r->vt = VT_INT; r->intVal = -3; break;
    case 18: r->vt = VT_R8; r->dblVal = 0.1; break;
    case 19: r->vt = VT_I4; r->lVal = -2147483647 - 1; break;
    default: return DISP_E_BADINDEX;
  }
  return S_OK;
}

TEST_F(BridgeTest, EveryResultTypeHasAScriptForm) {
  probe_->Add("Make", 20, Produce);
  const std::string out = Run(
      "var r = [];"
      "for (var k = 1; k <= 19; k++) { var v = o.Make(k); r.push(typeof v + ':' + String(v)); }"
      "__quill_write(r.join('|'))")
      .output;
  EXPECT_EQ(out,
            "number:-5|number:250|number:-30000|number:60000|number:4000000000|"
            "number:-9007199254740991|number:0.5|number:12.3456|boolean:true|object:null|"
            "undefined:undefined|object:" +
                std::string(Run("__quill_write(String(new Date(2024, 0, 15, 13, 30)))").output) +
                "|string:t\xC3\xBC\xF0\x9F\x98\x80|object:null|undefined:undefined|number:-10.5|number:-3|"
                "number:0.1|number:-2147483648");
  EXPECT_EQ(Run("__quill_write(o.Make(13).length, o.Make(12) instanceof Date, o.Make(12).getMinutes())").output,
            "4True30");
}

TEST_F(BridgeTest, ObjectsComeBackAsObjectsAndGoBackAsTheSame) {
  ProbeObject* child = ProbeObject::Create();
  child->AddProperty("Name", kName, Var::Text("child"));
  probe_->Add("Child", 21, [child](const ProbeObject::Call&, VARIANT* r, EXCEPINFO*) {
    r->vt = VT_DISPATCH;
    r->pdispVal = child;
    child->AddRef();
    return S_OK;
  });
  EXPECT_EQ(Run("var c = o.Child; __quill_write(c.Name, typeof c)").output, "childfunction");
  EXPECT_EQ(Sent("o.Child").get().pdispVal, static_cast<IDispatch*>(child));
  probe_->calls.clear();
  // Collected: the reference goes with the script object, before the page ends.
  Run("c = null; Duktape.gc(); Duktape.gc();");
  EXPECT_EQ(child->refs(), 1u);
  EXPECT_EQ(engine_->bridge().LiveReferences(), 1u);  // `o` only
  child->Release();
}

TEST_F(BridgeTest, ReferencesStillHeldAreReleasedWhenTheEngineGoes) {
  ProbeObject* child = ProbeObject::Create();
  probe_->Add("Child", 21, [child](const ProbeObject::Call&, VARIANT* r, EXCEPINFO*) {
    r->vt = VT_DISPATCH;
    r->pdispVal = child;
    child->AddRef();
    return S_OK;
  });
  Run("var kept = [o.Child, o.Child, o.Child]; var k2 = o.Child;");
  EXPECT_EQ(child->refs(), 5u);
  engine_.reset();
  EXPECT_EQ(child->refs(), 1u);
  child->Release();
}

TEST_F(BridgeTest, ReleasedObjectsAnswerWithAnError) {
  engine_->bridge().ReleaseAll();
  EXPECT_EQ(probe_->refs(), 1u);
  const std::string out =
      Run("try { o.Name } catch (e) { __quill_write(e.message) } try { o.Echo(1) } catch (e) { __quill_write('|', e.message) }")
          .output;
  EXPECT_EQ(out, "the automation object has been released|the automation object has been released");
}

TEST_F(BridgeTest, FailuresCarryTheHresultAndTheDescription) {
  probe_->Add("Boom", 30, [](const ProbeObject::Call&, VARIANT*, EXCEPINFO* ex) {
    return Fail(ex, E_FAIL, "it broke: \xC3\xBC");
  });
  probe_->Add("Bad", 31, [](const ProbeObject::Call&, VARIANT*, EXCEPINFO*) {
    ICreateErrorInfo* create = nullptr;
    CreateErrorInfo(&create);
    create->SetDescription(const_cast<LPOLESTR>(u"from error info"));
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    SetErrorInfo(0, info);
    info->Release();
    create->Release();
    return E_INVALIDARG;
  });
  probe_->Add("Count", 32, [](const ProbeObject::Call&, VARIANT*, EXCEPINFO*) { return DISP_E_BADPARAMCOUNT; });
  const std::string out = Run(
      "function show(f) { try { f(); } catch (e) {"
      "  __quill_write(e.number, '|', e.description, '|', e.message === e.description, ';'); } }"
      "show(function () { o.Boom(1) });"
      "show(function () { o.Bad(1) });"
      "show(function () { o.Count(1) });"
      "show(function () { o.Boom });")
      .output;
  EXPECT_EQ(out,
            "-2147467259|it broke: \xC3\xBC|True;"
            "-2147024809|from error info|True;"
            "-2147352562|Wrong number of arguments for 'Count'|True;"
            "-2147467259|it broke: \xC3\xBC|True;");
  // Stale error information of an earlier call is never reported.
  probe_->Add("Plain", 33, [](const ProbeObject::Call&, VARIANT*, EXCEPINFO*) { return E_NOTIMPL; });
  EXPECT_EQ(Run("try { o.Plain(1) } catch (e) { __quill_write(e.description) }").output,
            "'Plain' is not implemented");
}

TEST_F(BridgeTest, UncaughtFailuresEndTheRunAtTheirLine) {
  probe_->Add("Boom", 30, [](const ProbeObject::Call&, VARIANT*, EXCEPINFO* ex) {
    return Fail(ex, MakeHresult(0x80040E14), "syntax error in SQL");
  });
  const PageRun run = RunScript(*engine_, "var a = 1;\n\n o.Boom('x');\n__quill_write('never')");
  EXPECT_EQ(run.outcome.kind, ScriptOutcome::Kind::kFailed);
  EXPECT_EQ(run.outcome.message, "syntax error in SQL");
  EXPECT_EQ(run.outcome.number, MakeHresult(0x80040E14));
  EXPECT_EQ(run.outcome.line, 3);
  EXPECT_EQ(run.output, "");
}

// A 2 x 3 array of VT_I4 with lower bounds 1 and 0: element (i, j) = 10 i + j.
SAFEARRAY* MakeGrid() {
  SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 0}};
  SAFEARRAY* a = SafeArrayCreate(VT_I4, 2, bounds);
  for (LONG i = 1; i <= 2; ++i) {
    for (LONG j = 0; j <= 2; ++j) {
      LONG idx[2] = {i, j};
      LONG value = 10 * i + j;
      SafeArrayPutElement(a, idx, &value);
    }
  }
  return a;
}

TEST_F(BridgeTest, SafeArraysAreVBArrays) {
  probe_->Add("Grid", 40, [](const ProbeObject::Call&, VARIANT* r, EXCEPINFO*) {
    r->vt = VT_ARRAY | VT_I4;
    r->parray = MakeGrid();
    return S_OK;
  });
  probe_->Add("Words", 41, [](const ProbeObject::Call&, VARIANT* r, EXCEPINFO*) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 1, 2);
    LONG i = 1;
    BSTR one = SysAllocString(u"one");
    BSTR two = SysAllocString(u"tw\u00f6");
    SafeArrayPutElement(a, &i, one);
    i = 2;
    SafeArrayPutElement(a, &i, two);
    SysFreeString(one);
    SysFreeString(two);
    r->vt = VT_ARRAY | VT_BSTR;
    r->parray = a;
    return S_OK;
  });
  const std::string out = Run(
      "var g = o.Grid;"
      "__quill_write(g.dimensions(), ' ', g.lbound(), g.ubound(), ' ', g.lbound(2), g.ubound(2), ' ',"
      "  g.getItem(2, 1), ' ', g.toArray().join(','), ' ', new VBArray(g) === g, ' ',"
      "  o.Words.toArray().join('+'), ' ', o.Words.getItem(2));"
      "try { g.getItem(3, 0) } catch (e) { __quill_write(' ', e.number) }"
      "try { g.getItem(1) } catch (e) { __quill_write(' ', e.number) }"
      "try { g.ubound(3) } catch (e) { __quill_write(' ', e.number) }")
      .output;
  EXPECT_EQ(out, "2 12 02 21 10,20,11,21,12,22 True one+tw\xC3\xB6 tw\xC3\xB6 -2147352565 -2147352562 -2147352565");

  // Passed back, a VBArray is the safe array again, a copy of it.
  const Var back = Sent("o.Grid");
  ASSERT_EQ(back.vt(), VT_ARRAY | VT_I4);
  LONG idx[2] = {2, 2};
  LONG value = 0;
  SafeArrayGetElement(back.get().parray, idx, &value);
  EXPECT_EQ(value, 22);
  EXPECT_EQ(Run("__quill_write(new VBArray([1, [2, 3]]).toArray()[1].toArray().join())").output, "2,3");
  EXPECT_EQ(Run("try { new VBArray(5) } catch (e) { __quill_write(e.name) }").output, "TypeError");
}

TEST_F(BridgeTest, EnumeratorWalksCollectionsAndArrays) {
  probe_->Add("_NewEnum", DISPID_NEWENUM, [](const ProbeObject::Call&, VARIANT* r, EXCEPINFO*) {
    std::vector<VARIANT> values(3);
    for (int i = 0; i < 3; ++i) {
      VariantInit(&values[i]);
      values[i].vt = VT_I4;
      values[i].lVal = (i + 1) * 100;
    }
    r->vt = VT_UNKNOWN;
    r->punkVal = VariantEnumerator::Create(values);
    return S_OK;
  });
  const std::string out = Run(
      "var s = [];"
      "for (var e = new Enumerator(o); !e.atEnd(); e.moveNext()) s.push(e.item());"
      "e.moveFirst(); s.push(e.item()); e.moveNext(); e.moveNext(); e.moveNext(); s.push(e.atEnd(), e.item());"
      "for (var a = new Enumerator(['x', 'y']); !a.atEnd(); a.moveNext()) s.push(a.item());"
      "s.push(new Enumerator().atEnd());"
      "__quill_write(s.join(','))")
      .output;
  EXPECT_EQ(out, "100,200,300,100,true,,x,y,true");
  ProbeObject* plain = ProbeObject::Create();
  engine_->DefineObject("p", plain);
  EXPECT_EQ(Run("try { new Enumerator(p) } catch (e) { __quill_write(e.message) }"
                "try { new Enumerator(5) } catch (e) { __quill_write('|', e.number) }")
                .output,
            "Enumerator: the object is not a collection|-2147352559");
  engine_.reset();
  plain->Release();
}

TEST_F(BridgeTest, StopRequestedInACallEndsTheScriptWhateverItCatches) {
  probe_->Add("Stop", 50, [this](const ProbeObject::Call&, VARIANT*, EXCEPINFO*) {
    engine_->RequestStop();
    return S_OK;
  });
  const PageRun run = RunScript(*engine_,
                                "__quill_write('a');"
                                "try { o.Stop(); __quill_write('b') } catch (e) { __quill_write('c') }"
                                " finally { __quill_write('d') }"
                                "__quill_write('e')");
  EXPECT_EQ(run.outcome.kind, ScriptOutcome::Kind::kStopped);
  EXPECT_EQ(run.output, "a");
}

}  // namespace
}  // namespace quill::asp
