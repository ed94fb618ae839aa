// The process-wide cache of column descriptions against the private server:
// what an open sends (counted in the server's general log), and when a
// cached description is dropped or read again.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "mysql_dataset_test_support.h"

namespace quill::test {
namespace {

TEST_F(DatasetDbTest, ColumnDescriptionsAreReusedUntilTheTableChangesOrTheyExpire) {
  Exec(server(), "drop table if exists cache_probe");
  Exec(server(),
       "create table cache_probe (id int primary key, kind enum('a','b') default 'b', "
       "note varchar(20) default 'x')");
  Exec(server(), "insert into cache_probe values (1, 'a', 'n')");
  TColumnDescription::ClearCache();
  const std::string thread = QueryText(server().Handle(), "select connection_id()");
  Exec(server(), "set global log_output = 'TABLE'");
  Exec(server(), "truncate table mysql.general_log");
  Exec(server(), "set global general_log = 1");
  struct LogOff {  // off again whatever happens
    TMySQLServer& server;
    ~LogOff() {
      Exec(server, "set global general_log = 0");
      TColumnDescription::SetCacheMaxAge(std::chrono::seconds(60));
    }
  } log_off{server()};
  const auto sent = [&](const std::string& where) {
    return QueryText(server().Handle(), "select count(*) from mysql.general_log where thread_id=" +
                                            thread + " and " + where);
  };
  const std::string show_columns = "argument like 'show columns from cache_probe%'";
  const std::string show_tables = "argument like 'show tables%'";
  const std::string init_db = "command_type = 'Init DB'";
  // Opens a dataset over the table and answers the default of `note`.
  const auto open = [&] {
    auto ds = NewDataset("select * from cache_probe");
    ds->OpenDataset();
    EXPECT_EQ(ds->ColumnInfo(1).EnumValues, "\"a\",\"b\"");
    return ds->ColumnInfo(2).Default;
  };

  EXPECT_EQ(open(), "x");
  EXPECT_EQ(open(), "x");
  EXPECT_EQ(sent(show_columns), "1");  // the second open took the cache
  EXPECT_EQ(sent(show_tables), "1");
  EXPECT_EQ(sent(init_db), "0");  // the connection is already in the database

  // A statement the module sends drops the table's entry, by either path.
  ASSERT_TRUE(server().RunStatement("alter table cache_probe alter note set default 'y'"));
  EXPECT_EQ(open(), "y");
  EXPECT_EQ(sent(show_columns), "2");
  auto writer = NewDataset("select 1");
  writer->ExecStatement("alter table `cache_probe` alter note set default 'w'", false, false);
  EXPECT_EQ(open(), "w");
  EXPECT_EQ(sent(show_columns), "3");

  // Another client's change that shows in the result's metadata is noticed.
  auto other = ServerFor(settings_, true);
  other->Connect();
  Exec(*other, "alter table cache_probe modify note varchar(30) default 'z'");
  EXPECT_EQ(open(), "z");
  EXPECT_EQ(sent(show_columns), "4");

  // One that does not is seen once the entry expires.
  Exec(*other, "alter table cache_probe alter note set default 'v'");
  EXPECT_EQ(open(), "z");
  EXPECT_EQ(sent(show_columns), "4");
  TColumnDescription::SetCacheMaxAge(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_EQ(open(), "v");
  EXPECT_EQ(sent(show_columns), "5");
  EXPECT_EQ(sent(init_db), "0");
}

}  // namespace
}  // namespace quill::test
