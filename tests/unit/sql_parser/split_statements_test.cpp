// SplitStatements: scripts with quotes, comments, tabs and CR LF line ends,
// each with the statements it must give.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "sql_parser/basic_parser.h"
#include "sql_parser/qz_str_utils.h"

namespace quill {
namespace {

struct SplitRow {
  const char* name;
  std::vector<std::string> lines;
  std::vector<std::string> statements;
};

std::ostream& operator<<(std::ostream& out, const SplitRow& row) { return out << row.name; }

const SplitRow kSplitRows[] = {
    {"empty_list", {}, {}},
    {"blank_lines", {"", "  ", "\t"}, {}},
    {"one_statement", {"select 1"}, {"select 1"}},
    {"two_statements", {"select 1; select 2"}, {"select 1;", "select 2"}},
    {"separator_in_quotes",
     {"select * from t where a='x;y'; delete from t"},
     {"select * from t where a='x;y';", "delete from t"}},
    {"separator_in_backquotes", {"select `a;b` from t; x"}, {"select `a;b` from t;", "x"}},
    {"escaped_quote", {"insert into t values ('a\\'; b')"}, {"insert into t values ('a\\'; b')"}},
    {"escaped_backslash_then_escaped_quote",
     {"insert into t values ('a\\\\\\';b'); select 2"},
     {"insert into t values ('a\\\\\\';b');", "select 2"}},
    {"lines_join_with_blank", {"select a,", "  b", "from t;"}, {"select a, b from t;"}},
    {"crlf_inside_line", {"select a\r\nfrom t\r\n;"}, {"select a from t ;"}},
    {"blank_runs_shrink", {"select   1  ,\t 2  "}, {"select 1 , 2"}},
    // Words apart only by tabs or a comment must stay apart.
    {"tabs_only", {"select\t*\tfrom\tt"}, {"select * from t"}},
    {"comment_between_words", {"select/*c*/1/**/from t"}, {"select 1 from t"}},
    {"line_comment_dropped", {"select 1 -- note; not a split", "from t;"}, {"select 1 from t;"}},
    {"block_comment_with_separator", {"select 1 /* a; b */ ;"}, {"select 1 ;"}},
    {"block_comment_over_lines", {"select 1 /* a;", "b; */ from t"}, {"select 1 from t"}},
    {"unclosed_block_comment", {"select 1; /* x; y"}, {"select 1;"}},
    {"stray_closer_dropped", {"select 1 */ from t"}, {"select 1 from t"}},
    {"only_comments", {"# only", "-- comment", "/* here */"}, {}},
    {"empty_statements", {";;"}, {";", ";"}},
    {"unterminated_string_ends_at_line", {"select 'ab;c", "from t"}, {"select 'ab;c from t"}},
    {"bracket_kept_whole", {"select [$FIELDS] from t;"}, {"select [$FIELDS] from t;"}},
    {"bracket_with_blank", {"select [a b];"}, {"select [a b];"}},
    {"operators_kept", {"select a<>b, c<=d, -1"}, {"select a<>b, c<=d, -1"}},
    {"string_keeps_inner_blanks", {"select '  a\tb  ' ;"}, {"select '  a\tb  ' ;"}},
    {"high_bytes", {"select 'caf\xc3\xa9' ; select \xc3\xa9"}, {"select 'caf\xc3\xa9' ;", "select \xc3\xa9"}},
    {"nul_ends_script", {std::string("select 1; sel\0ect 2", 19), "select 3"}, {"select 1;", "sel"}},
    {"many_lines", {"create table t (", "  id int,", "  name text", ");", "", "insert into t values (1, 'x');"},
     {"create table t ( id int, name text );", "insert into t values (1, 'x');"}},
};

class SplitTable : public ::testing::TestWithParam<SplitRow> {};

TEST_P(SplitTable, Statements) {
  const SplitRow& row = GetParam();
  TStringList list;
  for (const std::string& line : row.lines) list.Add(line);
  SplitStatements(list);
  EXPECT_EQ(list.Lines(), row.statements);
}

INSTANTIATE_TEST_SUITE_P(SplitStatements, SplitTable, ::testing::ValuesIn(kSplitRows),
                         [](const ::testing::TestParamInfo<SplitRow>& info) { return std::string(info.param.name); });

TEST(SplitStatements, NotifiesOnce) {
  TStringList list;
  list.Add("select 1; select 2; select 3");
  int changes = 0;
  list.OnChange = [&changes] { ++changes; };
  SplitStatements(list);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(changes, 1);
}

TEST(SplitStatements, JoinsLinesWithCrLfWhateverTheListWrites) {
  TQzStringList list;
  list.SetLineSeparator("");
  list.Add("select 1");
  list.Add("select 2");
  SplitStatements(list);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"select 1 select 2"}));
}

TEST(SplitStatements, LongScript) {
  TStringList list;
  for (int i = 0; i < 1000; ++i) list.Add("insert into t values (" + std::to_string(i) + ", 'a;b'); -- row");
  SplitStatements(list);
  ASSERT_EQ(list.Count(), 1000);
  EXPECT_EQ(list[999], "insert into t values (999, 'a;b');");
}

}  // namespace
}  // namespace quill
