// Execute against the private server: target choice, verbs, field names
// from a list or from the posted form, values from arrays (by value, by
// reference, typed) or from the form, and the failures a script can meet.
#include "script_object_test_support.h"

namespace quill::test {
namespace {

class ActionsTest : public QuillDbTest {
 protected:
  void SetUp() override {
    QuillDbTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Table("act_items", "id int primary key, name varchar(20), price decimal(8,2)",
          "(1, 'apple', 0.5), (2, 'pear', 0.75), (3, 'plum', 1.25)");
    items = Open("items", "act_items");
  }

  Outcome Execute(std::vector<Arg> args) { return q.Method(u"Execute", std::move(args)); }
  std::string Current() { return Content("items", "<#id>"); }

  Dispatch items;
};

TEST_F(ActionsTest, NoArgumentsMovesTheFirstRegisteredDatasetToItsNextRow) {
  Table("act_other", "id int primary key", "(10), (20)");
  Open("other", "act_other");
  ASSERT_TRUE(Execute({}).ok());
  EXPECT_EQ(Current(), "2");
  EXPECT_EQ(Content("other", "<#id>"), "10");
  // An unknown name acts on the first registered dataset too.
  ASSERT_TRUE(Execute({Arg::Str("next"), Arg::Str("nosuch")}).ok());
  EXPECT_EQ(Current(), "3");
}

TEST_F(ActionsTest, VerbsAreMatchedExactlyAfterUpperCasing) {
  ASSERT_TRUE(Execute({Arg::Str("Last")}).ok());
  EXPECT_EQ(Current(), "3");
  ASSERT_TRUE(Execute({Arg::Str("prior")}).ok());
  EXPECT_EQ(Current(), "2");
  ASSERT_TRUE(Execute({Arg::Str("PREVIOUS")}).ok());
  EXPECT_EQ(Current(), "1");
  ASSERT_TRUE(Execute({Arg::Str("prior")}).ok());
  EXPECT_EQ(Current(), "1") << "before the first row the first stays current";
  EXPECT_EQ(items.Get(u"Bof").Text(), "True");
  for (const char* ignored : {" next", "nextrow", "next ", "", "move"}) {
    ASSERT_TRUE(Execute({Arg::Str(ignored)}).ok()) << ignored;
    EXPECT_EQ(Current(), "1") << ignored;
  }
  ASSERT_TRUE(Execute({Arg::Str("nExT")}).ok());
  EXPECT_EQ(Current(), "2");
  ASSERT_TRUE(Execute({Arg::Str("first")}).ok());
  EXPECT_EQ(Current(), "1");
}

TEST_F(ActionsTest, UpdateWritesListedFieldsFromAnArray) {
  ASSERT_TRUE(Execute({Arg::Str("Next")}).ok());
  Outcome r = Execute({Arg::Str("UPDATE"), Arg::Str("items"), Arg::Str("name,price"),
                       Arg::Array({Arg::Str("Pear!"), Arg::R8(0.8)})});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(Content("items", "<#name> <#price>"), "Pear! 0.80");  // a DECIMAL shows the server's text
  EXPECT_EQ(Rows("select id, name, price from act_items order by id"),
            "1|apple|0.50|;2|Pear!|0.80|;3|plum|1.25|;");
}

TEST_F(ActionsTest, AFailingValueTakesBackWhatTheSameExecuteWrote) {
  // "abc" is no number: name, written before it, gets its old value back,
  // and the post that moving on makes sends nothing of the failed Execute.
  Outcome r = Execute({Arg::Str("UPDATE"), Arg::Str("items"), Arg::Str("name,price"),
                       Arg::Array({Arg::Str("lost"), Arg::Str("abc")})});
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(Content("items", "<#name>"), "apple");
  ASSERT_TRUE(Execute({Arg::Str("next")}).ok());
  EXPECT_EQ(Rows("select id, name from act_items order by id"), "1|apple|;2|pear|;3|plum|;");
  // The same on a new row: the failed values do not reach the insert.
  r = Execute({Arg::Str("INSERT"), Arg::Str("items"), Arg::Str("id,name,price"),
               Arg::Array({Arg::I4(4), Arg::Str("lost"), Arg::Str("abc")})});
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(Content("items", "<#id>|<#name>"), "|");
}

TEST_F(ActionsTest, PositionsCountEveryNameButEmptyWords) {
  // x is no field: it uses up position 1, so price takes element 1.
  ASSERT_TRUE(Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str("x;price"),
                       Arg::Array({Arg::R8(9), Arg::R8(2.5)})})
                  .ok());
  EXPECT_EQ(Content("items", "<#price>"), "2.50");
  // Empty words do not count: name is position 1, price position 2.
  ASSERT_TRUE(Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str(";name;;price,"),
                       Arg::Array({Arg::Str("A"), Arg::R8(3)})})
                  .ok());
  EXPECT_EQ(Content("items", "<#name> <#price>"), "A 3.00");
  // Words are not trimmed: " price" matches no field (and then reads from
  // the form, which is never needed since the name is skipped).
  ASSERT_TRUE(Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str("name, price"),
                       Arg::Array({Arg::Str("B"), Arg::R8(4)})})
                  .ok());
  EXPECT_EQ(Content("items", "<#name> <#price>"), "B 3.00");
}

TEST_F(ActionsTest, ArraysByReferenceAndTypedArraysCount) {
  Arg array = Arg::Array({Arg::Str("ref")});
  ASSERT_TRUE(Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str("name"), Arg::Ref(&array.var())})
                  .ok());
  EXPECT_EQ(Content("items", "<#name>"), "ref");
  ASSERT_TRUE(Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str("name;price"),
                       Arg::StrArray({"typed", "6.5"})})
                  .ok());
  EXPECT_EQ(Content("items", "<#name> <#price>"), "typed 6.50");
}

TEST_F(ActionsTest, ValuesBeyondTheArrayOrNotAnArrayComeFromTheForm) {
  // No page context: the form cannot be read, and the edit is left open.
  Outcome r = Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str("name;price"),
                       Arg::Array({Arg::Str("only name")})});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error,
            "No scripting context: the posted form can only be read between OnStartPage and "
            "OnEndPage");
  EXPECT_EQ(items.Get(u"State").Text(), "-2") << "still editing";
  ASSERT_TRUE(items.Method(u"Cancel").ok());

  IUnknown* context = NewFormContext({{"price", "7.25"}, {"name", "from form"}});
  ASSERT_TRUE(q.Method(u"OnStartPage", {Arg::Unknown(context)}).ok());
  ASSERT_TRUE(Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str("name;price"),
                       Arg::Array({Arg::Str("array name")})})
                  .ok());
  EXPECT_EQ(Content("items", "<#name> <#price>"), "array name 7.25");
  // A single value is not an array: every value comes from the form.
  ASSERT_TRUE(Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str("name"), Arg::Str("ignored")})
                  .ok());
  EXPECT_EQ(Content("items", "<#name>"), "from form");
  ASSERT_TRUE(q.Method(u"OnEndPage").ok());
  r = Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str("name")});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION) << "the context is gone after the page";
  items.Method(u"Cancel");
  context->Release();
}

TEST_F(ActionsTest, FieldsFromTheFormWhenNoListIsGiven) {
  IUnknown* context =
      NewFormContext({{"submit", "Save"}, {"price", "1.5"}, {"NAME", "posted"}});
  ASSERT_TRUE(q.Method(u"OnStartPage", {Arg::Unknown(context)}).ok());
  ASSERT_TRUE(Execute({Arg::Str("Update"), Arg::Str("items")}).ok());
  EXPECT_EQ(Content("items", "<#name> <#price>"), "posted 1.50");
  // Form keys are numbered too: an array element k-1 wins over the form.
  ASSERT_TRUE(Execute({Arg::Str("Update"), Arg::Str("items"), Arg::Str(""),
                       Arg::Array({Arg::Str("-"), Arg::R8(2), Arg::Str("array")})})
                  .ok());
  EXPECT_EQ(Content("items", "<#name> <#price>"), "array 2.00");
  EXPECT_EQ(Rows("select name, price from act_items where id = 1"), "array|2.00|;");
  context->Release();
}

TEST_F(ActionsTest, EditWithAnEmptyFormPostsTheRowUnchanged) {
  IUnknown* context = NewFormContext({});
  ASSERT_TRUE(q.Method(u"OnStartPage", {Arg::Unknown(context)}).ok());
  ASSERT_TRUE(Execute({Arg::Str("EDIT"), Arg::Str("items")}).ok());
  EXPECT_EQ(items.Get(u"State").Text(), "0") << "posted";
  EXPECT_EQ(Rows("select id, name from act_items order by id"), "1|apple|;2|pear|;3|plum|;");
  context->Release();
}

TEST_F(ActionsTest, OnlyTheFirst255NamesAreUsed) {
  std::string fields;
  std::vector<Arg> values;
  for (int i = 1; i <= 300; ++i) {
    fields += (i == 255 ? "name" : i == 256 ? "price" : "f" + std::to_string(i)) + ";";
    values.push_back(i == 255 ? Arg::Str("at 255") : i == 256 ? Arg::R8(99) : Arg::I4(i));
  }
  ASSERT_TRUE(Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str(fields), Arg::Array(values)}).ok());
  EXPECT_EQ(Content("items", "<#name> <#price>"), "at 255 0.50");
}

TEST_F(ActionsTest, InsertAppendsAndDeleteRemoves) {
  ASSERT_TRUE(Execute({Arg::Str("Insert"), Arg::Str("items"), Arg::Str("id;name;price"),
                       Arg::Array({Arg::I4(4), Arg::Str("fig"), Arg::R8(2)})})
                  .ok());
  ASSERT_TRUE(Execute({Arg::Str("APPEND"), Arg::Str("items"), Arg::Str("id,name"),
                       Arg::Array({Arg::I4(5), Arg::Str("kiwi")})})
                  .ok());
  EXPECT_EQ(Rows("select id, name from act_items order by id"),
            "1|apple|;2|pear|;3|plum|;4|fig|;5|kiwi|;");
  ASSERT_TRUE(Execute({Arg::Str("first")}).ok());
  ASSERT_TRUE(Execute({Arg::Str("delete")}).ok());
  EXPECT_EQ(Rows("select id from act_items order by id"), "2|;3|;4|;5|;");
}

TEST_F(ActionsTest, RefreshRereadsAndKeepsThePosition) {
  ASSERT_TRUE(Execute({Arg::Str("next")}).ok());
  Exec("update act_items set name = 'changed' where id = 2");
  EXPECT_EQ(Content("items", "<#name>"), "pear");
  ASSERT_TRUE(Execute({Arg::Str("Refresh")}).ok());
  EXPECT_EQ(Content("items", "<#id> <#name>"), "2 changed");
}

TEST_F(ActionsTest, FailuresCarryTheirMessages) {
  Outcome r = Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str("id"),
                       Arg::Array({Arg::Str("abc")})});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error, "'abc' is not a valid integer value");
  items.Method(u"Cancel");
  // An array whose first index is not 0.
  r = Execute({Arg::Str("edit"), Arg::Str("items"), Arg::Str("name"),
               Arg::Array({Arg::Str("x")}, 1)});
  EXPECT_EQ(r.error, "Variant or safe array index out of bounds");
  items.Method(u"Cancel");
  // A closed dataset refuses to move.
  ASSERT_TRUE(items.Method(u"Close").ok());
  r = Execute({Arg::Str("next")});
  EXPECT_EQ(r.error, "Cannot perform this operation on a closed dataset");
}

}  // namespace
}  // namespace quill::test
