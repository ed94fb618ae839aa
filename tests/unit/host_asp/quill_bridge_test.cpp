// The bridge against Quill.so through the binary contract, without a
// database server: values both ways, errors caught in script and uncaught,
// and that a request leaves no live object behind.
#include <gtest/gtest.h>

#include <utility>

#include "host/asp/automation_object.h"
#include "host/asp/page_runner.h"
#include "support/asp_test_component.h"
#include "support/quill_module.h"

namespace quill::asp {
namespace {

class QuillPageTest : public quill::test::SiteTest {
 protected:
  void SetUp() override {
    test::RegisterQuill();
    baseline_ = AutomationObject::LiveObjects();
  }
  void TearDown() override {
    // Nothing of the request is alive: the host's objects, the references
    // script held, Quill's objects.
    EXPECT_EQ(AutomationObject::LiveObjects(), baseline_);
    EXPECT_EQ(test::QuillCanUnloadNow(), S_OK);
  }

  RenderResult RenderText(const std::string& page_text) {
    site_.Write("page.asp", page_text);
    return Render("/page.asp");
  }

  std::string Body(const std::string& page_text) {
    const RenderResult r = RenderText(page_text);
    EXPECT_TRUE(r.error.empty()) << r.error;
    return r.response.body;
  }

  int baseline_ = 0;
};

TEST_F(QuillPageTest, DatesNumbersAndTextGoInAndComeBack) {
  EXPECT_EQ(Body("<% var q = Server.CreateObject('Harrow.Quill') %>"
                 "<%= q.FormatDateTime('yyyy-mm-dd hh:nn:ss', new Date(2024, 0, 15, 13, 30, 5)) %>|"
                 "<%= q.FormatDateTime('yyyy-mm-dd', 36526) %>|"
                 "<%= q.FormatDateTime('yyyy-mm-dd hh:nn', 36526.75) %>|"
                 "<%= typeof q.FormatDateTime('dddd', new Date(2000, 0, 1)) %>"),
            "2024-01-15 13:30:05|2000-01-01|2000-01-01 18:00|string");
}

TEST_F(QuillPageTest, ObjectsPropertiesAndBooleansOfADataset) {
  EXPECT_EQ(Body("<% var q = Server.CreateObject('Harrow.Quill');"
                 "   var d = q.Dataset('items', 'asp_items', false); %>"
                 "<%= typeof d %>|<%= typeof d.state %>:<%= d.state %>|<%= typeof d.active %>:<%= d.active === false %>|"
                 "<%= d.TableName %><% d.TableName = 'other \\u00fc' %>|<%= q.Dataset('items').TableName %>|"
                 "<%= q.Dataset('items').TableName.length %>"),
            "function|number:1|boolean:True|asp_items|other \xC3\xBC|7");
}

TEST_F(QuillPageTest, FailuresAreCaughtWithTheirNumberAndDescription) {
  const std::string body = Body(
      "<% var q = Server.CreateObject('Harrow.Quill');"
      "   try { q.Connect('127.0.0.1', 'nobody', 'x', 1, 'nothing') }"
      "   catch (e) { %><%= e instanceof Error %>|<%= e.number < 0 %>|<%= e.description.length > 0 %>|"
      "<%= e.message === e.description %><% } %>|"
      "<% try { q.NoSuchMember(1) } catch (e) { %><%= e.number %>:<%= e.description %><% } %>|"
      "<% try { q.Dataset('x', 't', false).FieldByName('nope') } catch (e) { %><%= e.description %><% } %>");
  EXPECT_EQ(body.rfind("True|True|True|True|", 0), 0u) << body;
  EXPECT_NE(body.find("|-2147352570:Object doesn't support property or method 'NoSuchMember'|"), std::string::npos)
      << body;
  EXPECT_NE(body.find("nope"), std::string::npos) << body;
}

TEST_F(QuillPageTest, AnUncaughtFailureIsA500WithThePlace) {
  const RenderResult r = RenderText("<% var q = Server.CreateObject('Harrow.Quill') %>\n\n"
                                    "<% q.Link('nodetail', 'nomaster', '') %>");
  EXPECT_EQ(r.response.status, 500);
  EXPECT_NE(r.error.find("/page.asp, line 3"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find("not found"), std::string::npos) << r.error;
}

TEST_F(QuillPageTest, ManyObjectsAreAllReleased) {
  EXPECT_EQ(Body("<% for (var i = 0; i < 200; i++) {"
                 "     var q = Server.CreateObject('Harrow.Quill'); q.Dataset('d' + i, 't', false);"
                 "     if (i % 50 == 0) Duktape.gc(); } %>ok"),
            "ok");
}

TEST_F(QuillPageTest, QuillGetsThePageContextAndLetsItGo) {
  // Execute reads the posted form through the scripting context; with no
  // dataset registered it has nothing to do, and OnEndPage ends the page.
  EXPECT_EQ(Body("<% var q = Server.CreateObject('Harrow.Quill'); q.Execute('next') %>ok"), "ok");
}

// `quill-asp register MODULE` is how a machine gets Quill: it writes the
// classes into the registry file named by OLE_REGISTRY, where pages then
// find Harrow.Quill; unregister takes them out again. Files that are not
// in-process servers are refused without touching the registry.
std::pair<int, std::string> RunWithRegistry(const std::filesystem::path& registry, const std::string& args) {
  return quill::test::RunCommand("OLE_REGISTRY='" + registry.string() + "' " + QUILL_ASP_PROGRAM + " " + args +
                                 " 2>&1");
}

TEST(RegisterCommand, RegistersQuillForPagesAndUnregistersIt) {
  test::TempSite site("RegisterCommand");
  const std::filesystem::path registry = site.base() / "registry";
  site.Write("date.asp", "<%= Server.CreateObject('Harrow.Quill').FormatDateTime('d mmm yyyy', new Date(2024, 2, 5)) %>");
  const std::string render = "render " + (site.root() / "date.asp").string();

  auto [status, out] = RunWithRegistry(registry, render);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("is not registered"), std::string::npos) << out;

  std::tie(status, out) = RunWithRegistry(registry, std::string("register ") + QUILL_MODULE_PATH);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(registry.string()), std::string::npos) << out;
  std::tie(status, out) = RunWithRegistry(registry, render);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "5 Mar 2024");
  // Registering again changes nothing.
  EXPECT_EQ(RunWithRegistry(registry, std::string("register ") + QUILL_MODULE_PATH).first, 0);
  EXPECT_EQ(RunWithRegistry(registry, render).second, "5 Mar 2024");

  std::tie(status, out) = RunWithRegistry(registry, std::string("unregister ") + QUILL_MODULE_PATH);
  EXPECT_EQ(status, 0) << out;
  std::tie(status, out) = RunWithRegistry(registry, render);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("is not registered"), std::string::npos) << out;
}

TEST(RegisterCommand, RefusesWhatIsNoInProcessServer) {
  test::TempSite site("RegisterRefuses");
  const std::filesystem::path registry = site.base() / "registry";
  site.Write("not-a-module.so", "plain text");

  auto [status, out] = RunWithRegistry(registry, "register " + (site.root() / "not-a-module.so").string());
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("cannot load"), std::string::npos) << out;
  // A shared library without the entry point (the test component has only
  // DllGetClassObject and DllCanUnloadNow).
  std::tie(status, out) = RunWithRegistry(registry, std::string("register ") + ASP_TEST_COMPONENT);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("has no DllRegisterServer"), std::string::npos) << out;
  std::tie(status, out) = RunWithRegistry(registry, "register " + (site.base() / "missing.so").string());
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("is not a file"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(registry));

  EXPECT_EQ(RunWithRegistry(registry, "register").first, 2);
  EXPECT_EQ(RunWithRegistry(registry, std::string("register ") + QUILL_MODULE_PATH + " " + QUILL_MODULE_PATH).first, 2);
  EXPECT_EQ(RunWithRegistry(registry, "unregister").first, 2);
}

}  // namespace
}  // namespace quill::asp
