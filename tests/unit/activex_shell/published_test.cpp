// Published properties of every kind, read and written by name through a
// generic shell, with the script-side conversion rules.
#include <gtest/gtest.h>

#include <memory>

#include "activex_shell/activex_shell.h"
#include "script_host.h"
#include "test_objects.h"

namespace quill::testing {
namespace {

class PublishedTest : public ::testing::Test {
 protected:
  TPropertyBag bag;
  Obj shell = Obj::ShellOver(&bag);
  IDispatch* d = shell.get();
};

TEST_F(PublishedTest, NamesIgnoreCaseAndUnknownNamesFail) {
  bag.count = 3306;
  for (const char* name : {"count", "COUNT", "Count"}) EXPECT_EQ(Get(d, name).result.i4(), 3306);
  DISPID id = 0;
  EXPECT_FALSE(IdOf(d, "Colour", &id));
  Var name = Text("Colour"), value = I4(1);
  EXPECT_EQ(InvokeId(d, fixed_dispids::put, DISPATCH_METHOD, {&name, &value}).error,
            "Property is not found : Colour");
  EXPECT_EQ(InvokeId(d, fixed_dispids::get, DISPATCH_METHOD, {&name}).error,
            "Property is not found : Colour");
  // Name and Tag come from the component class.
  EXPECT_TRUE(Put(d, "name", Text("bag1")).ok());
  EXPECT_EQ(Get(d, "Name").result.text(), "bag1");
  EXPECT_TRUE(Put(d, "tag", Text("12")).ok());
  EXPECT_EQ(bag.Tag(), 12);
}

TEST_F(PublishedTest, NumbersConvertOrFailWithTheConversionMessage) {
  EXPECT_EQ(Get(d, "Letter").result.i4(), 'A');
  EXPECT_TRUE(Put(d, "Letter", I4('z')).ok());
  EXPECT_EQ(bag.letter, 'z');
  EXPECT_TRUE(Put(d, "Count", Text("42")).ok());
  EXPECT_EQ(bag.count, 42);
  EXPECT_TRUE(Put(d, "Ratio", Text("2.5")).ok());
  EXPECT_DOUBLE_EQ(Get(d, "Ratio").result.r8(), 2.5);
  EXPECT_TRUE(Put(d, "Options", I4(5)).ok());
  EXPECT_EQ(Get(d, "Options").result.i4(), 5);

  int writes = bag.writes;
  EXPECT_EQ(Put(d, "Ratio", Text("x")).error, "'x' is not a valid floating point value");
  EXPECT_EQ(Put(d, "Count", R8(1e12)).hr, DISP_E_EXCEPTION);
  EXPECT_EQ(bag.writes, writes);  // nothing reached a writer
  EXPECT_EQ(bag.count, 42);
}

TEST_F(PublishedTest, BooleansOnlyFromABooleanOrAName) {
  Outcome read = Get(d, "Enabled");
  EXPECT_TRUE(read.result.boolean());
  EXPECT_TRUE(Put(d, "Enabled", Bool(false)).ok());
  EXPECT_FALSE(bag.enabled);
  EXPECT_TRUE(Put(d, "Enabled", Text("true")).ok());
  EXPECT_TRUE(bag.enabled);
  EXPECT_TRUE(Put(d, "Enabled", Text("FALSE")).ok());
  EXPECT_FALSE(bag.enabled);
  int writes = bag.writes;
  for (const Var& v : {I4(1), Text("yes"), R8(-1), Null()}) {
    Outcome out = Put(d, "Enabled", v);
    EXPECT_TRUE(out.ok()) << out.error;
  }
  EXPECT_FALSE(bag.enabled);
  EXPECT_EQ(bag.writes, writes);
}

TEST_F(PublishedTest, EnumerationsTravelByName) {
  EXPECT_EQ(Get(d, "Color").result.text(), "clRed");
  EXPECT_TRUE(Put(d, "Color", Text("CLBLUE")).ok());
  EXPECT_EQ(bag.color, 2);
  EXPECT_EQ(Get(d, "color").result.text(), "clBlue");
  EXPECT_TRUE(Put(d, "Color", Text("purple")).ok());  // unknown name: kept, no error
  EXPECT_TRUE(Put(d, "Color", I4(0)).ok());           // ordinals are not names
  EXPECT_EQ(bag.color, 2);
}

TEST_F(PublishedTest, TextsVariantsAndInt64) {
  EXPECT_TRUE(Put(d, "Caption", I4(5)).ok());
  EXPECT_EQ(bag.caption, "5");
  EXPECT_TRUE(Put(d, "Caption", Null()).ok());
  EXPECT_EQ(bag.caption, "");
  EXPECT_TRUE(Put(d, "Caption", Text("Grüße €")).ok());
  EXPECT_EQ(Get(d, "Caption").result.text(), "Grüße €");

  EXPECT_TRUE(Put(d, "Data", R8(1.5)).ok());
  EXPECT_DOUBLE_EQ(Get(d, "Data").result.r8(), 1.5);

  EXPECT_TRUE(Put(d, "Big", Text("9007199254740993")).ok());
  EXPECT_EQ(bag.big, 9007199254740993);
  Outcome big = Get(d, "Big");
  EXPECT_EQ(big.result.text(), "9007199254740993");  // beyond a double: exact text
  EXPECT_TRUE(Put(d, "Big", R8(1099511627776.0)).ok());
  EXPECT_DOUBLE_EQ(Get(d, "Big").result.r8(), 1099511627776.0);
  EXPECT_TRUE(Put(d, "Big", I4(-5)).ok());
  EXPECT_EQ(Get(d, "Big").result.i4(), -5);
}

TEST_F(PublishedTest, ArraysArriveWholeByReferenceAndByValue) {
  Var array = Array({I4(1), Text("two")}, 1);
  Var by_ref = RefTo(array.ptr());
  EXPECT_TRUE(Put(d, "Data", by_ref).ok());
  ASSERT_TRUE(bag.data.IsArray());
  EXPECT_EQ(bag.data.RawArray().LowBound, 1);
  ASSERT_EQ(bag.data.RawArray().Items.size(), 2u);
  EXPECT_EQ(bag.data.RawArray().Items[1].AsString(), "two");
  Outcome back = Get(d, "Data");
  ASSERT_EQ(back.result.vt(), VT_ARRAY | VT_VARIANT);
  LONG low = 0;
  SafeArrayGetLBound(back.result.get().parray, 1, &low);
  EXPECT_EQ(low, 1);

  bag.data = Variant();
  EXPECT_TRUE(Put(d, "Data", array).ok());  // the same array by value
  ASSERT_TRUE(bag.data.IsArray());
  EXPECT_EQ(bag.data.RawArray().Items.size(), 2u);
}

TEST_F(PublishedTest, EventsReadEmptyAndIgnoreWrites) {
  Outcome read = Get(d, "OnChange");
  EXPECT_TRUE(read.ok());
  EXPECT_EQ(read.result.vt(), VT_EMPTY);
  EXPECT_TRUE(Put(d, "onchange", Text("handler")).ok());
  EXPECT_EQ(bag.writes, 0);
}

TEST_F(PublishedTest, ReadOnlyPropertiesRefuseWrites) {
  EXPECT_EQ(Get(d, "Version").result.text(), "1.0");
  Outcome out = Put(d, "version", Text("2.0"));
  EXPECT_EQ(out.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(out.error, "Property Version is read-only");
}

TEST_F(PublishedTest, ObjectPropertiesTravelAsShells) {
  // A null reference still reads as a shell, over nothing.
  Outcome none = Get(d, "Lines");
  ASSERT_EQ(none.result.vt(), VT_DISPATCH);
  EXPECT_EQ(Get(none.result.dispatch(), "count").hr, DISP_E_UNKNOWNNAME);

  TStringList list;
  list.Add("x");
  EXPECT_TRUE(Put(d, "Lines", Disp(Obj::ShellOver(&list).get())).ok());
  EXPECT_EQ(bag.lines, &list);
  Outcome lines = Get(d, "Lines");  // a string-list shell over the same list
  EXPECT_EQ(Get(lines.result.dispatch(), "count").result.i4(), 1);

  // A shell over an object of the wrong class is refused; nothing changes.
  TPropertyBag other;
  Outcome wrong = Put(d, "Lines", Disp(Obj::ShellOver(&other).get()));
  EXPECT_EQ(wrong.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(wrong.error,
            "Cannot assign a TPropertyBag to the property Lines, which holds a TStringList");
  EXPECT_EQ(bag.lines, &list);
  // A derived class is welcome.
  EXPECT_TRUE(Put(d, "Peer", Disp(Obj::ShellOver(&other).get())).ok());
  EXPECT_EQ(bag.peer, &other);

  // Empty, a number, a foreign dispatch object or a shell whose object is
  // gone all clear the reference.
  EXPECT_TRUE(Put(d, "Lines", Var()).ok());
  EXPECT_EQ(bag.lines, nullptr);
  bag.peer = &other;
  EXPECT_TRUE(Put(d, "Peer", I4(static_cast<int32_t>(other.Handle()))).ok());
  EXPECT_EQ(bag.peer, nullptr);
  TDispatchable foreign;
  bag.peer = &other;
  EXPECT_TRUE(Put(d, "Peer", Disp(&foreign)).ok());
  EXPECT_EQ(bag.peer, nullptr);
  auto doomed = std::make_unique<TStringList>();
  Obj stale = Obj::ShellOver(doomed.get());
  doomed.reset();
  bag.lines = &list;
  EXPECT_TRUE(Put(d, "Lines", Disp(stale.get())).ok());
  EXPECT_EQ(bag.lines, nullptr);
}

}  // namespace
}  // namespace quill::testing
