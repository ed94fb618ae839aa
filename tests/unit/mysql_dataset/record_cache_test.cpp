// Row storage: the record image, cells with NULL marks, rows changed in
// place, and the memory a cached result costs.
#include <gtest/gtest.h>

#include "mysql_dataset/record_cache.h"

namespace quill {
namespace {

TEST(RecordCache, FetchedRowsKeepEveryByteAndTheirNullMarks) {
  TRowCache cache(3);
  const char* values[] = {"abc", nullptr, "x\0y"};
  const unsigned long lengths[] = {3, 0, 3};
  cache.AppendFetched(values, lengths);
  const char* empty[] = {"", "", nullptr};
  const unsigned long zero[] = {0, 0, 0};
  cache.AppendFetched(empty, zero);
  ASSERT_EQ(cache.Count(), 2);
  TRecordView row = cache.View(0);
  EXPECT_EQ(row.Cell(0).Bytes, "abc");
  EXPECT_FALSE(row.Cell(0).Null);
  EXPECT_TRUE(row.Cell(1).Null);
  EXPECT_EQ(row.Cell(2).Bytes, std::string_view("x\0y", 3));
  EXPECT_FALSE(cache.View(1).Cell(0).Null);  // empty is not NULL
  EXPECT_TRUE(cache.View(1).Cell(0).Bytes.empty());
  EXPECT_TRUE(cache.View(1).Cell(2).Null);
  EXPECT_EQ(cache.Row(1).RowNumber, 1);
}

TEST(RecordCache, ChangingACellKeepsTheOthersAndTheRowNumber) {
  TRowCache cache(3);
  const char* values[] = {"one", "two", "three"};
  const unsigned long lengths[] = {3, 3, 5};
  cache.AppendFetched(values, lengths);
  cache.SetCell(0, 1, std::string_view("a much longer second value"));
  cache.SetCell(0, 0, std::nullopt);
  TRecordView row = cache.View(0);
  EXPECT_TRUE(row.Cell(0).Null);
  EXPECT_EQ(row.Cell(1).Bytes, "a much longer second value");
  EXPECT_EQ(row.Cell(2).Bytes, "three");
  cache.SetCell(0, 1, std::string_view(""));
  EXPECT_FALSE(cache.View(0).Cell(1).Null);
  EXPECT_EQ(cache.View(0).Cell(2).Bytes, "three");
  EXPECT_EQ(cache.Row(0).RowNumber, 0);
}

TEST(RecordCache, InsertRemoveAndRenumber) {
  TRowCache cache(1);
  for (const char* v : {"a", "b", "c"}) {
    const char* values[] = {v};
    const unsigned long lengths[] = {1};
    cache.AppendFetched(values, lengths);
  }
  TMySQLRecord record(1);
  record.SetCell(0, std::string_view("new"));
  record.RowNumber = 1;
  cache.Insert(1, record);
  cache.Remove(0);
  cache.Renumber();
  ASSERT_EQ(cache.Count(), 3);
  EXPECT_EQ(cache.View(0).Cell(0).Bytes, "new");
  EXPECT_EQ(cache.View(2).Cell(0).Bytes, "c");
  for (int64_t i = 0; i < cache.Count(); ++i) EXPECT_EQ(cache.Row(i).RowNumber, i);
}

TEST(RecordCache, RecordBufferCopiesARowAndChangesOnlyItself) {
  TRowCache cache(2);
  const char* values[] = {"left", "right"};
  const unsigned long lengths[] = {4, 5};
  cache.AppendFetched(values, lengths);
  TMySQLRecord record(2);
  record.CopyFrom(cache.Row(0), 2);
  record.SetCell(0, std::string_view("L"));
  EXPECT_EQ(record.Cell(0).Bytes, "L");
  EXPECT_EQ(record.Cell(1).Bytes, "right");
  EXPECT_EQ(cache.View(0).Cell(0).Bytes, "left");
  record.Reset(2);
  EXPECT_TRUE(record.Cell(0).Null && record.Cell(1).Null);
}

TEST(RecordCache, ResultCostsItsTextPlusLessThanTenBytesPerCell) {
  const int columns = 10;
  const int rows = 20000;
  TRowCache cache(columns);
  std::string text(27, 'x');
  std::vector<const char*> values(columns, text.data());
  std::vector<unsigned long> lengths(columns, 27);
  for (int i = 0; i < rows; ++i) cache.AppendFetched(values.data(), lengths.data());
  cache.Compact();
  const size_t text_bytes = static_cast<size_t>(rows) * columns * 27;
  EXPECT_LE(cache.MemoryBytes(), text_bytes + static_cast<size_t>(rows) * columns * 10);
}

TEST(RecordCache, RowLargerThanAChunkGetsItsOwn) {
  TRowCache cache(1);
  std::string big(3 << 20, 'b');
  const char* values[] = {big.data()};
  const unsigned long lengths[] = {static_cast<unsigned long>(big.size())};
  cache.AppendFetched(values, lengths);
  const char* small[] = {"s"};
  const unsigned long one[] = {1};
  cache.AppendFetched(small, one);
  EXPECT_EQ(cache.View(0).Cell(0).Bytes.size(), big.size());
  EXPECT_EQ(cache.View(1).Cell(0).Bytes, "s");
}

}  // namespace
}  // namespace quill
