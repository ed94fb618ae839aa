// The collection shell: count, item class, items by index and by ID, add
// and clear, and the shells it hands out for items.
#include <gtest/gtest.h>

#include "activex_shell/activex_shell.h"
#include "script_host.h"
#include "test_objects.h"

namespace quill::testing {
namespace {

class CollectionShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"one", "two", "three"}) {
      static_cast<TTestItem*>(items.Add())->name = name;
    }
  }
  Outcome Do(const char* verb, std::vector<Var> args = {}) {
    std::vector<const Var*> refs;
    for (const Var& a : args) refs.push_back(&a);
    return Call(d, verb, refs);
  }
  // The Name read through the shell a verb returned.
  std::string NameOf(const Outcome& out) {
    return Get(out.result.dispatch(), "name").result.text();
  }

  TTestCollection items;
  Obj shell = Obj::ShellOver(&items);
  IDispatch* d = shell.get();
};

TEST_F(CollectionShellTest, CountItemClassAndItems) {
  EXPECT_EQ(Get(d, "Count").result.i4(), 3);
  EXPECT_EQ(Get(d, "ItemClass").result.text(), "TTestItem");
  EXPECT_EQ(NameOf(Do("item", {I4(2)})), "three");
  EXPECT_EQ(NameOf(Do("item", {Text("x")})), "one");
  EXPECT_EQ(Do("item", {I4(3)}).result.vt(), VT_EMPTY);
  EXPECT_EQ(Do("item", {I4(-1)}).result.vt(), VT_EMPTY);
  EXPECT_EQ(Do("item").result.vt(), VT_EMPTY);
  EXPECT_EQ(Call(d, "count").result.vt(), VT_EMPTY);
  EXPECT_EQ(Put(d, "count", I4(1)).error, "Property is not found : count");
  EXPECT_EQ(Get(d, "item").error, "Property is not found : item");
}

TEST_F(CollectionShellTest, FindItemIdSearchesEveryId) {
  EXPECT_EQ(NameOf(Do("finditemid", {I4(1)})), "two");
  items.Delete(1);  // IDs now 0 and 2, count 2
  Outcome gone = Do("finditemid", {I4(1)});
  ASSERT_EQ(gone.result.vt(), VT_DISPATCH);  // below the count: a shell over nothing
  EXPECT_EQ(Get(gone.result.dispatch(), "name").hr, DISP_E_UNKNOWNNAME);
  Var name = Text("Name");
  EXPECT_EQ(InvokeId(gone.result.dispatch(), fixed_dispids::get, DISPATCH_METHOD, {&name}).error,
            "Property is not found : Name");
  // An ID that grew past the count is still found.
  EXPECT_EQ(NameOf(Do("finditemid", {I4(2)})), "three");
  EXPECT_EQ(Do("finditemid", {I4(7)}).result.vt(), VT_EMPTY);
  EXPECT_EQ(Do("finditemid", {I4(-1)}).result.vt(), VT_EMPTY);
  EXPECT_EQ(Do("finditemid").result.vt(), VT_EMPTY);
}

TEST_F(CollectionShellTest, AddAndClear) {
  Outcome added = Do("add");
  ASSERT_EQ(added.result.vt(), VT_DISPATCH);
  EXPECT_EQ(Get(d, "count").result.i4(), 4);
  EXPECT_TRUE(Put(added.result.dispatch(), "Name", Text("four")).ok());
  EXPECT_EQ(static_cast<TTestItem*>(items.Item(3))->name, "four");
  EXPECT_EQ(Do("clear").result.vt(), VT_EMPTY);
  EXPECT_EQ(Get(d, "count").result.i4(), 0);
  // The item's shell outlives the item and now wraps nothing.
  EXPECT_EQ(Put(added.result.dispatch(), "Name", Text("x")).error,
            "Property is not found : name");
}

}  // namespace
}  // namespace quill::testing
