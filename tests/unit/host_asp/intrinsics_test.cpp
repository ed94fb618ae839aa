// The intrinsic objects as components see them: through IDispatch only,
// by name, the way Quill reads the posted form from its scripting context.
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>

#include "host/asp/automation_object.h"
#include "host/asp/intrinsics.h"
#include "host/asp/module_census.h"
#include "probe_object.h"
#include "support/asp_test_component.h"

namespace quill::asp {
namespace {

using test::Var;

struct Answer {
  HRESULT hr = S_OK;
  Var value;
  std::string description;
  HRESULT scode = S_OK;
};

// Calls `name` late-bound, as a component does.
Answer CallByName(IDispatch* object, const std::u16string& name, WORD flags, std::initializer_list<Var> args = {},
                  const Var* put = nullptr) {
  Answer answer;
  DISPID id = DISPID_UNKNOWN;
  std::u16string copy = name;
  LPOLESTR names[] = {copy.data()};
  answer.hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(answer.hr)) return answer;
  std::vector<VARIANT> rg;
  DISPID named = DISPID_PROPERTYPUT;
  if (put != nullptr) rg.push_back(put->get());
  for (auto it = std::rbegin(args); it != std::rend(args); ++it) rg.push_back(it->get());
  DISPPARAMS params{rg.empty() ? nullptr : rg.data(), put != nullptr ? &named : nullptr,
                    static_cast<UINT>(rg.size()), put != nullptr ? 1u : 0u};
  EXCEPINFO excep{};
  answer.hr = object->Invoke(id, IID_NULL, 0, flags, &params, &answer.value.get(), &excep, nullptr);
  if (answer.hr == DISP_E_EXCEPTION) {
    answer.description = Utf16ToUtf8(std::u16string_view(excep.bstrDescription, SysStringLen(excep.bstrDescription)));
    answer.scode = excep.scode;
  }
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  return answer;
}

constexpr WORD kGet = DISPATCH_PROPERTYGET | DISPATCH_METHOD;

// The default value of an object (a ValueList), as text or as a type.
Var DefaultOf(const Var& object) {
  Var out;
  if (object.vt() != VT_DISPATCH) return out;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  object.get().pdispVal->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &out.get(), nullptr, nullptr);
  return out;
}

class IntrinsicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    baseline_ = AutomationObject::LiveObjects();
    request_.method = "POST";
    request_.url_path = "/shop/edit.asp";
    request_.query_string = "id=7&q=from+query";
    request_.query = ParseUrlEncoded(request_.query_string);
    request_.content_type = "application/x-www-form-urlencoded";
    request_.body = "F=1&g=x+y&f=2&q=from+form";
    request_.form = ParseUrlEncoded(request_.body);
    request_.headers = {{"User-Agent", "tester"}, {"X-Custom-Thing", "v"}};
    env_.site = nullptr;
    env_.page_path = request_.url_path;
    env_.request = &request_;
    env_.response = &response_;
    env_.max_response_bytes = 64;
    env_.stop = [this] { ++stops_; };
    objects_ = std::make_unique<PageObjects>(env_);
  }
  void TearDown() override {
    objects_.reset();
    EXPECT_EQ(AutomationObject::LiveObjects(), baseline_);
  }

  // context.Request.Form, reached as a component reaches it.
  Var Form() {
    IDispatch* context = nullptr;
    EXPECT_EQ(objects_->context()->QueryInterface(IID_IScriptingContext, reinterpret_cast<void**>(&context)), S_OK);
    const Answer request = CallByName(context, u"Request", kGet);
    context->Release();
    EXPECT_EQ(request.value.vt(), VT_DISPATCH);
    return CallByName(request.value.get().pdispVal, u"Form", kGet).value;
  }

  int baseline_ = 0;
  int stops_ = 0;
  PageRequest request_;
  PageResponse response_;
  PageEnvironment env_;
  std::unique_ptr<PageObjects> objects_;
};

TEST_F(IntrinsicsTest, TheContextLeadsToThePostedForm) {
  IUnknown* unknown = nullptr;
  const IID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(objects_->context()->QueryInterface(other, reinterpret_cast<void**>(&unknown)), E_NOINTERFACE);
  EXPECT_EQ(unknown, nullptr);

  const Var form = Form();
  ASSERT_EQ(form.vt(), VT_DISPATCH);
  IDispatch* f = form.get().pdispVal;
  EXPECT_EQ(CallByName(f, u"Count", kGet).value.get().lVal, 3);  // F/f, g, q
  EXPECT_EQ(CallByName(f, u"key", kGet, {Var::I4(1)}).value.text(), "F");
  EXPECT_EQ(CallByName(f, u"KEY", kGet, {Var::I4(2)}).value.text(), "g");
  const Var item = CallByName(f, u"Item", kGet, {Var::Text("f")}).value;
  EXPECT_EQ(DefaultOf(item).text(), "1, 2");
  EXPECT_EQ(CallByName(item.get().pdispVal, u"Count", kGet).value.get().lVal, 2);
  EXPECT_EQ(CallByName(item.get().pdispVal, u"Item", kGet, {Var::I4(2)}).value.text(), "2");
  EXPECT_EQ(DefaultOf(CallByName(f, u"Item", kGet, {Var::Text("g")}).value).text(), "x y");
  EXPECT_EQ(DefaultOf(CallByName(f, u"Item", kGet, {Var::I4(2)}).value).text(), "x y");  // by position
  EXPECT_EQ(CallByName(f, u"Item", kGet).value.text(), request_.body);                  // as sent
  const Var missing = CallByName(f, u"Item", kGet, {Var::Text("nothing")}).value;
  EXPECT_EQ(DefaultOf(missing).vt(), VT_EMPTY);
  EXPECT_EQ(CallByName(missing.get().pdispVal, u"Count", kGet).value.get().lVal, 0);
}

TEST_F(IntrinsicsTest, BadIndexesAndWrongUseAreErrorsNotCrashes) {
  const Var form = Form();
  IDispatch* f = form.get().pdispVal;
  for (int bad : {0, 4, -1}) {
    const Answer a = CallByName(f, u"Key", kGet, {Var::I4(bad)});
    EXPECT_EQ(a.hr, DISP_E_EXCEPTION) << bad;
    EXPECT_EQ(a.scode, DISP_E_BADINDEX);
    EXPECT_NE(a.description.find("out of range"), std::string::npos) << a.description;
  }
  EXPECT_EQ(CallByName(f, u"Key", kGet).scode, DISP_E_PARAMNOTOPTIONAL);
  Var five = Var::I4(5);
  EXPECT_EQ(CallByName(f, u"Count", DISPATCH_PROPERTYPUT, {}, &five).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(CallByName(f, u"NoSuchThing", kGet).hr, DISP_E_UNKNOWNNAME);

  DISPPARAMS broken{nullptr, nullptr, 2, 0};
  VARIANT r;
  VariantInit(&r);
  EXPECT_EQ(f->Invoke(1, IID_NULL, 0, kGet, &broken, &r, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(f->Invoke(12345, IID_NULL, 0, kGet, nullptr, &r, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(f->GetIDsOfNames(IID_NULL, nullptr, 1, 0, nullptr), E_POINTER);
  UINT count = 5;
  EXPECT_EQ(f->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(IntrinsicsTest, RequestLooksInQueryStringThenFormThenServerVariables) {
  IDispatch* request = objects_->request();
  EXPECT_EQ(DefaultOf(CallByName(request, u"Item", kGet, {Var::Text("q")}).value).text(), "from query");
  EXPECT_EQ(DefaultOf(CallByName(request, u"Item", kGet, {Var::Text("g")}).value).text(), "x y");
  EXPECT_EQ(DefaultOf(CallByName(request, u"Item", kGet, {Var::Text("REQUEST_METHOD")}).value).text(), "POST");
  // Request.Form("q") is Request.Form.Item("q").
  EXPECT_EQ(DefaultOf(CallByName(request, u"Form", kGet, {Var::Text("q")}).value).text(), "from form");
  const Var vars = CallByName(request, u"ServerVariables", kGet).value;
  IDispatch* v = vars.get().pdispVal;
  EXPECT_EQ(DefaultOf(CallByName(v, u"Item", kGet, {Var::Text("HTTP_USER_AGENT")}).value).text(), "tester");
  EXPECT_EQ(DefaultOf(CallByName(v, u"Item", kGet, {Var::Text("http_x_custom_thing")}).value).text(), "v");
  EXPECT_EQ(DefaultOf(CallByName(v, u"Item", kGet, {Var::Text("SCRIPT_NAME")}).value).text(), "/shop/edit.asp");
  EXPECT_EQ(DefaultOf(CallByName(v, u"Item", kGet, {Var::Text("CONTENT_LENGTH")}).value).text(),
            std::to_string(request_.body.size()));
  EXPECT_EQ(CallByName(request, u"TotalBytes", kGet).value.get().lVal, static_cast<LONG>(request_.body.size()));
}

TEST_F(IntrinsicsTest, ResponseKeepsWhatThePageSets) {
  IDispatch* r = objects_->response();
  CallByName(r, u"Write", kGet, {Var::Text("a")});
  Var number = Var::I4(12);
  CallByName(r, u"Write", kGet, {number});
  Var status = Var::Text("404 Not Found");
  EXPECT_EQ(CallByName(r, u"Status", DISPATCH_PROPERTYPUT, {}, &status).hr, S_OK);
  Var type = Var::Text("text/plain");
  EXPECT_EQ(CallByName(r, u"ContentType", DISPATCH_PROPERTYPUT, {}, &type).hr, S_OK);
  EXPECT_EQ(CallByName(r, u"AddHeader", kGet, {Var::Text("X-Thing"), Var::Text("1")}).hr, S_OK);
  EXPECT_EQ(response_.body, "a12");
  EXPECT_EQ(response_.status, 404);
  EXPECT_EQ(response_.reason, "Not Found");
  EXPECT_EQ(CallByName(r, u"Status", DISPATCH_PROPERTYGET).value.text(), "404 Not Found");
  EXPECT_EQ(CallByName(r, u"ContentType", DISPATCH_PROPERTYGET).value.text(), "text/plain");
  EXPECT_EQ(response_.headers, (NameValueList{{"X-Thing", "1"}}));

  // Over the cap: an error, and what was written stays.
  const Answer big = CallByName(r, u"Write", kGet, {Var::Text(std::string(100, 'x'))});
  EXPECT_EQ(big.hr, DISP_E_EXCEPTION);
  EXPECT_NE(big.description.find("larger than"), std::string::npos);
  EXPECT_EQ(response_.body, "a12");
}

TEST_F(IntrinsicsTest, ResponseRefusesWhatWouldBreakTheHeaders) {
  IDispatch* r = objects_->response();
  for (const char* bad : {"abc", "99 Low", "600 High", "200\r\nX-Evil: 1", "2000 X", ""}) {
    Var status = Var::Text(bad);
    const Answer a = CallByName(r, u"Status", DISPATCH_PROPERTYPUT, {}, &status);
    EXPECT_EQ(a.hr, DISP_E_EXCEPTION) << bad;
    EXPECT_NE(a.description.find("not a status"), std::string::npos) << a.description;
  }
  EXPECT_EQ(response_.status, 200);
  const std::pair<const char*, const char*> headers[] = {
      {"X-A", "v\r\nSet-Cookie: x"}, {"Bad Name", "v"}, {"", "v"}, {"Content-Length", "3"}, {"X:Y", "v"}};
  for (const auto& [name, value] : headers) {
    EXPECT_EQ(CallByName(r, u"AddHeader", kGet, {Var::Text(name), Var::Text(value)}).hr, DISP_E_EXCEPTION) << name;
  }
  EXPECT_TRUE(response_.headers.empty());
  Var type = Var::Text("text/html\r\nX: y");
  EXPECT_EQ(CallByName(r, u"ContentType", DISPATCH_PROPERTYPUT, {}, &type).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(CallByName(r, u"Redirect", kGet, {Var::Text("/x\n")}).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(stops_, 0);
}

TEST_F(IntrinsicsTest, EndAndRedirectStopThePageAndFreezeTheBody) {
  IDispatch* r = objects_->response();
  CallByName(r, u"Write", kGet, {Var::Text("before")});
  EXPECT_EQ(CallByName(r, u"Redirect", kGet, {Var::Text("/next.asp?a=<b>")}).hr, S_OK);
  EXPECT_EQ(stops_, 1);
  EXPECT_EQ(response_.status, 302);
  EXPECT_EQ(response_.headers, (NameValueList{{"Location", "/next.asp?a=<b>"}}));
  EXPECT_NE(response_.body.find("/next.asp?a=&lt;b&gt;"), std::string::npos) << response_.body;
  const std::string body = response_.body;
  CallByName(r, u"Write", kGet, {Var::Text("after")});
  CallByName(r, u"Clear", DISPATCH_METHOD);
  EXPECT_EQ(response_.body, body);
  CallByName(r, u"End", DISPATCH_METHOD);
  EXPECT_EQ(stops_, 2);
}

TEST_F(IntrinsicsTest, ServerEncodesAndRefusesUnknownClasses) {
  IDispatch* s = objects_->server();
  EXPECT_EQ(CallByName(s, u"HTMLEncode", kGet, {Var::Text("<a href='x'>&</a>")}).value.text(),
            "&lt;a href=&#39;x&#39;&gt;&amp;&lt;/a&gt;");
  EXPECT_EQ(CallByName(s, u"URLEncode", kGet, {Var::Text("a b/c")}).value.text(), "a+b%2Fc");
  EXPECT_EQ(CallByName(s, u"ScriptTimeout", kGet).value.get().lVal, 10);
  for (const char* progid : {"No.Such.Class", "{00000000-0000-0000-0000-000000000001}", "", "a\nb"}) {
    const Answer a = CallByName(s, u"CreateObject", kGet, {Var::Text(progid)});
    EXPECT_EQ(a.hr, DISP_E_EXCEPTION) << progid;
    EXPECT_NE(a.description.find("Server.CreateObject"), std::string::npos) << a.description;
  }
  // No site: MapPath says so rather than guessing.
  EXPECT_EQ(CallByName(s, u"MapPath", kGet, {Var::Text("/x")}).hr, DISP_E_EXCEPTION);
}

TEST_F(IntrinsicsTest, ComponentsGetTheContextAndLoseItAtTheEnd) {
  test::RegisterTestComponent();
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const test::ComponentCounts before = test::TestComponentCounts();
  {
    const Answer created =
        CallByName(objects_->server(), u"CreateObject", kGet, {Var::Text("QuillAspTest.Component")});
    ASSERT_EQ(created.hr, S_OK) << created.description;
    IDispatch* component = created.value.get().pdispVal;
    EXPECT_EQ(CallByName(component, u"FormSummary", DISPATCH_METHOD).value.text(), "F=1, 2;g=x y;q=from form;");
    EXPECT_EQ(test::TestComponentCounts().started, before.started + 1);
  }
  objects_->EndPage();
  const test::ComponentCounts after = test::TestComponentCounts();
  EXPECT_EQ(after.ended, before.ended + 1);
  EXPECT_EQ(after.live, 0);
  EXPECT_EQ(test::TestComponentCanUnloadNow(), S_OK);
  objects_->EndPage();  // a second end does nothing
  EXPECT_EQ(test::TestComponentCounts().ended, after.ended);
  CoUninitialize();
}

// The census the page server reports at shutdown: the module of a created
// object, and its answer to DllCanUnloadNow while the object lives and
// after the page ended.
TEST_F(IntrinsicsTest, TheCensusKnowsTheModulesOfCreatedObjectsAndWhetherAnyLives) {
  test::RegisterTestComponent();
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  auto component = [] {
    std::optional<ModuleState> found;
    for (const ModuleState& m : CreatedModuleStates()) {
      if (m.path == ASP_TEST_COMPONENT) found = m;
    }
    return found;
  };
  {
    const Answer created =
        CallByName(objects_->server(), u"CreateObject", kGet, {Var::Text("QuillAspTest.Component")});
    ASSERT_EQ(created.hr, S_OK) << created.description;
    const std::optional<ModuleState> alive = component();
    ASSERT_TRUE(alive.has_value());
    EXPECT_EQ(alive->clsid, "{5E1E0F3A-2B7C-4C4D-9A61-7D0C2B1E5A01}");
    EXPECT_EQ(alive->can_unload, S_FALSE);
  }
  objects_->EndPage();
  ASSERT_TRUE(component().has_value());
  EXPECT_EQ(component()->can_unload, S_OK);
  CoUninitialize();
}

}  // namespace
}  // namespace quill::asp
