// TBasicParser: one table of texts with their expected tokens under each
// configuration, then the accessors, the odd configurations, and a sweep of
// hostile texts read from exact-size buffers so that the sanitizers catch
// any read past the end.
#include "sql_parser/basic_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace quill {
namespace {

enum class Config { kNone, kSplit, kMacros, kBraces, kPercent };

void Configure(TBasicParser& parser, Config config) {
  switch (config) {
    case Config::kNone: break;
    case Config::kSplit: ConfigureForSplit(parser); break;
    case Config::kMacros: ConfigureForMacros(parser); break;
    case Config::kBraces: ConfigureForExpansion(parser, "{", "}"); break;
    case Config::kPercent: ConfigureForExpansion(parser, "<%", "%>"); break;
  }
}

struct Tok {
  uint8_t kind;
  std::string text;
  bool operator==(const Tok&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Tok& t) {
  return out << "(" << static_cast<int>(t.kind) << " \"" << t.text << "\")";
}

// Reads every token up to (not including) ptEnd from an exact-size copy of
// `text` with no NUL after it.
std::vector<Tok> Tokenize(const std::string& text, Config config, bool skip_line_ends) {
  std::unique_ptr<char[]> buffer(new char[text.size() + 1]);
  std::copy(text.begin(), text.end(), buffer.get());
  TBasicParser parser(std::string_view(buffer.get(), text.size()));
  Configure(parser, config);
  std::vector<Tok> tokens;
  for (size_t guard = 0; guard <= text.size(); ++guard) {
    const TTokenProps& t = parser.NextToken(skip_line_ends);
    if (t.Kind == ptEnd) return tokens;
    tokens.push_back({t.Kind, t.Text});
  }
  ADD_FAILURE() << "no ptEnd after " << text.size() + 1 << " tokens";
  return tokens;
}

struct Row {
  const char* name;
  std::string text;
  Config config;
  bool skip_line_ends;
  std::vector<Tok> expected;
};

std::ostream& operator<<(std::ostream& out, const Row& row) { return out << row.name; }

constexpr uint8_t I = ptIdentifier, S = ptString, N = ptInteger, R = ptReal, H = ptHex,
                  O = ptOperator, LC = ptLineComment, BC = ptBlockComment, LE = ptLineEnd,
                  BE = ptBlockCommentEnd, SEP = ptSeparator, BR = ptBracket;

const Row kRows[] = {
    {"empty", "", Config::kSplit, false, {}},
    {"words_and_star", "select * from t", Config::kSplit, false,
     {{I, "select"}, {O, "*"}, {I, "from"}, {I, "t"}}},
    {"separator", "a;b;", Config::kSplit, false, {{I, "a"}, {SEP, ";"}, {I, "b"}, {SEP, ";"}}},
    // Line ends: CR is always a blank, so CR LF is one line end.
    {"lf_is_token", "a\nb", Config::kSplit, false, {{I, "a"}, {LE, " "}, {I, "b"}}},
    {"crlf_is_one_token", "a\r\nb", Config::kSplit, false, {{I, "a"}, {LE, " "}, {I, "b"}}},
    {"lone_cr_is_blank", "a\rb", Config::kSplit, false, {{I, "a"}, {I, "b"}}},
    {"line_ends_skipped", "a\n\r\n b\n", Config::kSplit, true, {{I, "a"}, {I, "b"}}},
    {"controls_are_blanks", "\ta\x01\x1f b\x7f", Config::kSplit, false,
     {{I, "a"}, {I, "b"}, {127, "\x7f"}}},
    // Line comments.
    {"dash_comment", "-- note", Config::kSplit, false, {{LC, "-- note"}}},
    {"hash_comment", "# note\nx", Config::kSplit, false, {{LC, "# note"}, {LE, " "}, {I, "x"}}},
    {"comment_before_crlf", "a -- c;d\r\nb", Config::kSplit, false,
     {{I, "a"}, {LC, "-- c;d"}, {LE, " "}, {I, "b"}}},
    {"dashes_without_blank", "--note", Config::kSplit, false, {{O, "-"}, {O, "-"}, {I, "note"}}},
    {"dashes_after_word", "a--b", Config::kSplit, false,
     {{I, "a"}, {O, "-"}, {O, "-"}, {I, "b"}}},
    {"dash_blank_at_end", "-- ", Config::kSplit, false, {{LC, "-- "}}},
    {"hash_inside_word", "a#b", Config::kSplit, false, {{I, "a"}, {LC, "#b"}}},
    // Block comments.
    {"block_comment", "/* a */b", Config::kSplit, false, {{BC, "/* a */"}, {I, "b"}}},
    {"block_unclosed", "/* a", Config::kSplit, false, {{BC, "/* a"}}},
    {"block_no_overlap", "/*/ x", Config::kSplit, false, {{BC, "/*/ x"}}},
    {"block_spans_lines", "/*a\r\nb;*/c", Config::kSplit, false, {{BC, "/*a\r\nb;*/"}, {I, "c"}}},
    {"block_not_nested", "/* /* */ */", Config::kSplit, false, {{BC, "/* /* */"}, {BE, "*/"}}},
    {"stray_block_closer", "a*/b", Config::kSplit, false, {{I, "a"}, {BE, "*/"}, {I, "b"}}},
    // Quoted strings.
    {"single_quoted", "a='x;y'", Config::kSplit, false, {{I, "a"}, {O, "="}, {S, "'x;y'"}}},
    {"double_quoted", "\"it's\"", Config::kSplit, false, {{S, "\"it's\""}}},
    {"escaped_quote", "'O\\'Brien' x", Config::kSplit, false, {{S, "'O\\'Brien'"}, {I, "x"}}},
    {"escaped_backslash", "'a\\\\' x", Config::kSplit, false, {{S, "'a\\\\'"}, {I, "x"}}},
    // Three backslashes: an escaped backslash, then an escaped quote.
    {"three_backslashes", "'a\\\\\\'b' x", Config::kSplit, false, {{S, "'a\\\\\\'b'"}, {I, "x"}}},
    {"doubled_quote_is_two", "'it''s'", Config::kSplit, false, {{S, "'it'"}, {S, "'s'"}}},
    {"unterminated_at_lf", "'abc\nd", Config::kSplit, false, {{S, "'abc"}, {LE, " "}, {I, "d"}}},
    {"unterminated_at_cr", "'abc\r\nd", Config::kSplit, false, {{S, "'abc"}, {LE, " "}, {I, "d"}}},
    {"unterminated_at_end", "'abc", Config::kSplit, false, {{S, "'abc"}}},
    {"ends_after_backslash", "'abc\\", Config::kSplit, false, {{S, "'abc\\"}}},
    {"backslash_before_lf", "'a\\\nb'", Config::kSplit, false,
     {{S, "'a\\"}, {LE, " "}, {I, "b"}, {S, "'"}}},
    {"comment_markers_in_string", "'-- /* #' x", Config::kSplit, false, {{S, "'-- /* #'"}, {I, "x"}}},
    // Backquoted names.
    {"backquoted", "`my col`.x", Config::kSplit, false, {{I, "`my col`"}, {46, "."}, {I, "x"}}},
    {"backquote_unclosed", "`a;\nb", Config::kSplit, false, {{I, "`a;\nb"}}},
    // Words.
    {"word_chars", "$MODIFIED$FIELDS&VALUES _x1", Config::kSplit, false,
     {{I, "$MODIFIED$FIELDS&VALUES"}, {I, "_x1"}}},
    {"amp_inside_word", "a&b a|b", Config::kSplit, false, {{I, "a&b"}, {I, "a|b"}}},
    {"amp_starts_operator", "&a |b", Config::kSplit, false,
     {{O, "&"}, {I, "a"}, {O, "|"}, {I, "b"}}},
    // Hex numbers: the prefix is case-sensitive.
    {"hex", "0x1F", Config::kSplit, false, {{H, "0x1F"}}},
    {"hex_upper_prefix", "0X1F", Config::kSplit, false, {{N, "0"}, {I, "X1F"}}},
    {"hex_no_digits", "0x", Config::kSplit, false, {{H, "0x"}}},
    {"hex_then_word", "0xabG", Config::kSplit, false, {{H, "0xab"}, {I, "G"}}},
    // Numbers.
    {"integer", "12", Config::kSplit, false, {{N, "12"}}},
    {"real_exponent", "1.5e-3", Config::kSplit, false, {{R, "1.5e-3"}}},
    {"second_sign_ends", "1.5e-3-2", Config::kSplit, false, {{R, "1.5e-3"}, {O, "-"}, {N, "2"}}},
    {"one_sign_allowed", "1.5-2", Config::kSplit, false, {{R, "1.5-2"}}},
    {"two_signs", "1.5e+-3", Config::kSplit, false, {{R, "1.5e+"}, {O, "-"}, {N, "3"}}},
    {"real_suffix", "2.5d", Config::kSplit, false, {{R, "2.5d"}}},
    {"real_suffix_upper", "1E+5S;", Config::kSplit, false, {{R, "1E+5S"}, {SEP, ";"}}},
    {"integer_takes_no_suffix", "12d", Config::kSplit, false, {{N, "12"}, {I, "d"}}},
    {"trailing_point", "1.", Config::kSplit, false, {{R, "1."}}},
    {"leading_point", ".5", Config::kSplit, false, {{46, "."}, {N, "5"}}},
    {"leading_sign", "-1", Config::kSplit, false, {{O, "-"}, {N, "1"}}},
    // Operators: longest match through list order; <= and != are two.
    {"less_equal", "a<=b", Config::kSplit, false, {{I, "a"}, {O, "<"}, {O, "="}, {I, "b"}}},
    {"not_equal", "a<>b", Config::kSplit, false, {{I, "a"}, {O, "<>"}, {I, "b"}}},
    {"assign", "a:=b", Config::kSplit, false, {{I, "a"}, {58, ":"}, {O, "="}, {I, "b"}}},
    {"shifts", "x<<2>>1", Config::kSplit, false,
     {{I, "x"}, {O, "<<"}, {N, "2"}, {O, ">>"}, {N, "1"}}},
    {"logic", "a || b && c", Config::kSplit, false,
     {{I, "a"}, {O, "||"}, {I, "b"}, {O, "&&"}, {I, "c"}}},
    {"all_single", "+-*=/&|><~!%", Config::kSplit, false,
     {{O, "+"}, {O, "-"}, {O, "*"}, {O, "="}, {O, "/"}, {O, "&"}, {O, "|"}, {O, ">"}, {O, "<"},
      {O, "~"}, {O, "!"}, {O, "%"}}},
    {"macros_order", "a<<|b", Config::kMacros, false, {{I, "a"}, {O, "<<"}, {O, "|"}, {I, "b"}}},
    {"single_chars", "(?,)^", Config::kSplit, false,
     {{40, "("}, {63, "?"}, {44, ","}, {41, ")"}, {94, "^"}}},
    // Brackets.
    {"bracket", "[WHERE]", Config::kSplit, false, {{BR, "[WHERE]"}}},
    {"bracket_with_blank", "[a b]", Config::kSplit, false, {{BR, "[a "}, {I, "b"}, {BR, "]"}}},
    {"bracket_unclosed", "[abc", Config::kSplit, false, {{BR, "[abc"}}},
    {"bracket_over_lines", "[a\nb;] x", Config::kSplit, false, {{BR, "[a\nb;]"}, {I, "x"}}},
    {"bracket_then_word", "[$FIELDS]x", Config::kSplit, false, {{BR, "[$FIELDS]"}, {I, "x"}}},
    {"stray_bracket_closer", "a]", Config::kSplit, false, {{I, "a"}, {BR, "]"}}},
    {"braces_config", "{WHERE} [x]", Config::kBraces, false,
     {{BR, "{WHERE}"}, {91, "["}, {I, "x"}, {93, "]"}}},
    {"percent_config", "<%W%> a<b", Config::kPercent, false,
     {{BR, "<%W%>"}, {I, "a"}, {O, "<"}, {I, "b"}}},
    // A blank ends a bracket after that blank, whatever the closer's length.
    {"percent_blank", "<%a bc%>", Config::kPercent, false, {{BR, "<%a "}, {I, "bc"}, {BR, "%>"}}},
    {"percent_half_closer", "<%a%", Config::kPercent, false, {{BR, "<%a%"}}},
    // Without configuration every character stands for itself.
    {"bare_comment_markers", "# -- /**/", Config::kNone, false,
     {{35, "#"}, {45, "-"}, {45, "-"}, {47, "/"}, {42, "*"}, {42, "*"}, {47, "/"}}},
    {"bare_hex", "0x1 [a]", Config::kNone, false,
     {{N, "0"}, {I, "x1"}, {91, "["}, {I, "a"}, {93, "]"}}},
    {"bare_still_strings", "'a;b';c", Config::kNone, false, {{S, "'a;b'"}, {SEP, ";"}, {I, "c"}}},
    // Bytes above 127 are single characters, never word characters.
    {"high_bytes", "abc\xc3\xa9z", Config::kSplit, false,
     {{I, "abc"}, {0xc3, "\xc3"}, {0xa9, "\xa9"}, {I, "z"}}},
    // The text ends at its first NUL.
    {"nul_ends_text", std::string("a\0b;c", 5), Config::kSplit, false, {{I, "a"}}},
    {"nul_in_string", std::string("'a\0b'", 5), Config::kSplit, false, {{S, "'a"}}},
    {"nul_in_comment", std::string("/*a\0*/", 6), Config::kSplit, false, {{BC, "/*a"}}},
};

class TokenTable : public ::testing::TestWithParam<Row> {};

TEST_P(TokenTable, Tokens) {
  const Row& row = GetParam();
  EXPECT_EQ(Tokenize(row.text, row.config, row.skip_line_ends), row.expected);
}

INSTANTIATE_TEST_SUITE_P(BasicParser, TokenTable, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(BasicParser, ResetGivesNoneAtZero) {
  TBasicParser parser("select 1");
  EXPECT_EQ(parser.Token().Kind, ptNone);
  EXPECT_EQ(parser.Token().Position, 0);
  EXPECT_EQ(parser.Token().Text, "");
  parser.NextToken(false);
  parser.NextToken(false);
  parser.Reset("x");
  EXPECT_EQ(parser.Token().Kind, ptNone);
  EXPECT_EQ(parser.NextToken(false).Text, "x");
}

TEST(BasicParser, EndRepeatsAtEndPosition) {
  TBasicParser parser("ab  ");
  ConfigureForSplit(parser);
  EXPECT_EQ(parser.NextToken(false).Kind, ptIdentifier);
  for (int i = 0; i < 3; ++i) {
    const TTokenProps& t = parser.NextToken(false);
    EXPECT_EQ(t.Kind, ptEnd);
    EXPECT_EQ(t.Position, 4);
    EXPECT_EQ(t.Text, "");
    EXPECT_EQ(parser.CharAtReadPos(), '\0');
  }
}

TEST(BasicParser, EmptyTextEndsAtZero) {
  TBasicParser by_default;
  TBasicParser empty("");
  TBasicParser null(static_cast<const char*>(nullptr));
  for (TBasicParser* parser : {&by_default, &empty, &null}) {
    ConfigureForSplit(*parser);
    const TTokenProps& t = parser->NextToken(false);
    EXPECT_EQ(t.Kind, ptEnd);
    EXPECT_EQ(t.Position, 0);
  }
}

TEST(BasicParser, PositionsTextsAndFollowingCharacter) {
  const std::string sql = "select  a,'x' \n[M] ";
  TBasicParser parser(sql);
  ConfigureForSplit(parser);
  struct Step {
    int32_t position;
    const char* text;
    std::string_view raw;
    char after;
  };
  const Step steps[] = {{0, "select", "select", ' '}, {8, "a", "a", ','},  {9, ",", ",", '\''},
                        {10, "'x'", "'x'", ' '},      {14, " ", "\n", '['}, {15, "[M]", "[M]", ' '}};
  for (const Step& s : steps) {
    const TTokenProps& t = parser.NextToken(false);
    EXPECT_EQ(t.Position, s.position);
    EXPECT_EQ(parser.TokenPosition(), s.position);
    EXPECT_EQ(t.Text, s.text);
    EXPECT_EQ(parser.TokenText(), s.raw);
    EXPECT_EQ(parser.CharAtReadPos(), s.after);
    EXPECT_EQ(parser.ReadPosition(), static_cast<size_t>(s.position) + s.raw.size());
  }
  EXPECT_EQ(parser.NextToken(false).Kind, ptEnd);
  EXPECT_EQ(parser.TokenPosition(), 19);
}

TEST(BasicParser, NumberSuffix) {
  TBasicParser parser("2.5d x 1.5 3 4.0S");
  ConfigureForSplit(parser);
  EXPECT_EQ(parser.NumberSuffix(), 0);
  parser.NextToken(false);
  EXPECT_EQ(parser.NumberSuffix(), 'd');
  parser.NextToken(false);  // a word leaves it alone
  EXPECT_EQ(parser.NumberSuffix(), 'd');
  parser.NextToken(false);
  EXPECT_EQ(parser.NumberSuffix(), 0);
  parser.NextToken(false);
  EXPECT_EQ(parser.NumberSuffix(), 0);
  parser.NextToken(false);
  EXPECT_EQ(parser.NumberSuffix(), 'S');
  parser.Reset("1");
  EXPECT_EQ(parser.NumberSuffix(), 0);
}

TEST(BasicParser, LineCounterCountsSkippedLineFeeds) {
  TBasicParser parser("a\nb\r\n\nc\n");
  ConfigureForSplit(parser);
  EXPECT_EQ(parser.NextToken(true).Text, "a");
  EXPECT_EQ(parser.Line(), 0);
  EXPECT_EQ(parser.NextToken(true).Text, "b");
  EXPECT_EQ(parser.Line(), 1);
  EXPECT_EQ(parser.NextToken(true).Text, "c");
  EXPECT_EQ(parser.Line(), 3);
  EXPECT_EQ(parser.NextToken(true).Kind, ptEnd);
  EXPECT_EQ(parser.Line(), 4);
  parser.Reset("a\nb");
  EXPECT_EQ(parser.Line(), 0);
  parser.NextToken(false);
  EXPECT_EQ(parser.NextToken(false).Kind, ptLineEnd);
  EXPECT_EQ(parser.Line(), 0);
}

TEST(BasicParser, SkipBlanksStopsAtLineFeedUnlessSkipping) {
  TBasicParser parser(" \t\r\n x");
  parser.SkipBlanks(false);
  EXPECT_EQ(parser.CharAtReadPos(), '\n');
  parser.SkipBlanks(true);
  EXPECT_EQ(parser.CharAtReadPos(), 'x');
  EXPECT_EQ(parser.ReadPosition(), 5u);
}

TEST(BasicParser, ConfigurationsHoldTheirLists) {
  TBasicParser parser;
  ConfigureForExpansion(parser, "{", "}");
  EXPECT_EQ(parser.Operators.CommaText(), kExpansionOperators);
  EXPECT_EQ(parser.Operators.Count(), 17);
  ASSERT_EQ(parser.LineComments.Count(), 2);
  EXPECT_EQ(parser.LineComments[0], "-- ");
  EXPECT_EQ(parser.LineComments[1], "#");
  EXPECT_EQ(parser.HexPrefix, "0x");
  EXPECT_EQ(parser.BlockStarts.CommaText() + parser.BlockEnds.CommaText(), "/**/");
  EXPECT_EQ(parser.BracketStarts.CommaText() + parser.BracketEnds.CommaText(), "{}");
  ConfigureForSplit(parser);
  EXPECT_EQ(parser.Operators.CommaText(), kSplitOperators);
  ConfigureForMacros(parser);
  EXPECT_EQ(parser.Operators.CommaText(), kMacroOperators);
  EXPECT_EQ(parser.BracketStarts.CommaText() + parser.BracketEnds.CommaText(), "[]");
  // Delimiters are taken verbatim, not as comma text.
  ConfigureForExpansion(parser, "a,b", "\"");
  EXPECT_EQ(parser.BracketStarts[0], "a,b");
  EXPECT_EQ(parser.BracketEnds[0], "\"");
}

TEST(BasicParser, HexPrefixOfOneOrTwoCharacters) {
  TBasicParser parser("$1fz $");
  parser.HexPrefix = "$";
  EXPECT_EQ(parser.NextToken(false).Text, "$1f");
  EXPECT_EQ(parser.Token().Kind, ptHex);
  EXPECT_EQ(parser.NextToken(false).Kind, ptIdentifier);
  EXPECT_EQ(parser.NextToken(false).Kind, ptHex);
  parser.Reset("0xx1");
  parser.HexPrefix = "0xx";  // longer prefixes are not recognised
  EXPECT_EQ(parser.NextToken(false).Kind, ptInteger);
}

TEST(BasicParser, EmptyEntriesNeverMatch) {
  // An empty entry would match everywhere without consuming anything.
  TBasicParser parser("a+b");
  parser.Operators.SetCommaText("\"\",+");
  parser.LineComments.SetCommaText("\"\"");
  parser.BlockStarts.SetCommaText("\"\"");
  parser.BlockEnds.SetCommaText("\"\"");
  parser.BracketStarts.SetCommaText("\"\"");
  parser.BracketEnds.SetCommaText("\"\"");
  EXPECT_EQ(parser.NextToken(false).Text, "a");
  EXPECT_EQ(parser.NextToken(false).Kind, ptOperator);
  EXPECT_EQ(parser.NextToken(false).Text, "b");
  EXPECT_EQ(parser.NextToken(false).Kind, ptEnd);
}

TEST(BasicParser, OpenersWithoutClosers) {
  TBasicParser parser("/* x */ y");
  parser.BlockStarts.SetCommaText("/*");
  EXPECT_EQ(parser.NextToken(false).Text, "/* x */ y");
  parser.Reset("[ab cd]");
  parser.BlockStarts.Clear();
  parser.BracketStarts.SetCommaText("[");
  EXPECT_EQ(parser.NextToken(false).Text, "[ab ");
  EXPECT_EQ(parser.NextToken(false).Text, "cd");
  EXPECT_EQ(parser.NextToken(false).Kind, 93);
}

TEST(BasicParser, ViewEndIsTextEnd) {
  const char buffer[] = "abc'def";
  TBasicParser parser(std::string_view(buffer, 5));
  EXPECT_EQ(parser.NextToken(false).Text, "abc");
  EXPECT_EQ(parser.NextToken(false).Text, "'d");
  EXPECT_EQ(parser.NextToken(false).Kind, ptEnd);
  EXPECT_EQ(parser.Text(), "abc'd");
}

// Every text here, and random bytes, read with every configuration from an
// exact-size heap buffer: tokens cover the text in order, each one is the
// text between its start and the read position, and the end comes.
TEST(BasicParser, HostileTextsStayInBounds) {
  std::vector<std::string> texts;
  for (const Row& row : kRows) texts.push_back(row.text);
  const char* tails[] = {"'", "\"", "`", "\\", "'\\", "/*", "*", "--", "-- ", "#", "[", "<%",
                         "<", "%", "0x", "0", "1.", "1e+", "1.5d", "$", "\r", "\n", "\xff"};
  for (const char* tail : tails) {
    texts.push_back(tail);
    texts.push_back(std::string("select x ") + tail);
  }
  std::mt19937 random(20240601);
  const std::string alphabet = "'\"`\\/*-#[]{}<%>;:.eE+dx0123456789 \t\r\n\xc3\xff\x01";
  for (int i = 0; i < 2000; ++i) {
    std::string text(random() % 24, ' ');
    for (char& c : text) c = random() % 8 == 0 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    for (Config config : {Config::kNone, Config::kSplit, Config::kMacros, Config::kBraces, Config::kPercent}) {
      for (bool skip : {false, true}) {
        std::unique_ptr<char[]> buffer(new char[text.size()]);
        std::copy(text.begin(), text.end(), buffer.get());
        const std::string_view view(buffer.get(), text.size());
        TBasicParser parser(view);
        Configure(parser, config);
        size_t last_end = 0;
        bool ended = false;
        for (size_t n = 0; n <= text.size() + 1 && !ended; ++n) {
          const TTokenProps& t = parser.NextToken(skip);
          ASSERT_GE(static_cast<size_t>(t.Position), last_end);
          ASSERT_LE(parser.ReadPosition(), parser.Text().size());
          ASSERT_EQ(parser.TokenText(), view.substr(t.Position, parser.ReadPosition() - t.Position));
          if (t.Kind == ptEnd) {
            ASSERT_EQ(parser.ReadPosition(), parser.Text().size());
            ended = true;
          } else {
            ASSERT_GT(parser.ReadPosition(), static_cast<size_t>(t.Position));
            ASSERT_EQ(t.Text, t.Kind == ptLineEnd ? std::string(" ") : std::string(parser.TokenText()));
          }
          last_end = parser.ReadPosition();
        }
        ASSERT_TRUE(ended) << text;
      }
    }
  }
}

}  // namespace
}  // namespace quill
