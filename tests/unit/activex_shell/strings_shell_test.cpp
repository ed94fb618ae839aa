// The string-list shell: its two properties and its verbs, on the list
// itself, with indexes out of range and missing arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "activex_shell/activex_shell.h"
#include "activex_shell/strings_shell.h"
#include "base/string_list.h"
#include "script_host.h"

namespace quill::testing {
namespace {

class StringsShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list.Add("a");
    list.Add("b");
  }
  Outcome Do(const char* verb, std::vector<Var> args = {}) {
    std::vector<const Var*> refs;
    for (const Var& a : args) refs.push_back(&a);
    return Call(d, verb, refs);
  }
  std::string Item(Var index) { return Do("item", {std::move(index)}).result.text(); }

  TStringList list;
  Obj shell = Obj::ShellOver(&list);
  IDispatch* d = shell.get();
};

TEST_F(StringsShellTest, CountTextAndItem) {
  EXPECT_EQ(Get(d, "Count").result.i4(), 2);
  EXPECT_EQ(Get(d, "TEXT").result.text(), "a\r\nb\r\n");
  EXPECT_EQ(Item(I4(1)), "b");
  EXPECT_EQ(Do("strings", {I4(0)}).result.text(), "a");
  EXPECT_EQ(Item(I4(2)), "");
  EXPECT_EQ(Item(I4(-1)), "");
  EXPECT_EQ(Item(Text("x")), "a");         // no integer: index 0
  EXPECT_EQ(Item(Text(" 1 ")), "b");
  EXPECT_EQ(Item(Missing()), "");          // the omitted-argument code is out of range
  EXPECT_EQ(Do("item").result.vt(), VT_EMPTY);
}

TEST_F(StringsShellTest, NamesAreReadPropertiesOrVerbsNotBoth) {
  Outcome count_call = Call(d, "count");
  EXPECT_TRUE(count_call.ok());
  EXPECT_EQ(count_call.result.vt(), VT_EMPTY);
  Outcome item_read = Get(d, "item");
  EXPECT_EQ(item_read.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(item_read.error, "Property is not found : item");
  EXPECT_EQ(Put(d, "count", I4(5)).error, "Property is not found : count");
  // Verbs through exec compare exactly; names through GetIDsOfNames arrive
  // lower-cased.
  Var verb = Text("ADD"), line = Text("c");
  EXPECT_EQ(InvokeId(d, fixed_dispids::exec, DISPATCH_METHOD, {&verb, &line}).result.vt(),
            VT_EMPTY);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(Do("ADD", {Text("c")}).result.i4(), 2);
  EXPECT_EQ(list.Count(), 3);
}

TEST_F(StringsShellTest, AddInsertAndSetText) {
  EXPECT_EQ(Do("add", {Text("c")}).result.i4(), 2);
  EXPECT_EQ(Do("append", {Null()}).result.i4(), 3);
  EXPECT_EQ(list[3], "");
  EXPECT_EQ(Do("add").result.vt(), VT_EMPTY);
  EXPECT_EQ(list.Count(), 4);
  list.Delete(3);

  Do("insert", {I4(5), Text("z")});
  Do("insert", {I4(-1), Text("z")});
  Do("insert", {I4(1)});
  EXPECT_EQ(list.Count(), 3);
  Do("insert", {I4(3), Text("d")});  // at the count: appends
  Do("insert", {I4(0), Text("first")});
  EXPECT_EQ(list.Text(), "first\r\na\r\nb\r\nc\r\nd\r\n");

  EXPECT_TRUE(Put(d, "text", Text("x\r\ny\nz")).ok());
  EXPECT_EQ(Get(d, "count").result.i4(), 3);
  EXPECT_TRUE(Put(d, "text", Null()).ok());
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(StringsShellTest, SetExchangeMoveIndexOfAndClear) {
  Do("setitem", {I4(1), Text("B")});
  Do("setstrings", {I4(2), Text("no")});
  Do("setitem", {I4(3), Text("no")});
  Do("setitem", {I4(0)});
  EXPECT_EQ(list.Text(), "a\r\nB\r\n");

  Do("exchange", {I4(0), I4(1)});
  EXPECT_EQ(list.Text(), "B\r\na\r\n");
  Do("exchange", {I4(0), I4(2)});
  Do("move", {I4(2), I4(0)});
  EXPECT_EQ(list.Text(), "B\r\na\r\n");
  Do("move", {I4(0), I4(1)});
  EXPECT_EQ(list.Text(), "a\r\nB\r\n");

  EXPECT_EQ(Do("indexof", {Text("A")}).result.i4(), 0);
  EXPECT_EQ(Do("indexof", {Text("c")}).result.i4(), -1);
  EXPECT_EQ(Do("indexof").result.vt(), VT_EMPTY);
  EXPECT_EQ(Do("clear").result.vt(), VT_EMPTY);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(StringsShellTest, FilesOnTheServer) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "quill_strings_shell";
  std::filesystem::create_directories(dir);
  std::string path = (dir / "lines.txt").string();
  EXPECT_TRUE(Do("savetofile", {Text(path)}).ok());
  list.Clear();
  EXPECT_TRUE(Do("loadfromfile", {Text(path)}).ok());
  EXPECT_EQ(list.Text(), "a\r\nb\r\n");

  std::string missing = (dir / "none" / "x.txt").string();
  Outcome load = Do("loadfromfile", {Text(missing)});
  EXPECT_EQ(load.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(load.error, "Cannot open file " + missing);
  EXPECT_EQ(list.Count(), 2);  // a failed load keeps the lines
  EXPECT_EQ(Do("savetofile", {Text(missing)}).error, "Cannot create file " + missing);
  EXPECT_EQ(Do("loadfromfile").result.vt(), VT_EMPTY);
  std::filesystem::remove_all(dir);
}

TEST(StringsShellOverNothing, FailsReadsAndIgnoresCalls) {
  Var name = Text("count"), verb = Text("add"), line = Text("x");
  auto* s = new Tactivex_shell_strings(nullptr);
  s->AddRef();
  Obj shell(s);
  EXPECT_EQ(InvokeId(shell.get(), fixed_dispids::get, DISPATCH_METHOD, {&name}).error,
            "Property is not found : count");
  EXPECT_EQ(InvokeId(shell.get(), fixed_dispids::exec, DISPATCH_METHOD, {&verb, &line}).result.vt(),
            VT_EMPTY);
}

}  // namespace
}  // namespace quill::testing
