// Line, comma-text and name=value rules of TStringList.
#include "base/string_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "base/errors.h"

namespace quill {
namespace {

std::vector<std::string> Lines(const TStringList& l) { return l.Lines(); }

TEST(StringListText, EveryLineEndsWithCrLf) {
  TStringList l;
  l.Add("a");
  l.Add("b");
  EXPECT_EQ(l.Text(), "a\r\nb\r\n");
  TStringList empty;
  EXPECT_EQ(empty.Text(), "");
}

TEST(StringListText, SettingTextSplitsAtEveryKindOfLineBreak) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"\r\na", {"", "a"}},
      {"", {}},
      {"one", {"one"}},
  };
  for (const auto& c : cases) {
    TStringList l;
    l.SetText(c.text);
    EXPECT_EQ(Lines(l), c.lines) << c.text;
  }
}

TEST(StringListCommaText, QuotesWhatNeedsQuotingAndReadsItBack) {
  TStringList l;
  l.Add("plain");
  l.Add("with blank");
  l.Add("a,b");
  l.Add("say \"hi\"");
  l.Add("");
  std::string text = l.CommaText();
  EXPECT_EQ(text, "plain,\"with blank\",\"a,b\",\"say \"\"hi\"\"\",\"\"");
  TStringList back;
  back.SetCommaText(text);
  EXPECT_EQ(Lines(back), Lines(l));
}

TEST(StringListCommaText, BlanksSeparateUnquotedItems) {
  TStringList l;
  l.SetCommaText("\"-- \",#");
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"-- ", "#"}));
  l.SetCommaText("a b , c,,d");
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"a", "b", "c", "", "d"}));
  l.SetCommaText("+,-,*,/,=,||,&&,&,<>");
  EXPECT_EQ(l.Count(), 9);
  EXPECT_EQ(l[5], "||");
  l.SetCommaText("");
  EXPECT_EQ(l.Count(), 0);
  l.SetCommaText("\"unclosed");
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"unclosed"}));
}

TEST(StringListNames, LookupIgnoresCaseAndSetValueReplacesOrRemoves) {
  TStringList l;
  l.Add("USER NAME=scott");
  l.Add("PORT=3307");
  l.Add("flag");
  EXPECT_EQ(l.Value("user name"), "scott");
  EXPECT_EQ(l.Value("Port"), "3307");
  EXPECT_EQ(l.Value("missing"), "");
  EXPECT_EQ(l.IndexOfName("FLAG"), 2);
  EXPECT_EQ(l.Value("flag"), "");
  l.SetValue("port", "3308");
  EXPECT_EQ(l[1], "port=3308");
  l.SetValue("HOST", "db");
  EXPECT_EQ(l.Count(), 4);
  l.SetValue("host", "");
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l.IndexOf("FLAG"), 2);
  EXPECT_EQ(l.IndexOf("fla"), -1);
}

TEST(StringListEdits, IndexesOutsideTheListFailWithTheListMessage) {
  TStringList l;
  l.Add("a");
  try {
    (void)l[1];
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (1)");
  }
  EXPECT_THROW(l.Insert(2, "x"), EListError);
  EXPECT_THROW(l.Delete(-1), EListError);
  l.Insert(1, "b");
  l.Insert(0, "z");
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"z", "a", "b"}));
  l.Move(0, 2);
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"a", "b", "z"}));
  l.Exchange(0, 2);
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"z", "b", "a"}));
}

TEST(StringListChange, NotifiesOncePerUpdateBracket) {
  TStringList l;
  int changes = 0;
  l.OnChange = [&] { ++changes; };
  l.Add("a");
  EXPECT_EQ(changes, 1);
  l.BeginUpdate();
  l.Add("b");
  l.Add("c");
  EXPECT_EQ(changes, 1);
  l.EndUpdate();
  EXPECT_EQ(changes, 2);
  l.SetCommaText("x,y");
  EXPECT_EQ(changes, 3);
}

TEST(StringListFiles, RoundTripAndClearErrors) {
  std::string path = ::testing::TempDir() + "string_list_test.txt";
  TStringList l;
  l.Add("first");
  l.Add("sécond");
  l.SaveToFile(path);
  TStringList back;
  back.LoadFromFile(path);
  EXPECT_EQ(Lines(back), Lines(l));
  std::remove(path.c_str());
  try {
    back.LoadFromFile(path);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + path);
  }
  EXPECT_THROW(l.SaveToFile("/nonexistent-dir/x.txt"), EListError);
  EXPECT_THROW(back.LoadFromFile(::testing::TempDir()), EListError);
  EXPECT_EQ(back.Count(), 2);  // a failed load leaves the lines alone
}

TEST(TextHelpers, CaseAndTrimTouchOnlyAscii) {
  EXPECT_TRUE(SameText("Select", "SELECT"));
  EXPECT_FALSE(SameText("é", "É"));
  EXPECT_EQ(UpperCase("abcé"), "ABCé");
  EXPECT_EQ(Trim(" \t\r\nx y\x01 "), "x y");
}

}  // namespace
}  // namespace quill
