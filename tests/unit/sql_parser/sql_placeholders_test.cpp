// Placeholder binding: which "?" are placeholders, the literal of each type,
// and counts that do not match.
#include "sql_parser/sql_placeholders.h"

#include <gtest/gtest.h>

#include <limits>

#include "base/date_time.h"
#include "base/errors.h"

namespace quill {
namespace {

// Stands in for the connection's escaping: enough to show it was applied.
std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c == '\0' ? '0' : c;
  }
  return out;
}

std::string Bind(std::string_view sql, std::vector<Variant> values) {
  return BindPlaceholders(sql, values, Escape);
}

TEST(SqlPlaceholders, OnlyBareQuestionMarksArePlaceholders) {
  EXPECT_EQ(FindPlaceholders("select ? , ?").size(), 2u);
  const char* sql =
      "select '?', \"?\", `a?b`, 'it''s ?', 'x\\'?' /* ? */ -- ?\n"
      "# ?\n"
      "from t where a=? and [m?] = ?";
  EXPECT_EQ(FindPlaceholders(sql).size(), 2u);
  EXPECT_EQ(Bind("select a from t where a=? and b='?'", {Variant(7)}),
            "select a from t where a=7 and b='?'");
  EXPECT_EQ(Bind("select 1", {}), "select 1");
}

TEST(SqlPlaceholders, EachTypeHasItsLiteral) {
  VariantArray bytes;
  for (int b : {0, 0x7F, 0xFF}) bytes.Items.emplace_back(b);
  const std::string sql = Bind("?,?,?,?,?,?,?,?,?,?,?",
                               {Variant(), Variant::Null(), Variant(-5), Variant(int64_t{1} << 40),
                                Variant(1.5), Variant::FromCurrency(125000), Variant(true),
                                Variant(false), Variant::FromDate(EncodeDateTime(2024, 2, 29, 13, 5, 9, 0)),
                                Variant("O'Brien \\ ?"), Variant(std::move(bytes))});
  EXPECT_EQ(sql,
            "NULL,NULL,-5,1099511627776,1.5,12.5,1,0,'2024-02-29 13:05:09','O\\'Brien \\\\ ?',"
            "0x007FFF");
  EXPECT_EQ(Bind("?", {Variant(VariantArray{})}), "''");
}

TEST(SqlPlaceholders, BadInputFailsWithoutAResult) {
  try {
    Bind("select ?, ?", {Variant(1)});
    FAIL() << "fewer values than placeholders";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "2 placeholders in the SQL but 1 value given");
  }
  EXPECT_THROW(Bind("select 1", {Variant(1)}), EDatabaseError);
  EXPECT_THROW(Bind("?", {Variant(std::numeric_limits<double>::infinity())}), EConvertError);
  VariantArray mixed;
  mixed.Items.emplace_back("x");
  EXPECT_THROW(Bind("?", {Variant(std::move(mixed))}), EConvertError);
}

}  // namespace
}  // namespace quill
