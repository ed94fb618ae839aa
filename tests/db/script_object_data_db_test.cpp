// IQuill2 through the binary contract: bound parameters, transactions seen
// from a second connection, rows as an array and as JSON.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "script_object_test_support.h"

namespace quill::test {
namespace {

class QuillDataTest : public QuillDbTest {
 protected:
  // Exec with its values; the outcome as the script sees it.
  Outcome Run(const std::string& sql, std::vector<Arg> values) {
    return q.Method(u"Exec", {Arg::Str(sql), Arg::Array(values)});
  }
  // The text of field `field` of the query's first row.
  std::string First(const std::string& sql, std::vector<Arg> values, const std::string& field) {
    Outcome r = q.Get(u"Query", {Arg::Str("first"), Arg::Str(sql), Arg::Array(values)});
    EXPECT_TRUE(r.ok()) << sql << ": " << r.error;
    Dispatch d = Dispatch::From(r);
    if (!d) return "<no dataset>";
    Outcome v = d.Method(u"fieldvalues", {Arg::Str(field)});
    return v.ok() ? v.Text() : "<" + v.error + ">";
  }
};

Arg Bytes(const std::string& bytes) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  SafeArrayUnaccessData(v.parray);
  return Arg::Adopt(v);
}

TEST_F(QuillDataTest, ParamsReachTheServerAsData) {
  Table("bound", "id int primary key, s varchar(200) character set utf8mb4");
  const std::vector<std::string> attacks = {
      "O'Brien",           "back\\slash\\",      std::string("nul\0byte", 8), "what? ?",
      "\xC3\xBC\xE6\xBC\xA2\xF0\x9F\x98\x80",   "x'); drop table bound; -- ",
      "\xC3\xA9\x27 or 1=1 #", "\" or \"\"=\"",      "?', 1) -- "};
  for (size_t i = 0; i < attacks.size(); ++i) {
    Outcome r = Run("insert into bound (id, s) values (?, ?)",
                    {Arg::I4(static_cast<int32_t>(i)), Arg::Str(attacks[i])});
    ASSERT_TRUE(r.ok()) << i << ": " << r.error;
    EXPECT_EQ(r.Text(), "1");
  }
  for (size_t i = 0; i < attacks.size(); ++i) {
    const int32_t id = static_cast<int32_t>(i);
    EXPECT_EQ(First("select s from bound where id = ?", {Arg::I4(id)}, "s"), attacks[i]) << i;
    // The value matches itself and nothing else.
    EXPECT_EQ(First("select count(*) as n from bound where s = ? and '?' = '?' # ?", {Arg::Str(attacks[i])},
                    "n"),
              "1")
        << i;
  }
  // A count that does not match sends nothing.
  Outcome r = Run("update bound set s = ? where id = ?", {Arg::Str("lost")});
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.error, "2 placeholders in the SQL but 1 value given");
  r = q.Method(u"Exec", {Arg::Str("delete from bound where id = 0 -- ?")});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.Text(), "1");
  EXPECT_EQ(Rows("select count(*) from bound where s = 'lost'"), "0|;");
}

TEST_F(QuillDataTest, EachValueTypeBinds) {
  Table("typed", "i bigint, d double, c decimal(12,4), b tinyint, t datetime, bin varbinary(8), "
                 "n int null, s varchar(10)");
  VARIANT cy;
  VariantInit(&cy);
  cy.vt = VT_CY;
  cy.cyVal.int64 = 123456789;  // 12345.6789
  Outcome r = Run("insert into typed values (?, ?, ?, ?, ?, ?, ?, ?)",
                  {Arg::R8(9007199254740991.0), Arg::R8(-2.5e-3), Arg::Adopt(cy), Arg::Bool(true),
                   Arg::Date(45351.5 /* 2024-02-29 12:00 */), Bytes(std::string("\x00\xFF'", 3)),
                   Arg::Null(), Arg::I4(-7)});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(Rows("select i, d, c, b, t, hex(bin), n is null, s from typed"),
            "9007199254740991|-0.0025|12345.6789|1|2/29/2024 12:00:00 PM|00FF27|1|-7|;");
  // Without Params, a statement runs as written; one value may stand alone.
  r = q.Method(u"Exec", {Arg::Str("update typed set s = 'x'")});
  ASSERT_TRUE(r.ok()) << r.error;
  r = q.Method(u"Exec", {Arg::Str("update typed set s = ?"), Arg::Str("y")});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(Rows("select s from typed"), "y|;");
  r = Run("select ?", {Arg::Dispatch(q.get())});
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error.find("Parameter 1"), std::string::npos) << r.error;

  // A dataset's Filter binds its placeholders from filterparams.
  Table("items", "id int primary key, name varchar(20)", "(1, 'a?'), (2, 'b'), (3, 'c''')");
  Dispatch d = Open("items", "items");
  ASSERT_TRUE(d.Put(u"filterparams", Arg::Array({Arg::Str("c'"), Arg::I4(1)})).ok());
  ASSERT_TRUE(d.Put(u"filter", Arg::Str("name = ? or (id = ? and name like 'a?')")).ok());
  ASSERT_TRUE(d.Put(u"filtered", Arg::Bool(true)).ok());
  EXPECT_EQ(d.Get(u"recordcount").Text(), "2");
  ASSERT_TRUE(d.Put(u"filterparams", Arg::Array({Arg::Str("b"), Arg::I4(0)})).ok());
  EXPECT_EQ(d.Get(u"recordcount").Text(), "1");
  EXPECT_EQ(d.Method(u"fieldvalues", {Arg::Str("id")}).Text(), "2");
  Outcome bad = d.Put(u"filterparams", Arg::Array({Arg::Str("b")}));
  EXPECT_FALSE(bad.ok());

  // A Query over a plain table select is edited like any dataset.
  r = q.Get(u"Query", {Arg::Str("one"), Arg::Str("select * from items where id = ?"),
                       Arg::Array({Arg::I4(3)})});
  ASSERT_TRUE(r.ok()) << r.error;
  r = q.Method(u"Execute", {Arg::Str("Edit"), Arg::Str("one"), Arg::Str("name"),
                            Arg::Array({Arg::Str("c2")})});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(Rows("select name from items where id = 3"), "c2|;");
}

TEST_F(QuillDataTest, TransactionsCommitRollBackAndEndWithTheObject) {
  Table("acct", "id int primary key, amount int", "(1, 100), (2, 50)");
  Dispatch d = Open("acct", "acct");
  ASSERT_TRUE(q.Method(u"BeginTrans").ok());
  EXPECT_EQ(q.Get(u"InTransaction").Text(), "True");
  Outcome nested = q.Method(u"BeginTrans");
  EXPECT_FALSE(nested.ok());
  EXPECT_EQ(nested.error, "A transaction is already open");
  ASSERT_TRUE(Run("update acct set amount = amount - ? where id = ?", {Arg::I4(30), Arg::I4(1)}).ok());
  // The dataset's generated update belongs to the transaction too.
  ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("Last"), Arg::Str("acct")}).ok());
  ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("Edit"), Arg::Str("acct"), Arg::Str("amount"),
                                     Arg::Array({Arg::I4(80)})})
                  .ok());
  EXPECT_EQ(Rows("select amount from acct order by id"), "100|;50|;");
  ASSERT_TRUE(q.Method(u"CommitTrans").ok());
  EXPECT_EQ(q.Get(u"InTransaction").Text(), "False");
  EXPECT_EQ(Rows("select amount from acct order by id"), "70|;80|;");
  EXPECT_EQ(q.Method(u"CommitTrans").error, "No transaction is open");

  // A rollback undoes both and re-reads the dataset.
  ASSERT_TRUE(q.Method(u"BeginTrans").ok());
  ASSERT_TRUE(Run("delete from acct where id = ?", {Arg::I4(1)}).ok());
  ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("Edit"), Arg::Str("acct"), Arg::Str("amount"),
                                     Arg::Array({Arg::I4(0)})})
                  .ok());
  ASSERT_TRUE(q.Method(u"RollbackTrans").ok());
  EXPECT_EQ(Rows("select amount from acct order by id"), "70|;80|;");
  EXPECT_EQ(d.Get(u"recordcount").Text(), "2");
  EXPECT_EQ(Content("acct", "<#amount>"), "80");

  // A dataset on a connection of its own joins the transaction meanwhile.
  Dispatch own = Dispatch::From(q.Get(u"Dataset", {Arg::Str("own"), Arg::Str("acct")}));
  ASSERT_TRUE(own.Put(u"ShareConnection", Arg::Bool(false)).ok());
  ASSERT_TRUE(own.Method(u"Open").ok());
  ASSERT_TRUE(own.Method(u"Last").ok());
  ASSERT_TRUE(q.Method(u"BeginTrans").ok());
  ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("Edit"), Arg::Str("own"), Arg::Str("amount"),
                                     Arg::Array({Arg::I4(1)})})
                  .ok());
  EXPECT_EQ(Rows("select amount from acct order by id"), "70|;80|;");
  ASSERT_TRUE(q.Method(u"RollbackTrans").ok());
  EXPECT_EQ(own.Method(u"fieldvalues", {Arg::Str("amount")}).Text(), "80");
  EXPECT_EQ(own.Get(u"ShareConnection").Text(), "False");

  // Ending the page, reconnecting or releasing the object rolls back.
  ASSERT_TRUE(q.Method(u"BeginTrans").ok());
  ASSERT_TRUE(Run("delete from acct where id = ?", {Arg::I4(1)}).ok());
  ASSERT_TRUE(q.Method(u"OnEndPage").ok());
  EXPECT_EQ(q.Get(u"InTransaction").Text(), "False");
  ASSERT_TRUE(q.Method(u"BeginTrans").ok());
  ASSERT_TRUE(Run("delete from acct where id = ?", {Arg::I4(1)}).ok());
  ASSERT_TRUE(q.Method(u"Connect", ConnectArgs()).ok());
  EXPECT_EQ(q.Get(u"InTransaction").Text(), "False");
  ASSERT_TRUE(q.Method(u"BeginTrans").ok());
  ASSERT_TRUE(Run("delete from acct where id = ?", {Arg::I4(2)}).ok());
  d.Reset();
  q.Reset();
  EXPECT_EQ(Rows("select amount from acct order by id"), "70|;80|;");
}

TEST_F(QuillDataTest, GetRowsReadsFieldsByRowsAndMovesOn) {
  Table("g", "id int primary key, name varchar(10), price decimal(6,2)",
        "(1, 'a', 1.5), (2, 'b', null), (3, 'c', 3), (4, 'd', 4), (5, 'e', 5)");
  Dispatch d = Open("g", "g");
  ASSERT_TRUE(q.Method(u"Execute", {Arg::Str("Next"), Arg::Str("g")}).ok());
  Outcome r = q.Get(u"GetRows", {Arg::Str("g"), Arg::I4(2), Arg::Str("name; id")});
  ASSERT_TRUE(r.ok()) << r.error;
  ASSERT_EQ(r.value.var().vt, VT_ARRAY | VT_VARIANT);
  SAFEARRAY* a = r.value.var().parray;
  ASSERT_EQ(SafeArrayGetDim(a), 2u);
  LONG fields = 0, rows = 0;
  SafeArrayGetUBound(a, 1, &fields);
  SafeArrayGetUBound(a, 2, &rows);
  EXPECT_EQ(fields, 1);
  EXPECT_EQ(rows, 1);
  auto cell = [&](LONG f, LONG row) {
    LONG at[2] = {f, row};
    Arg v;
    SafeArrayGetElement(a, at, &v.var());
    Outcome o;
    o.value = v;
    return o.Text();
  };
  EXPECT_EQ(cell(0, 0) + cell(1, 0) + cell(0, 1) + cell(1, 1), "b2c3");
  EXPECT_EQ(d.Method(u"fieldvalues", {Arg::Str("id")}).Text(), "4");

  r = q.Get(u"GetRows", {Arg::Str("g")});
  ASSERT_TRUE(r.ok()) << r.error;
  SafeArrayGetUBound(r.value.var().parray, 1, &fields);
  SafeArrayGetUBound(r.value.var().parray, 2, &rows);
  EXPECT_EQ(fields, 2);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(d.Get(u"eof").Text(), "True");
  r = q.Get(u"GetRows", {Arg::Str("g")});
  ASSERT_TRUE(r.ok()) << r.error;
  SafeArrayGetUBound(r.value.var().parray, 2, &rows);
  EXPECT_EQ(rows, -1) << "no rows left";

  EXPECT_EQ(q.Get(u"GetRows", {Arg::Str("g"), Arg::I4(1), Arg::Str("nope")}).error,
            "Field 'nope' not found");
  EXPECT_EQ(q.Get(u"GetRows", {Arg::Str("none")}).error, "Dataset \"none\" not found.");
}

}  // namespace
}  // namespace quill::test
