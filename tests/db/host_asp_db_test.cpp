// Pages that use Quill against the private server: values through real
// columns both ways, and posted forms that insert, edit and delete rows,
// rendered by `quill-asp render` and served over HTTP on 127.0.0.1. Every
// change is checked in the database afterwards with the client library.
#include <gtest/gtest.h>
#include <httplib.h>


#include "host/asp/automation_object.h"
#include "host/asp/http_host.h"
#include "host/asp/page_runner.h"
#include "support/asp_test_component.h"
#include "support/quill_module.h"
#include "support/sql_client.h"
#include "support/test_server.h"

namespace quill::asp {
namespace {

// The item pages: a list, and one page that inserts, edits or deletes the
// row the posted form names, through Quill's Execute (which reads the form
// through the page's scripting context).
constexpr const char* kListPage =
    "<!--#include file=\"conn.inc\"-->"
    "<% var q = Connect(); q.Dataset('items', 'asp_items', true); %>"
    "<%= q.ContentTable('items', false, '<table>', '<tr><td><#id></td><td><#name></td><td><#price></td></tr>', "
    "'</table>') %>";
constexpr const char* kEditPage =
    "<%@ Language=\"JScript\" %>\n"
    "<!--#include file=\"conn.inc\"-->\n"
    "<%\n"
    "var q = Connect();\n"
    "var action = String(Request.Form('action'));\n"
    "var d = q.Dataset('items', 'asp_items', true);\n"
    "if (action != 'insert' && !d.locaterecord('id', String(Request.Form('id'))))\n"
    "  throw new Error('there is no item ' + Request.Form('id'));\n"
    "if (action == 'insert') q.Execute('Insert', 'items', 'id;name;price');\n"
    "else if (action == 'edit') q.Execute('Edit', 'items', 'name;price');\n"
    "else if (action == 'delete') q.Execute('Delete', 'items');\n"
    "else throw new Error('unknown action ' + action);\n"
    "%>done <%= Server.HTMLEncode(action) %>";

class HostDbTest : public quill::test::SiteTest {
 protected:
  void SetUp() override {
    const auto settings = quill::test::TestServerFromEnv();
    if (!settings) GTEST_SKIP() << "no private test server: run the tests through scripts/run-tests";
    settings_ = *settings;
    test::RegisterQuill();
    baseline_ = AutomationObject::LiveObjects();
    ASSERT_TRUE(db_.Connect(settings_));
    db_.Sql("drop table if exists asp_items");
    db_.Sql("create table asp_items (id int primary key, name varchar(60), price double, added datetime null, "
            "qty int null) character set utf8mb4");
    db_.Sql("insert into asp_items values (1, 'apple', 1.5, '2023-05-06 07:08:09', null), "
            "(2, 'pear', 2.25, null, 4)");
    site_.Write("conn.inc", quill::test::ConnectInclude(settings_));
    site_.Write("list.asp", kListPage);
    site_.Write("edit.asp", kEditPage);
  }

  void TearDown() override {
    if (!db_) return;
    db_.Sql("drop table if exists asp_items");
    EXPECT_EQ(AutomationObject::LiveObjects(), baseline_);
    EXPECT_EQ(test::QuillCanUnloadNow(), S_OK);
  }

  RenderResult RenderText(const std::string& page_text, const NameValueList& form = {}) {
    site_.Write("page.asp", page_text);
    return Render("/page.asp", form);
  }

  quill::test::TestServerSettings settings_;
  quill::test::SqlClient db_;
  int baseline_ = 0;
};

TEST_F(HostDbTest, ColumnValuesReachScriptWithTheirTypes) {
  const RenderResult r = RenderText(
      "<!--#include file=\"conn.inc\"-->"
      "<% var q = Connect(); var d = q.Dataset('items', 'asp_items', true); %>"
      "<%= typeof d('id') %>:<%= d('id') === 1 %>|<%= typeof d('name') %>:<%= d('name') %>|"
      "<%= typeof d('price') %>:<%= d('price') === 1.5 %>|"
      "<%= d('added') instanceof Date %>:<%= d('added').getFullYear() %>-<%= d('added').getMonth() + 1 %>-"
      "<%= d('added').getDate() %> <%= d('added').getHours() %>:<%= d('added').getSeconds() %>|"
      "<%= d('qty') === null %>|<%= d.FieldByName('qty').IsNull %>|"
      "<%= d.fieldvalues('id;name').toArray().join('+') %>|<%= d.fieldvalues('id;name').ubound() %>|"
      "<% d.movenext() %><%= d('qty') + 1 %>|<%= d('added') === null %>|<%= d.eof %>"
      "<% d.movenext() %><%= d.eof %>|<%= d.recordcount %>");
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.response.body,
            "number:True|string:apple|number:True|True:2023-5-6 7:9|True|True|1+apple|1|5|True|FalseTrue|2");
}

TEST_F(HostDbTest, ScriptValuesReachTheColumns) {
  const RenderResult r = RenderText(
      "<!--#include file=\"conn.inc\"-->"
      "<% var q = Connect(); var d = q.Dataset('items', 'asp_items', true);\n"
      "   d.edit();\n"
      "   d.FieldByName('name').Value = '\\u00fc\\ud83d\\ude00 & <x>';\n"
      "   d.FieldByName('price').Value = 2.75;\n"
      "   d.FieldByName('added').Value = new Date(2024, 0, 15, 13, 30, 0);\n"
      "   d.FieldByName('qty').Value = 12;\n"
      "   d.post();\n"
      "   d.movenext(); d.edit(); d.FieldByName('qty').Value = null; d.FieldByName('price').Value = 7; d.post();\n"
      "   q.Execute('Insert', 'items', 'id;name;price;qty', [10, 'from an array', 3.25, -2147483648]);\n"
      "%>ok");
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.response.body, "ok");
  EXPECT_EQ(db_.Sql("select id, name, price, added, qty from asp_items order by id"),
            "1|\xC3\xBC\xF0\x9F\x98\x80 & <x>|2.75|2024-01-15 13:30:00|12;"
            "2|pear|7|NULL|NULL;"
            "10|from an array|3.25|NULL|-2147483648;");
}

TEST_F(HostDbTest, DatabaseErrorsAreCaughtInScriptOrAnswer500) {
  RenderResult r = RenderText(
      "<!--#include file=\"conn.inc\"-->"
      "<% var q = Connect();\n"
      "   try { q.ExecSQL('insert into asp_items values (1, \\'dup\\', 0, null, null)', '') }\n"
      "   catch (e) { %><%= e.number < 0 %>:<%= e.description.indexOf('Duplicate') >= 0 %><% } %>");
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.response.body, "True:True");
  r = RenderText("<!--#include file=\"conn.inc\"-->\n<% var q = Connect();\n q.ExecSQL('select * from no_such_table', '') %>");
  EXPECT_EQ(r.response.status, 500);
  EXPECT_NE(r.error.find("no_such_table"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find("/page.asp, line 3"), std::string::npos) << r.error;
  EXPECT_EQ(db_.Sql("select count(*) from asp_items"), "2;");
}

TEST_F(HostDbTest, ByteArraysFromThePageReachBlobColumns) {
  db_.Sql("drop table if exists asp_blobs");
  db_.Sql("create table asp_blobs (id int primary key, data blob null)");
  db_.Sql("insert into asp_blobs values (1, null), (2, null)");
  // A JS array by value into asblob, then the VBArray read back from it into
  // Value of the next row; a value that is no byte fails aloud.
  const RenderResult r = RenderText(
      "<!--#include file=\"conn.inc\"-->"
      "<% var q = Connect(); var d = q.Dataset('b', 'asp_blobs', true);\n"
      "   d.edit(); d.FieldByName('data').asblob = [0, 1, 255, 65]; d.post();\n"
      "   var bytes = d.FieldByName('data').asblob;\n"
      "   d.movenext(); d.edit(); d.FieldByName('data').Value = bytes; d.post();\n"
      "   d.edit();\n"
      "   try { d.FieldByName('data').Value = [1, 300]; } catch (e) { %>refused<% }\n"
      "   d.cancel(); %>");
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.response.body, "refused");
  EXPECT_EQ(db_.Sql("select id, hex(data) from asp_blobs order by id"), "1|0001FF41;2|0001FF41;");
  db_.Sql("drop table asp_blobs");
}

// IQuill2 from a page: rows as JSON parsed back by the script engine with
// every column type, GetRows as a VBArray, bound parameters from the form,
// and a transaction the page leaves open rolled back when it ends.
TEST_F(HostDbTest, SecondInterfaceMembersFromPages) {
  db_.Sql("drop table if exists asp_types");
  db_.Sql("create table asp_types (id int primary key, c_tiny tinyint, c_ubig bigint unsigned,"
          " c_dec decimal(10,2), c_double double, c_date date, c_time time, c_datetime datetime,"
          " c_ts timestamp null default null, c_year year, c_enum enum('a','b'), c_set set('x','y'),"
          " c_text text, c_blob blob, c_varbinary varbinary(4), c_bit bit(8), c_json json)"
          " character set utf8mb4");
  db_.Sql("insert into asp_types values (1, -128, 18446744073709551615, 12345678.91, 2.25,"
          " '2001-12-31', '23:59:59', '2001-12-31 23:59:59', '2001-12-31 23:59:58', 2001, 'b', 'x,y',"
          " 'v\xC3\xA9 \"q\"\t\n\\\\', 0x000102, 0x00ff, b'101', '{\"k\": 1}'), (2, null, null, null, null,"
          " null, null, null, null, null, null, null, null, null, null, null, null)");
  RenderResult r = RenderText(
      "<!--#include file=\"conn.inc\"-->"
      "<% var q = Connect(); q.Dataset('t', 'asp_types', true);\n"
      "   var rows = JSON.parse(q.ContentJSON('t')); %>"
      "<%= rows.length %>|<%= JSON.stringify(rows[0]) %>|<%= JSON.stringify(rows[1]).length %>|"
      "<%= typeof rows[0].c_dec %>");
  db_.Sql("drop table if exists asp_types");
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.response.body,
            "2|{\"id\":1,\"c_tiny\":-128,\"c_ubig\":18446744073709552000,\"c_dec\":12345678.91,"
            "\"c_double\":2.25,\"c_date\":\"2001-12-31\",\"c_time\":\"23:59:59\","
            "\"c_datetime\":\"2001-12-31T23:59:59\",\"c_ts\":\"2001-12-31T23:59:58\",\"c_year\":2001,"
            "\"c_enum\":\"b\",\"c_set\":\"x,y\",\"c_text\":\"v\xC3\xA9 \\\"q\\\"\\t\\n\\\\\","
            "\"c_blob\":\"AAEC\",\"c_varbinary\":\"AP8=\",\"c_bit\":\"BQ==\",\"c_json\":\"{\\\"k\\\": 1}\"}|"
            "238|number");

  r = RenderText(
      "<!--#include file=\"conn.inc\"-->"
      "<% var q = Connect();\n"
      "   var d = q.Query('found', 'select id, name from asp_items where name like ? order by id',\n"
      "                   [String(Request.Form('name')) + '%']);\n"
      "   var a = q.GetRows('found', -1, 'name;id'); %>"
      "<%= a.ubound(1) %>:<%= a.ubound(2) %>:<%= a.toArray().join('+') %>:<%= d.eof %>|"
      "<% q.BeginTrans(); q.Exec('delete from asp_items where id = ?', [2]); %>"
      "<%= q.InTransaction %>",
      {{"name", "p'"}});
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_EQ(r.response.body, "1:-1::True|True");
  r = RenderText(
      "<!--#include file=\"conn.inc\"-->"
      "<% var q = Connect();\n"
      "   q.Query('found', 'select id, name from asp_items where name like ? order by id', ['p%']);\n"
      "   var a = q.GetRows('found'); %><%= a.toArray().join('+') %>");
  EXPECT_EQ(r.response.body, "2+pear") << r.error;
  EXPECT_EQ(db_.Sql("select count(*) from asp_items"), "2;");
}

// Runs quill-asp with `args`; answers its exit status and standard output.
std::pair<int, std::string> RunProgram(const std::string& args) {
  return quill::test::RunCommand(std::string(QUILL_ASP_PROGRAM) + " " + args + " 2>/dev/null");
}

TEST_F(HostDbTest, FormPostsThroughRenderInsertEditAndDelete) {
  const std::string page = (site_.root() / "edit.asp").string();
  auto [status, out] =
      RunProgram("render " + page + " --form action=insert --form id=3 --form 'name=plum & co' --form price=3.5");
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "\n\ndone insert");
  EXPECT_EQ(db_.Sql("select id, name, price from asp_items where id = 3"), "3|plum & co|3.5;");

  std::tie(status, out) =
      RunProgram("render " + page + " --form action=edit --form id=1 --form 'name=green apple' --form price=1.75");
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(db_.Sql("select id, name, price from asp_items where id = 1"), "1|green apple|1.75;");

  std::tie(status, out) = RunProgram("render " + page + " --form action=delete --form id=2");
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(db_.Sql("select id from asp_items order by id"), "1;3;");

  // Bad input: a row that is not there, a key already taken. Nothing changes.
  std::tie(status, out) = RunProgram("render " + page + " --form action=delete --form id=99");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("there is no item 99"), std::string::npos) << out;
  EXPECT_NE(out.find("/edit.asp, line 8"), std::string::npos) << out;
  std::tie(status, out) = RunProgram("render " + page + " --form action=insert --form id=1 --form name=again");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("Duplicate"), std::string::npos) << out;
  EXPECT_EQ(db_.Sql("select id, name from asp_items order by id"), "1|green apple;3|plum & co;");

  std::tie(status, out) = RunProgram("render " + (site_.root() / "list.asp").string());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out,
            "<table><tr><td>1</td><td>green apple</td><td>1.75</td></tr>"
            "<tr><td>3</td><td>plum & co</td><td>3.5</td></tr></table>");
}

TEST_F(HostDbTest, FormPostsOverHttpInsertEditAndDelete) {
  ServeOptions options;
  options.debug = true;  // the database's message is checked below
  options.threads = 2;
  options.log = false;
  Serve(options);
  {
    httplib::Client client = Client();
    auto post = [&client](const httplib::Params& params) { return client.Post("/edit.asp", params); };

    auto r = post({{"action", "insert"}, {"id", "4"}, {"name", "Zo\xC3\xAB's fig"}, {"price", "4.5"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(r->body, "\n\ndone insert");
    EXPECT_EQ(db_.Sql("select id, name, price from asp_items where id = 4"), "4|Zo\xC3\xAB's fig|4.5;");

    r = post({{"action", "edit"}, {"id", "2"}, {"name", "ripe pear"}, {"price", "2.5"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(db_.Sql("select name, price from asp_items where id = 2"), "ripe pear|2.5;");

    r = post({{"action", "delete"}, {"id", "1"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(db_.Sql("select id from asp_items order by id"), "2;4;");

    // A failing post answers 500 with the database's message, escaped, and
    // the server goes on serving.
    r = post({{"action", "insert"}, {"id", "2"}, {"name", "<dup>"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 500);
    EXPECT_NE(r->body.find("Duplicate"), std::string::npos) << r->body;
    r = post({{"action", "<script>"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 500);
    EXPECT_EQ(r->body.find("<script>"), std::string::npos) << r->body;

    r = client.Get("/list.asp");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body,
              "<table><tr><td>2</td><td>ripe pear</td><td>2.5</td></tr>"
              "<tr><td>4</td><td>Zo\xC3\xAB's fig</td><td>4.5</td></tr></table>");
  }
  StopServing();
  EXPECT_EQ(db_.Sql("select count(*) from asp_items"), "2;");
}

}  // namespace
}  // namespace quill::asp
