// Shared fixture of the script object's db tests: a Quill object made
// through the module's class factory and connected to the private server,
// plus helpers to run statements and read tables back through the object.
// Everything goes through the binary contract (support/quill_client.h).
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/quill_client.h"
#include "support/test_server.h"

namespace quill::test {

class QuillDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_ = TestServerFromEnv();
    if (!settings_) GTEST_SKIP() << "no private test server: run the tests through scripts/run-tests";
    q = CreateQuill();
    Outcome r = q.Method(u"Connect", ConnectArgs());
    ASSERT_TRUE(r.ok()) << r.error;
  }

  const TestServerSettings& server() const { return *settings_; }

  // Host, user, password, port and database of the private server.
  std::vector<Arg> ConnectArgs(std::optional<uint32_t> port = std::nullopt) const {
    return {Arg::Str(server().host), Arg::Str(server().user), Arg::Str(server().password),
            Arg::I4(static_cast<int32_t>(port.value_or(server().port))),
            Arg::Str(server().database)};
  }

  // Runs `sql` on the object's current connection (ExecSQL with an empty
  // host does not reconnect).
  void Exec(const std::string& sql) {
    Outcome r = q.Method(u"ExecSQL", {Arg::Str(sql), Arg::Str("")});
    ASSERT_TRUE(r.ok()) << sql << ": " << r.error;
  }

  // A new table `name` made by `create` (the column list) and `rows` (the
  // values lists of one insert, or empty).
  void Table(const std::string& name, const std::string& create, const std::string& rows = "") {
    Exec("drop table if exists " + name);
    Exec("create table " + name + " (" + create + ")");
    if (!rows.empty()) Exec("insert into " + name + " values " + rows);
  }

  // The dataset `name` over `table`, opened.
  Dispatch Open(const std::string& name, const std::string& table) {
    Outcome r = q.Get(u"Dataset", {Arg::Str(name), Arg::Str(table), Arg::Bool(true)});
    EXPECT_TRUE(r.ok()) << r.error;
    return Dispatch::From(r);
  }

  // The rows of `sql` as "a|b|c" lines joined by ";", read through a second
  // Quill object so that nothing of `q` moves.
  std::string Rows(const std::string& sql) {
    Dispatch reader = CreateQuill();
    Outcome r = reader.Method(u"Connect", ConnectArgs());
    if (!r.ok()) return "connect failed: " + r.error;
    Dispatch d = Dispatch::From(reader.Get(u"Dataset", {Arg::Str("rows")}));
    Dispatch text = Dispatch::From(d.Get(u"SQL"));
    text.Put(u"text", Arg::Str(sql));
    r = reader.Get(u"ContentTable",
                   {Arg::Str("rows"), Arg::Bool(false), Arg::Str(""),
                    Arg::Str("<#FIELDVALUES POSTFIX=; FIELDPOSTFIX=|>"), Arg::Str("")});
    if (!r.ok()) return "read failed: " + r.error;
    return r.Text();
  }

  // Content of dataset `name` with `html`.
  std::string Content(const std::string& name, const std::string& html) {
    Outcome r = q.Get(u"Content", {Arg::Str(name), Arg::Bool(false), Arg::Str(html)});
    EXPECT_TRUE(r.ok()) << r.error;
    return r.Text();
  }

  Dispatch q;

 private:
  std::optional<TestServerSettings> settings_;
};

}  // namespace quill::test
