// The sample shop (examples/shop) against the private server: a copy of the
// site, with settings that name a database of the test's own loaded from
// shop.sql, runs in the page host as a request would run it. The pages must
// show what customers typed as text, refuse bad input with a message and
// without changing anything, and write exactly what the form asked for;
// every change is checked in the database with the client library.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/asp/automation_object.h"
#include "host/asp/page_runner.h"
#include "support/asp_test_component.h"
#include "support/quill_module.h"
#include "support/sql_client.h"
#include "support/test_server.h"

namespace quill::asp {
namespace {

constexpr const char* kDatabase = "quill_shop_site_test";

using quill::test::ScriptLiteral;

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

std::string Header(const PageResponse& r, const std::string& name) {
  for (const auto& [key, value] : r.headers) {
    if (key == name) return value;
  }
  return "";
}

class ShopSiteTest : public quill::test::SiteTest {
 protected:
  void SetUp() override {
    const auto settings = quill::test::TestServerFromEnv();
    if (!settings) GTEST_SKIP() << "no private test server: run the tests through scripts/run-tests";
    test::RegisterQuill();
    baseline_ = AutomationObject::LiveObjects();
    ASSERT_TRUE(db_.Connect(*settings, CLIENT_MULTI_STATEMENTS));
    db_.Sql(std::string("drop database if exists ") + kDatabase);
    db_.Sql(std::string("create database ") + kDatabase + " character set utf8mb4");
    ASSERT_EQ(mysql_select_db(db_.get(), kDatabase), 0) << mysql_error(db_.get());
    db_.Script(quill::test::ReadWholeFile(SHOP_SQL));

    std::filesystem::copy(SHOP_SITE_DIR, site_.root(), std::filesystem::copy_options::recursive |
                                                           std::filesystem::copy_options::overwrite_existing);
    site_.Write("settings.inc", "<% var ShopSettings = {host: " + ScriptLiteral(settings->host) +
                                    ", port: " + std::to_string(settings->port) +
                                    ", user: " + ScriptLiteral(settings->user) +
                                    ", password: " + ScriptLiteral(settings->password) +
                                    ", database: " + ScriptLiteral(kDatabase) + "}; %>");
  }

  void TearDown() override {
    if (!db_) return;
    db_.Sql(std::string("drop database if exists ") + kDatabase);
    EXPECT_EQ(AutomationObject::LiveObjects(), baseline_);
    EXPECT_EQ(test::QuillCanUnloadNow(), S_OK);
  }

  RenderResult Get(const std::string& page, const NameValueList& query = {}) {
    return Run(quill::test::SiteRequest(page, {}, query));
  }

  RenderResult Post(const std::string& page, const NameValueList& form) {
    return Run(quill::test::SiteRequest(page, form));
  }

  RenderResult Run(const PageRequest& request) {
    const SiteRoot root(site_.root());
    RenderResult r = RenderPage(root, request, HostOptions{});
    EXPECT_TRUE(r.error.empty()) << request.url_path << ": " << r.error;
    return r;
  }

  std::string Orders() { return db_.Sql("select id, customer_id, ordered, status, note from orders order by id"); }

  quill::test::SqlClient db_;
  int baseline_ = 0;
};

TEST_F(ShopSiteTest, CustomerListShowsWhatCustomersTypedAsText) {
  db_.Sql("insert into customers (id, name, city) values "
          "(20, '<script>alert(1)</script>', '\"><img src=x onerror=alert(2)>'), (21, 'O''Brien', NULL)");
  const RenderResult r = Get("/default.asp");
  EXPECT_EQ(r.response.status, 200);
  const std::string& body = r.response.body;
  EXPECT_EQ(Count(body, "<a href=\"customer.asp?id="), 9u) << body;
  EXPECT_NE(body.find(">Bits &amp; &lt;Bytes&gt; Ltd.</a>"), std::string::npos) << body;
  EXPECT_NE(body.find(">&lt;script&gt;alert(1)&lt;/script&gt;</a>"), std::string::npos) << body;
  EXPECT_NE(body.find("<td>&quot;&gt;&lt;img src=x onerror=alert(2)&gt;</td>"), std::string::npos) << body;
  EXPECT_NE(body.find(">O&#39;Brien</a>"), std::string::npos) << body;
  EXPECT_EQ(body.find("<script"), std::string::npos);
  EXPECT_EQ(body.find("<img"), std::string::npos);
  EXPECT_EQ(body.find("<Bytes>"), std::string::npos);
  // Spent leaves cancelled orders out: Grace Hopper's 104 is cancelled.
  EXPECT_NE(body.find("<a href=\"customer.asp?id=3\">Grace Hopper</a></td><td>New York</td>"
                      "<td class=\"num\">2</td><td class=\"num\">21.50</td>"),
            std::string::npos)
      << body;
}

TEST_F(ShopSiteTest, CustomerPageListsTheirOrdersOnly) {
  RenderResult r = Get("/customer.asp", {{"id", "1"}});
  EXPECT_EQ(r.response.status, 200);
  EXPECT_NE(r.response.body.find("<h1>Ada Byron</h1>"), std::string::npos);
  EXPECT_NE(r.response.body.find("order.asp?id=100"), std::string::npos);
  EXPECT_NE(r.response.body.find("order.asp?id=101"), std::string::npos);
  EXPECT_EQ(Count(r.response.body, "<a href=\"order.asp?id="), 2u);
  EXPECT_NE(r.response.body.find("14 Mar 2019"), std::string::npos);
  EXPECT_NE(r.response.body.find("<td>11 Feb 2024</td>"), std::string::npos);

  r = Get("/customer.asp", {{"id", "7"}});
  EXPECT_NE(r.response.body.find("<h1>Bits &amp; &lt;Bytes&gt; Ltd.</h1>"), std::string::npos);
  EXPECT_NE(r.response.body.find("&lt;b&gt;bold&lt;/b&gt; &amp; &quot;quoted&quot;"), std::string::npos);
  EXPECT_EQ(r.response.body.find("<b>"), std::string::npos);

  // No orders, no e-mail, no date.
  r = Get("/customer.asp", {{"id", "4"}});
  EXPECT_EQ(r.response.status, 200);
  EXPECT_NE(r.response.body.find("No orders yet."), std::string::npos);
  EXPECT_EQ(Count(r.response.body, "<a href=\"order.asp?id="), 0u);
}

TEST_F(ShopSiteTest, NumbersThatNameNothingAnswer404) {
  const NameValueList bad[] = {{{"id", "abc"}},         {{"id", "99999"}},        {{"id", "1 or 1=1"}},
                               {{"id", "-1"}},          {{"id", "1234567890"}},   {{"id", ""}},
                               {{"id", "1"}, {"id", "2"}}, {}};
  for (const NameValueList& query : bad) {
    const std::string what = BuildUrlEncoded(query);
    EXPECT_EQ(Get("/customer.asp", query).response.status, 404) << what;
    EXPECT_EQ(Get("/order.asp", query).response.status, 404) << what;
  }
  EXPECT_EQ(Get("/order.asp", {{"customer", "99"}}).response.status, 404);
  EXPECT_EQ(Get("/order.asp", {{"customer", "x"}}).response.status, 404);
}

TEST_F(ShopSiteTest, OrderEditorUpdatesInsertsAndDeletes) {
  RenderResult r = Get("/order.asp", {{"id", "101"}});
  EXPECT_EQ(r.response.status, 200);
  EXPECT_NE(r.response.body.find("value=\"2024-02-11\""), std::string::npos);
  EXPECT_NE(r.response.body.find("<option value=\"paid\" selected>"), std::string::npos);
  EXPECT_NE(r.response.body.find("value=\"Leave at the door\""), std::string::npos);

  // Update. A customer_id sent along is not one of the fields edited.
  r = Post("/order.asp", {{"action", "save"}, {"id", "101"}, {"ordered", "2024-02-29"}, {"status", "shipped"},
                          {"note", "Z\xC3\xBC" "rich \xF0\x9F\x98\x80 <i>x</i> 'q' \\"}, {"customer_id", "2"}});
  EXPECT_EQ(r.response.status, 302) << r.response.body;
  EXPECT_EQ(Header(r.response, "Location"), "order.asp?id=101&saved=1");
  EXPECT_EQ(db_.Sql("select customer_id, ordered, status, note from orders where id = 101"),
            "1|2024-02-29|shipped|Z\xC3\xBC" "rich \xF0\x9F\x98\x80 <i>x</i> 'q' \\;");
  r = Get("/order.asp", {{"id", "101"}, {"saved", "1"}});
  EXPECT_NE(r.response.body.find("Your changes were saved."), std::string::npos);
  EXPECT_NE(r.response.body.find("value=\"Z\xC3\xBC" "rich \xF0\x9F\x98\x80 &lt;i&gt;x&lt;/i&gt; &#39;q&#39; \\\""),
            std::string::npos)
      << r.response.body;

  // Insert.
  r = Post("/order.asp", {{"action", "save"}, {"customer_id", "4"}, {"ordered", "2024-09-09"}, {"status", "new"},
                          {"note", ""}});
  EXPECT_EQ(r.response.status, 302) << r.response.body;
  EXPECT_EQ(Header(r.response, "Location"), "order.asp?id=108&created=1");
  EXPECT_EQ(db_.Sql("select customer_id, ordered, status, note from orders where id = 108"), "4|2024-09-09|new|;");
  // Each save stored the order's total with it (order 101 was saved with a
  // stale one).
  db_.Sql("update orders set total = 0 where id = 101");
  r = Post("/order.asp", {{"action", "save"}, {"id", "101"}, {"ordered", "2024-02-29"}, {"status", "paid"},
                          {"note", ""}});
  EXPECT_EQ(db_.Sql("select id, total from orders where id in (101, 108) order by id"), "101|6.20;108|0.00;");

  // Delete, after the question; the order's lines go with it.
  r = Get("/order.asp", {{"id", "100"}, {"delete", "1"}});
  EXPECT_NE(r.response.body.find("with its 2 line(s)?"), std::string::npos);
  EXPECT_EQ(db_.Sql("select count(*) from orders where id = 100"), "1;");
  r = Post("/order.asp", {{"action", "delete"}, {"id", "100"}});
  EXPECT_EQ(r.response.status, 302) << r.response.body;
  EXPECT_EQ(Header(r.response, "Location"), "customer.asp?id=1&deleted=100");
  EXPECT_EQ(db_.Sql("select count(*) from orders where id = 100"), "0;");
  EXPECT_EQ(db_.Sql("select count(*) from order_lines where order_id = 100"), "0;");
  EXPECT_EQ(db_.Sql("select count(*) from orders"), "8;");
  r = Get("/customer.asp", {{"id", "1"}, {"deleted", "100"}});
  EXPECT_NE(r.response.body.find("Order 100 was deleted."), std::string::npos);
}

TEST_F(ShopSiteTest, OrderEditorRefusesBadFormsAndChangesNothing) {
  const std::string before = Orders();
  const std::string long_note(201, 'n');
  const NameValueList bad[] = {
      {{"ordered", "2024-02-30"}, {"status", "paid"}, {"note", "x"}},
      {{"ordered", "24-1-1"}, {"status", "paid"}, {"note", "x"}},
      {{"ordered", "2024-1-01"}, {"status", "paid"}, {"note", "x"}},
      {{"ordered", "0999-01-01"}, {"status", "paid"}, {"note", "x"}},
      {{"ordered", "2024-01-01'); drop table orders; --"}, {"status", "paid"}, {"note", "x"}},
      {{"ordered", "2024-01-01"}, {"status", "bogus"}, {"note", "x"}},
      {{"ordered", "2024-01-01"}, {"status", "PAID"}, {"note", "x"}},
      {{"ordered", "2024-01-01"}, {"status", "paid"}, {"status", "new"}, {"note", "x"}},
      {{"ordered", "2024-01-01"}, {"status", "paid"}},
      {{"ordered", "2024-01-01"}, {"status", "paid"}, {"note", long_note}},
      {{"status", "paid"}, {"note", "x"}},
  };
  for (const NameValueList& fields : bad) {
    const std::string what = BuildUrlEncoded(fields);
    NameValueList edit = {{"action", "save"}, {"id", "102"}};
    edit.insert(edit.end(), fields.begin(), fields.end());
    RenderResult r = Post("/order.asp", edit);
    EXPECT_EQ(r.response.status, 422) << what;
    EXPECT_NE(r.response.body.find("The order was not saved"), std::string::npos) << what;
    NameValueList create = {{"action", "save"}, {"customer_id", "2"}};
    create.insert(create.end(), fields.begin(), fields.end());
    EXPECT_EQ(Post("/order.asp", create).response.status, 422) << what;
  }
  // The refused form comes back as it was typed, as text.
  RenderResult r = Post("/order.asp", {{"action", "save"}, {"id", "102"}, {"ordered", "2024-13-01"},
                                       {"status", "paid"}, {"note", "<b>\"kept\"</b>"}});
  EXPECT_NE(r.response.body.find("value=\"&lt;b&gt;&quot;kept&quot;&lt;/b&gt;\""), std::string::npos);
  EXPECT_NE(r.response.body.find("value=\"2024-13-01\""), std::string::npos);
  EXPECT_EQ(r.response.body.find("<b>"), std::string::npos);

  // Rows that are not there: nothing is written, nothing is created (an
  // edit of an empty dataset would insert).
  EXPECT_EQ(Post("/order.asp", {{"action", "save"}, {"id", "999"}, {"ordered", "2024-01-01"}, {"status", "new"},
                                {"note", "ghost"}}).response.status,
            404);
  EXPECT_EQ(Post("/order.asp", {{"action", "delete"}, {"id", "999"}}).response.status, 404);
  EXPECT_EQ(Post("/order.asp", {{"action", "save"}, {"customer_id", "999"}, {"ordered", "2024-01-01"},
                                {"status", "new"}, {"note", "orphan"}}).response.status,
            404);
  EXPECT_EQ(Post("/order.asp", {{"action", "save"}, {"customer_id", "1 or 1=1"}, {"ordered", "2024-01-01"},
                                {"status", "new"}, {"note", "orphan"}}).response.status,
            404);
  EXPECT_EQ(Post("/order.asp", {{"action", "delete"}, {"id", "102"}, {"id", "103"}}).response.status, 400);
  EXPECT_EQ(Post("/order.asp", {{"action", "drop"}, {"id", "102"}}).response.status, 400);
  EXPECT_EQ(Post("/order.asp", {{"id", "102"}}).response.status, 400);
  EXPECT_EQ(Orders(), before);

  // Exactly 200 characters fit, however many bytes they take.
  std::string note;
  for (int i = 0; i < 100; ++i) note += "\xC3\xBC\xF0\x9F\x98\x80";
  r = Post("/order.asp", {{"action", "save"}, {"id", "102"}, {"ordered", "2024-01-01"}, {"status", "new"},
                          {"note", note}});
  EXPECT_EQ(r.response.status, 302) << r.response.body;
  EXPECT_EQ(db_.Sql("select note from orders where id = 102"), note + ";");
}

TEST_F(ShopSiteTest, ARefusalOfTheDatabaseIsShownAndChangesNothing) {
  db_.Script("create trigger refuse_note before update on orders for each row "
             "if new.note = 'refuse me' then signal sqlstate '45000' set message_text = 'refused by the test'; end if");
  const std::string before = Orders();
  const RenderResult r = Post("/order.asp", {{"action", "save"}, {"id", "103"}, {"ordered", "2024-05-05"},
                                             {"status", "paid"}, {"note", "refuse me"}});
  EXPECT_EQ(r.response.status, 422);
  EXPECT_NE(r.response.body.find("The database refused the change:"), std::string::npos) << r.response.body;
  EXPECT_NE(r.response.body.find("refused by the test"), std::string::npos) << r.response.body;
  EXPECT_NE(r.response.body.find("value=\"refuse me\""), std::string::npos);
  EXPECT_EQ(Orders(), before);
}

TEST_F(ShopSiteTest, SearchTakesTheTextAsText) {
  db_.Sql("insert into customers (id, name, city) values (30, '100% Organic_Farm', 'Bath')");
  auto summary = [this](const std::string& text) {
    const RenderResult r = Get("/search.asp", {{"q", text}});
    EXPECT_EQ(r.response.status, 200) << text;
    const std::string marker = "<p class=\"lead\" id=\"summary\">";
    const size_t at = r.response.body.find(marker);
    if (at == std::string::npos) return std::string("(none)");
    const size_t from = at + marker.size();
    return r.response.body.substr(from, r.response.body.find(" match", from) - from);
  };
  EXPECT_EQ(summary("ada"), "1 customer(s) and 0 order(s)");
  EXPECT_EQ(summary("  LONDON "), "1 customer(s) and 0 order(s)");
  EXPECT_EQ(summary("paid"), "0 customer(s) and 2 order(s)");
  EXPECT_EQ(summary("101"), "0 customer(s) and 1 order(s)");
  EXPECT_EQ(summary("%"), "1 customer(s) and 0 order(s)");
  EXPECT_EQ(summary("_"), "1 customer(s) and 0 order(s)");
  EXPECT_EQ(summary("' or 1=1 -- "), "0 customer(s) and 0 order(s)");
  EXPECT_EQ(summary("\\' or ''='"), "0 customer(s) and 0 order(s)");
  EXPECT_EQ(summary("[$TABLENAME]"), "0 customer(s) and 0 order(s)");
  EXPECT_EQ(summary("#"), "0 customer(s) and 0 order(s)");
  EXPECT_EQ(summary("<b>"), "0 customer(s) and 1 order(s)");
  EXPECT_EQ(summary(""), "(none)");

  RenderResult r = Get("/search.asp", {{"q", "<script>x</script>"}});
  EXPECT_EQ(r.response.body.find("<script>"), std::string::npos);
  EXPECT_NE(r.response.body.find("value=\"&lt;script&gt;x&lt;/script&gt;\""), std::string::npos);
  r = Get("/search.asp", {{"q", std::string(101, 'a')}});
  EXPECT_NE(r.response.body.find("at most 100 characters"), std::string::npos);
  EXPECT_EQ(r.response.body.find("id=\"summary\""), std::string::npos);
  EXPECT_EQ(db_.Sql("select count(*) from customers"), "8;");
}

TEST_F(ShopSiteTest, OrdersAsJson) {
  RenderResult r = Get("/orders.json.asp", {{"customer", "7"}});
  EXPECT_EQ(r.response.status, 200);
  EXPECT_EQ(r.response.FullContentType(), "application/json; charset=utf-8");
  const size_t start = r.response.body.find('[');
  ASSERT_NE(start, std::string::npos) << r.response.body;
  EXPECT_EQ(r.response.body.substr(start),
            "[{\"id\":107,\"customer_id\":7,\"customer\":\"Bits & <Bytes> Ltd.\",\"ordered\":\"2024-06-03\","
            "\"status\":\"new\",\"total\":13.00,\"note\":\"<b>bold</b> & \\\"quoted\\\"\"}]");
  r = Get("/orders.json.asp");
  size_t objects = 0;
  for (size_t at = r.response.body.find("{\"id\":"); at != std::string::npos;
       at = r.response.body.find("{\"id\":", at + 1)) {
    ++objects;
  }
  EXPECT_EQ(objects, 8u);
  r = Get("/orders.json.asp", {{"customer", "99"}});
  EXPECT_EQ(r.response.body.substr(r.response.body.find('[')), "[]");
}

TEST_F(ShopSiteTest, ProductsListsEveryProduct) {
  const RenderResult r = Get("/products.asp");
  EXPECT_EQ(r.response.status, 200);
  EXPECT_EQ(Count(r.response.body, "<span class=\"tag\">"), 8u);
  EXPECT_NE(r.response.body.find("<td>Cheese (aged)</td><td><span class=\"tag\">dairy</span></td>"
                                 "<td class=\"num\">7.90</td><td class=\"num\">3</td>"),
            std::string::npos)
      << r.response.body;
  EXPECT_NE(r.response.body.find("8 products in 4 categories."), std::string::npos);
}

}  // namespace
}  // namespace quill::asp
