// Helpers of the connection component's db tests: a component set up for the
// private server, a reader of single values through the client binding, and
// a small stand-in for the dataset that attaches to a connection.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/component.h"
#include "mysql_server/mysql_client.h"
#include "mysql_server/mysql_server.h"
#include "support/test_server.h"

namespace quill::test {

// The component with its version seam opened.
class TestableServer : public TMySQLServer {
 public:
  using TMySQLServer::SetVersionForTesting;
};

// A component with the private server's parameters, login prompt off, not
// yet connected. The component has no socket property, so it always goes
// over TCP to 127.0.0.1.
inline std::unique_ptr<TestableServer> ServerFor(const TestServerSettings& s,
                                                 bool with_database = false) {
  auto server = std::make_unique<TestableServer>();
  server->SetLoginPrompt(false);
  server->SetHost(s.host.empty() || s.host == "localhost" ? "127.0.0.1" : s.host);
  server->SetPort(static_cast<uint16_t>(s.port));
  server->SetUserName(s.user);
  server->SetPassword(s.password);
  if (with_database) server->SetDatabaseName(s.database);
  return server;
}

// The first column of the first row of `sql` on `handle`; nothing for SQL
// NULL or when there is no row. A refused statement fails the test.
inline std::optional<std::string> QueryValue(MySQLHandle* handle, const std::string& sql) {
  if (handle == nullptr) {
    ADD_FAILURE() << "no handle for " << sql;
    return std::nullopt;
  }
  if (!ClientRealQuery(handle, sql)) {
    ADD_FAILURE() << sql << ": " << ClientError(handle);
    return std::nullopt;
  }
  MySQLResult rows = ClientStoreResult(handle);
  if (!rows || !rows.Next() || rows.IsNull(0)) return std::nullopt;
  return std::string(rows.Text(0));
}

// As QueryValue, "<null>" standing for no value.
inline std::string QueryText(MySQLHandle* handle, const std::string& sql) {
  return QueryValue(handle, sql).value_or("<null>");
}

// Plays the dataset of the next layer: attaches while open, detaches when
// closed or destroyed, and writes its name into `log` when the connection
// closes it.
class StandInDataset : public TComponent, public IMySQLServerClient {
 public:
  StandInDataset(TMySQLServer& server, std::string name, std::vector<std::string>* log)
      : server_(&server), log_(log) {
    SetName(std::move(name));
    // The dataset wants to hear of the connection's destruction too.
    FreeNotification(&server);
  }
  ~StandInDataset() override {
    destroying_ = true;
    if (server_ && detach_on_destroy_) server_->DetachDataset(this);
  }

  void Open() {
    open_ = true;
    if (server_) server_->AttachDataset(this);
  }
  void Close() {
    open_ = false;
    if (server_) server_->DetachDataset(this);
  }
  bool IsOpen() const { return open_; }
  // Whether the connection's handle was still there when it closed us.
  bool HandleLiveAtClose() const { return handle_live_at_close_; }
  void MarkDestroying() { destroying_ = true; }
  // Leaves the connection to learn of the destruction from the component's
  // destruction notice alone.
  void ForgetToDetach() { detach_on_destroy_ = false; }

  TComponent& ClientComponent() override { return *this; }
  bool IsOpenForServer() const override { return open_; }
  void CloseForServer() override {
    handle_live_at_close_ = server_ && server_->Handle() != nullptr;
    if (log_) log_->push_back(Name());
    Close();
  }
  bool IsDestroying() const override { return destroying_; }

 protected:
  void Notification(TComponent* component, Operation operation) override {
    TComponent::Notification(component, operation);
    if (operation == Operation::Remove && component == server_) server_ = nullptr;
  }

 private:
  TMySQLServer* server_;
  std::vector<std::string>* log_;
  bool open_ = false;
  bool destroying_ = false;
  bool detach_on_destroy_ = true;
  bool handle_live_at_close_ = false;
};

}  // namespace quill::test
