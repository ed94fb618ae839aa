// A connection of the test's own to the private server, through the client
// library and nothing of Quill's: it sets tables up before the code under
// test runs and reads back what that code wrote, independent of it.
//
//   quill::test::SqlClient db;
//   ASSERT_TRUE(db.Connect(settings));
//   db.Sql("create table t (id int)");
//   EXPECT_EQ(db.Sql("select id, name from t order by id"), "1|apple;2|NULL;");
//
// Link the client library (tests/db/CMakeLists.txt: quill_test_sql).
#pragma once

#include <mysql.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/test_server.h"

namespace quill::test {

class SqlClient {
 public:
  // Connects as the test account over TCP, or through the server's socket,
  // to `database` (the tests' own database when empty), in utf8mb4. A
  // refusal fails the test and answers false; flags are the client
  // library's (CLIENT_MULTI_STATEMENTS for Script).
  bool Connect(const TestServerSettings& s, unsigned long flags = 0, bool via_socket = false,
               const std::string& database = "") {
    db_.reset(mysql_init(nullptr));
    if (!db_) {
      ADD_FAILURE() << "mysql_init failed";
      return false;
    }
    mysql_options(db_.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
    const std::string& db = database.empty() ? s.database : database;
    const bool ok = via_socket ? mysql_real_connect(db_.get(), "localhost", s.user.c_str(), s.password.c_str(),
                                                    db.c_str(), 0, s.socket.c_str(), flags) != nullptr
                               : mysql_real_connect(db_.get(), s.host.c_str(), s.user.c_str(), s.password.c_str(),
                                                    db.c_str(), s.port, nullptr, flags) != nullptr;
    if (!ok) {
      ADD_FAILURE() << (via_socket ? "socket " + s.socket : s.host + ":" + std::to_string(s.port)) << ": "
                    << mysql_error(db_.get());
      db_.reset();
    }
    return ok;
  }

  explicit operator bool() const { return db_ != nullptr; }
  MYSQL* get() const { return db_.get(); }

  // Runs `sql`; answers the rows as "a|b;c|d;" (NULL for null), or "" for a
  // statement without rows. A refusal fails the test and answers "".
  std::string Sql(const std::string& sql) {
    if (mysql_real_query(db_.get(), sql.data(), sql.size()) != 0) {
      ADD_FAILURE() << sql << ": " << mysql_error(db_.get());
      return "";
    }
    Result res(mysql_store_result(db_.get()), &mysql_free_result);
    if (!res) return "";
    std::string out;
    const unsigned fields = mysql_num_fields(res.get());
    while (MYSQL_ROW row = mysql_fetch_row(res.get())) {
      for (unsigned i = 0; i < fields; ++i) {
        out += row[i] != nullptr ? row[i] : "NULL";
        out += i + 1 < fields ? "|" : ";";
      }
    }
    return out;
  }

  // The first column of the first row of `sql`: "<null>" for SQL NULL or no
  // row, "<error>" (and a failed test) when the statement is refused.
  std::string QueryOne(const std::string& sql) {
    if (mysql_real_query(db_.get(), sql.data(), sql.size()) != 0) {
      ADD_FAILURE() << sql << ": " << mysql_error(db_.get());
      return "<error>";
    }
    Result res(mysql_store_result(db_.get()), &mysql_free_result);
    if (!res) return "<error>";
    MYSQL_ROW row = mysql_fetch_row(res.get());
    return row && row[0] ? std::string(row[0]) : std::string("<null>");
  }

  // Runs statements that answer no rows, several at once (a connection made
  // with CLIENT_MULTI_STATEMENTS). The first refusal fails the test.
  void Script(const std::string& sql) {
    ASSERT_EQ(mysql_real_query(db_.get(), sql.data(), sql.size()), 0) << mysql_error(db_.get());
    do {
      MYSQL_RES* res = mysql_store_result(db_.get());
      if (res != nullptr) mysql_free_result(res);
    } while (mysql_next_result(db_.get()) == 0);
    ASSERT_EQ(mysql_errno(db_.get()), 0u) << mysql_error(db_.get());
  }

 private:
  using Result = std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)>;
  std::unique_ptr<MYSQL, decltype(&mysql_close)> db_{nullptr, &mysql_close};
};

}  // namespace quill::test
