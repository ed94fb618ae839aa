// The dataset and field shells over a MySQL dataset fed from a prepared
// result: the verb vocabularies, their read/call/write split, the fallback
// to published properties, and the shells handed out for fields and macros.
#include <gtest/gtest.h>

#include "activex_shell/activex_shell.h"
#include "activex_shell/dataset_shell.h"
#include "activex_shell/field_shell.h"
#include "fake_result.h"
#include "mysql_server/mysql_server.h"
#include "script_host.h"

namespace quill::testing {
namespace {

using quill::test::Col;
using quill::test::TFakeMySQLDataset;

class DatasetShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.result.fields = {
        Col("id", MySQLType::Long, kNotNullFlag | kPriKeyFlag),
        Col("name", MySQLType::VarString, 0, 40),
        Col("memo", MySQLType::Blob, kBlobFlag, 4294967295u),
        Col("kind", MySQLType::String, kEnumFlag | kMultipleKeyFlag, 4),
        Col("data", MySQLType::LongBlob, kBlobFlag | kBinaryFlag, 4294967295u, "t",
            kBinaryCharsetNr),
    };
    ds.result.rows = {{"1", "Smith", "abc", "a", ""},
                      {"2", std::nullopt, "", "b", ""},
                      {"3", "Jones", "x", "a", ""}};
  }
  Outcome Do(IDispatch* on, const char* verb, std::vector<Var> args = {}) {
    std::vector<const Var*> refs;
    for (const Var& a : args) refs.push_back(&a);
    return Call(on, verb, refs);
  }
  Outcome Do(const char* verb, std::vector<Var> args = {}) { return Do(d, verb, std::move(args)); }
  // A field shell from fieldbyname.
  Var FieldShell(const char* name) { return Do("fieldbyname", {Text(name)}).result; }

  TFakeMySQLDataset ds;
  Obj shell = Obj::ShellOver(&ds);
  IDispatch* d = shell.get();
};

TEST_F(DatasetShellTest, StateFollowsTheDataset) {
  EXPECT_EQ(Get(d, "state").result.i4(), 1);
  EXPECT_TRUE(Put(d, "Active", I4(1)).ok());  // a number is no Boolean name: nothing
  EXPECT_FALSE(ds.Active());
  EXPECT_TRUE(Put(d, "active", Text("True")).ok());
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(Get(d, "STATE").result.i4(), 0);
  Do("edit");
  EXPECT_EQ(Do("state").result.i4(), -2);
  Do("cancel");
  Do("close");
  EXPECT_FALSE(Get(d, "Active").result.boolean());
  EXPECT_TRUE(Put(d, "Active", Bool(true)).ok());
  EXPECT_TRUE(ds.Active());
  EXPECT_TRUE(Put(d, "tablename", Text("people")).ok());  // a published property
  EXPECT_EQ(ds.TableName(), "people");
}

TEST_F(DatasetShellTest, NavigationVerbsAndReadableNames) {
  ds.OpenDataset();
  DISPID a = 0, b = 0, c = 0;
  ASSERT_TRUE(IdOf(d, "recordcount", &a));
  ASSERT_TRUE(IdOf(d, "RecordCount", &b));
  ASSERT_TRUE(IdOf(d, "RECORDCOUNT", &c));
  EXPECT_TRUE(a == b && b == c);
  EXPECT_EQ(Get(d, "RecordCount").result.i4(), 3);
  EXPECT_TRUE(Get(d, "bof").result.boolean());
  EXPECT_TRUE(Do("movenext").ok());
  EXPECT_EQ(Get(d, "recno").result.i4(), 1);
  Outcome read_verb = Get(d, "movenext");
  EXPECT_EQ(read_verb.error, "Property is not found : movenext");
  EXPECT_EQ(ds.RowIndex(), 1);  // the failed read did not move
  EXPECT_TRUE(Put(d, "recno", I4(0)).ok());
  EXPECT_EQ(ds.RowIndex(), 1);
  EXPECT_FALSE(Do("eof").result.boolean());  // eof as a call too
  Do("moveby", {Text("5")});
  EXPECT_TRUE(Get(d, "eof").result.boolean());
  EXPECT_EQ(Do("moveby", {Text("x")}).error, "'x' is not a valid integer value");
  Do("movefirst");
  EXPECT_EQ(Get(d, "absoluteposition").result.i4(), 0);
  Do("last");
  Do("moveprevious");
  EXPECT_EQ(Do("recno").result.i4(), 1);
  EXPECT_EQ(Get(d, "fieldcount").result.i4(), 5);
  EXPECT_FALSE(Get(d, "isempty").result.boolean());
  EXPECT_EQ(Get(d, "affectedrows").result.text(), "0");
}

TEST_F(DatasetShellTest, FieldValuesAndFieldShells) {
  ds.OpenDataset();
  EXPECT_EQ(Do("fieldvalues", {Text("NAME")}).result.text(), "Smith");
  Outcome both = Do("fieldvalues", {Text("id; name")});
  ASSERT_EQ(both.result.vt(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(Do("fieldvalues", {Text("zzz")}).error, "Field 'zzz' not found");
  EXPECT_EQ(Do("fieldvalues").error, "Missing argument 1");
  // The empty name is a member: the named field's value.
  Var empty = Text(""), field = Text("name");
  EXPECT_EQ(InvokeId(d, fixed_dispids::exec, DISPATCH_METHOD, {&empty, &field}).result.text(),
            "Smith");

  EXPECT_EQ(Get(Do("fields", {I4(1)}).result.dispatch(), "fieldname").result.text(), "name");
  EXPECT_EQ(Do("fields", {Text("x")}).error, "'x' is not a valid integer value");
  EXPECT_EQ(Do("fields", {I4(9)}).error, "List index out of bounds (9)");
  EXPECT_EQ(Do("fieldbyname", {Text("zzz")}).error, "Field 'zzz' not found");
  Outcome none = Do("findfield", {Text("zzz")});
  ASSERT_EQ(none.result.vt(), VT_DISPATCH);  // a field shell over nothing
  EXPECT_EQ(Get(none.result.dispatch(), "value").error, "Property is not found : value");
  EXPECT_EQ(Put(none.result.dispatch(), "value", I4(1)).error, "Property is not found : value");
  EXPECT_EQ(Do(none.result.dispatch(), "clear").result.vt(), VT_EMPTY);
}

TEST_F(DatasetShellTest, TextHelpersAndMacros) {
  EXPECT_EQ(Do("hexstr", {Text("abc")}).result.text(), "0x616263");
  EXPECT_EQ(Do("hexstr", {Null()}).result.text(), "NULL");
  EXPECT_EQ(Do("escapestr", {Text("it's")}).result.text(), "it's");  // no connection
  EXPECT_EQ(Do("formatidentifier", {Text("a b")}).result.text(), "a b");
  EXPECT_EQ(Do("macrobyname", {Text("nosuch")}).error, "Parameter 'nosuch' not found");
  // WHERE is one of the names the default select brings along.
  Outcome macro = Do("macrobyname", {Text("where")});
  EXPECT_TRUE(Put(macro.result.dispatch(), "Value", Text("id > 1")).ok());
  EXPECT_EQ(ds.Macros().FindMacro("where")->AsString(), "id > 1");
  Outcome macros = Get(d, "Macros");
  EXPECT_EQ(Get(macros.result.dispatch(), "count").result.i4(), ds.Macros().Count());
  EXPECT_EQ(Get(macros.result.dispatch(), "itemclass").result.text(), "TParam");
}

TEST_F(DatasetShellTest, ServerTravelsAsAShell) {
  TMySQLServer server;
  TFakeMySQLDataset other;
  Obj other_shell = Obj::ShellOver(&other);
  Outcome none = Get(d, "Server");
  ASSERT_EQ(none.result.vt(), VT_DISPATCH);
  EXPECT_EQ(Get(none.result.dispatch(), "port").hr, DISP_E_UNKNOWNNAME);
  ds.SetServer(&server);
  Outcome read = Get(d, "server");
  EXPECT_EQ(Get(read.result.dispatch(), "PORT").result.i4(), 3306);
  EXPECT_TRUE(Put(other_shell.get(), "Server", read.result).ok());
  EXPECT_EQ(other.Server(), &server);
  EXPECT_TRUE(Put(other_shell.get(), "Server", Var()).ok());
  EXPECT_EQ(other.Server(), nullptr);
  EXPECT_EQ(Put(d, "ServerVersion", Text("9")).hr, DISP_E_UNKNOWNNAME);
  Outcome version = Put(read.result.dispatch(), "ServerVersion", Text("9"));
  EXPECT_EQ(version.hr, DISP_E_EXCEPTION);
  ds.SetServer(nullptr);
}

class FieldShellTest : public DatasetShellTest {
 protected:
  void SetUp() override {
    DatasetShellTest::SetUp();
    ds.OpenDataset();
  }
};

TEST_F(FieldShellTest, ValueInEveryForm) {
  Var id = FieldShell("id");
  IDispatch* f = id.dispatch();
  EXPECT_EQ(Get(f, "value").result.i4(), 1);
  EXPECT_EQ(Get(f, "Value").result.i4(), 1);
  Var empty = Text("");
  EXPECT_EQ(InvokeId(f, fixed_dispids::get, DISPATCH_METHOD, {&empty}).result.i4(), 1);
  EXPECT_EQ(Get(f, "type").result.i4(), 3);  // ftInteger
  Do("edit");
  EXPECT_TRUE(Put(f, "value", I4(5)).ok());
  EXPECT_EQ(ds.RequireField("id").AsInteger(), 5);
  EXPECT_TRUE(Put(f, "asstring", Text("6")).ok());
  EXPECT_EQ(Do(f, "value").result.i4(), 6);
  EXPECT_EQ(Put(f, "value", Text("x")).hr, DISP_E_EXCEPTION);

  Var name = FieldShell("name");
  EXPECT_EQ(Get(name.dispatch(), "type").result.i4(), 1);  // ftString
  EXPECT_EQ(Get(name.dispatch(), "StringType").result.text(), "stNormal");
  EXPECT_EQ(Get(name.dispatch(), "ProviderFlags").result.i4(), 3);
  EXPECT_EQ(Get(name.dispatch(), "clear").error, "Property is not found : clear");
  EXPECT_TRUE(Do(name.dispatch(), "clear").ok());
  EXPECT_TRUE(Get(name.dispatch(), "isnull").result.boolean());
  EXPECT_EQ(Get(name.dispatch(), "value").result.vt(), VT_NULL);
  EXPECT_EQ(Put(name.dispatch(), "type", I4(3)).error, "Property is not found : type");
  Do("cancel");
  EXPECT_TRUE(Put(name.dispatch(), "fieldname", Text("who")).ok());
  EXPECT_EQ(ds.Field(1).FieldName(), "who");
}

TEST_F(FieldShellTest, ColumnDescription) {
  Var kind = FieldShell("kind");
  IDispatch* f = kind.dispatch();
  EXPECT_EQ(Get(f, "mysqltype").result.i4(), 247);
  EXPECT_EQ(Get(f, "StringType").result.text(), "stEnum");
  EXPECT_EQ(Get(f, "mysqlname").result.text(), "kind");
  EXPECT_EQ(Get(f, "mysqltable").result.text(), "t");
  EXPECT_EQ(Do(f, "mysqlname").result.vt(), VT_EMPTY);  // read only
  EXPECT_TRUE(Get(f, "isindexfield").result.boolean());
  EXPECT_FALSE(Get(FieldShell("name").dispatch(), "isindexfield").result.boolean());
  // An unsigned length beyond the Integer range is kept whole.
  EXPECT_DOUBLE_EQ(Get(FieldShell("data").dispatch(), "mysqllength").result.r8(), 4294967295.0);
  ds.Field(3).SetFieldName("renamed");
  EXPECT_EQ(Get(f, "mysqlname").result.vt(), VT_EMPTY);  // no column of that name
}

TEST_F(FieldShellTest, BlobsAsByteArrays) {
  Var memo = FieldShell("memo");
  IDispatch* f = memo.dispatch();
  EXPECT_EQ(Get(f, "type").result.i4(), 16);  // ftMemo
  Outcome bytes = Get(f, "asblob");
  ASSERT_EQ(bytes.result.vt(), VT_ARRAY | VT_UI1);
  SAFEARRAY* psa = bytes.result.get().parray;
  LONG low = -1, high = -1;
  SafeArrayGetLBound(psa, 1, &low);
  SafeArrayGetUBound(psa, 1, &high);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 2);
  EXPECT_EQ(std::string(static_cast<const char*>(psa->pvData), 3), "abc");

  Do("edit");
  EXPECT_TRUE(Put(f, "asblob", Array({I4(120), I4(121), I4(255)})).ok());  // by value
  EXPECT_EQ(ds.RequireField("memo").AsString(), "xy\xFF");
  Var array = Array({I4(97), I4(98)});
  Var by_ref = RefTo(array.ptr());
  EXPECT_TRUE(Put(f, "asblob", by_ref).ok());
  EXPECT_EQ(ds.RequireField("memo").AsString(), "ab");
  // No element is cut to a byte: what is no byte fails, the value stays.
  EXPECT_EQ(Put(f, "asblob", Array({I4(120), I4(0x179)})).error,
            "Element 1 of the byte array is not a byte value (0 to 255)");
  EXPECT_EQ(Put(f, "value", Array({I4(-1)})).error,
            "Element 0 of the byte array is not a byte value (0 to 255)");
  EXPECT_EQ(ds.RequireField("memo").AsString(), "ab");
  Var returned = bytes.result;
  Var returned_ref = RefTo(returned.ptr());
  EXPECT_TRUE(Put(f, "asblob", returned_ref).ok());  // written back as it was read
  EXPECT_EQ(ds.RequireField("memo").AsString(), "abc");
  Var bad = Array({Text("q")});
  Var bad_ref = RefTo(bad.ptr());
  EXPECT_EQ(Put(f, "asblob", bad_ref).error,
            "Element 0 of the byte array is not a byte value (0 to 255)");
  EXPECT_EQ(ds.RequireField("memo").AsString(), "abc");

  Var id = FieldShell("id");
  EXPECT_EQ(Get(id.dispatch(), "asblob").result.vt(), VT_EMPTY);
  // A field that takes no bytes refuses them aloud.
  EXPECT_EQ(Put(id.dispatch(), "asblob", by_ref).error, "Field 'id' is not a blob field");
  EXPECT_EQ(Put(id.dispatch(), "value", by_ref).error, "Field 'id' cannot take an array value");
  EXPECT_EQ(ds.RequireField("id").AsInteger(), 1);
}

}  // namespace
}  // namespace quill::testing
