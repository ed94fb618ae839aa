// The script object's transactions: every dataset moves onto the object's
// connection while one is open, and back to its own when it ends, however
// it ends (commit, rollback, a lost connection, the end of the page).
#include "script_object/quill.h"

#include <cstdint>
#include <exception>
#include <vector>

#include "base/errors.h"
#include "mysql_dataset/mysql_dataset.h"
#include "mysql_server/mysql_client.h"
#include "mysql_server/mysql_server.h"
#include "script_object/error_guard.h"

namespace quill {

void TQuill::EnsureConnected() {
  if (!server_->Connected()) server_->Connect();
  if (!server_->Connected()) throw EDatabaseError("Server could not connect");
}

namespace {

// Moves `dataset` onto or off the object's connection; with `reopen`, an
// open dataset is reopened on the row it was on.
void SetSharing(TMySQLDataset& dataset, bool share, bool reopen) {
  const bool was_open = reopen && dataset.Active();
  const int64_t row = was_open ? dataset.RowIndex() : -1;
  dataset.SetShareConnection(share);
  if (!was_open) return;
  dataset.SetActive(true);
  if (row >= 0) dataset.SetRowIndex(row);
}

}  // namespace

void TQuill::DoBeginTrans() {
  if (in_transaction_) throw EDatabaseError("A transaction is already open");
  EnsureConnected();
  // A dataset on a connection of its own would write outside the
  // transaction.
  for (auto& entry : datasets_) {
    TMySQLDataset& dataset = *entry.second;
    if (dataset.ShareConnection()) continue;
    moved_datasets_.push_back(dataset.Handle());
    SetSharing(dataset, true, true);
  }
  try {
    server_->RunStatement("START TRANSACTION");
  } catch (...) {
    EndTransaction(true);
    throw;
  }
  // A silent reconnect would carry on outside the transaction; better that
  // the next statement fails.
  ClientSetReconnect(server_->Handle(), false);
  in_transaction_ = true;
}

void TQuill::EndTransaction(bool reopen) noexcept {
  in_transaction_ = false;
  if (server_ && server_->Handle() != nullptr) ClientSetReconnect(server_->Handle(), true);
  std::vector<ObjectHandle> moved;
  moved.swap(moved_datasets_);
  for (ObjectHandle handle : moved) {
    auto* dataset = dynamic_cast<TMySQLDataset*>(ResolveHandle(handle));
    if (dataset == nullptr) continue;
    try {
      SetSharing(*dataset, false, reopen);
    } catch (...) {
      // It stays closed; its next open reports what is wrong.
    }
  }
}

void TQuill::AbandonTransaction() noexcept {
  if (!in_transaction_) return;
  in_transaction_ = false;
  try {
    if (server_->Handle() != nullptr) server_->RunStatement("ROLLBACK");
  } catch (...) {
    // The server ends the transaction with the connection anyway.
  }
  EndTransaction(false);
}

void TQuill::RefreshAfterRollback() {
  std::exception_ptr first;
  for (auto& entry : datasets_) {
    TMySQLDataset& dataset = *entry.second;
    if (!dataset.Active()) continue;
    try {
      if (dataset.State() == dsEdit || dataset.State() == dsInsert) dataset.CancelRecord();
      dataset.RefreshRows();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

HRESULT TQuill::BeginTrans() {
  return GuardedCall([&] { DoBeginTrans(); });
}

// Sends `sql` (COMMIT or ROLLBACK) to end the open transaction; the
// datasets go back to their own connections whether or not the server
// took it.
void TQuill::FinishTransaction(const char* sql) {
  if (!in_transaction_) throw EDatabaseError("No transaction is open");
  in_transaction_ = false;
  struct End {
    TQuill* self;
    ~End() { self->EndTransaction(true); }
  } end{this};
  server_->RunStatement(sql);
}

HRESULT TQuill::CommitTrans() {
  return GuardedCall([&] { FinishTransaction("COMMIT"); });
}

HRESULT TQuill::RollbackTrans() {
  return GuardedCall([&] {
    FinishTransaction("ROLLBACK");
    RefreshAfterRollback();
  });
}

HRESULT TQuill::get_InTransaction(VARIANT_BOOL* Value) {
  return GuardedCall([&] {
    if (Value == nullptr) throw Exception("Invalid pointer", E_POINTER);
    *Value = in_transaction_ ? VARIANT_TRUE : VARIANT_FALSE;
  });
}

HRESULT TQuill::OnEndPage() {
  AbandonTransaction();
  return TASPObject::OnEndPage();
}

}  // namespace quill
