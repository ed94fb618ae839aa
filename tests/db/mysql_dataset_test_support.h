// Helpers of the MySQL dataset's db tests: a connection to the private
// server and a dataset bound to it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "mysql_dataset/mysql_dataset.h"
#include "mysql_server_test_support.h"
#include "support/error_text.h"

namespace quill::test {

// Runs statements on the connection's own handle; a refusal fails the test.
inline void Exec(TMySQLServer& server, const std::string& sql) {
  if (!server.Connected()) server.Connect();
  if (!ClientRealQuery(server.Handle(), sql)) {
    ADD_FAILURE() << sql << ": " << ClientError(server.Handle());
    return;
  }
  MySQLResult drop = ClientUseResult(server.Handle());
}

inline std::string ErrorOf(const std::function<void()>& f) { return MessageOf(f); }

// A connected server on the tests' database, and datasets made on it.
class DatasetDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto settings = TestServerFromEnv();
    if (!settings) GTEST_SKIP() << "no private test server: run the tests through scripts/run-tests";
    settings_ = *settings;
    server_ = ServerFor(settings_, true);
    server_->Connect();
  }

  std::unique_ptr<TMySQLDataset> NewDataset(const std::string& sql) {
    auto ds = std::make_unique<TMySQLDataset>();
    ds->SetServer(server_.get());
    ds->SQL().SetText(sql);
    return ds;
  }

  TMySQLServer& server() { return *server_; }

  TestServerSettings settings_;
  std::unique_ptr<TestableServer> server_;
};

}  // namespace quill::test
