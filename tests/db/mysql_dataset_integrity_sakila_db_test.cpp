// The write rules of the dataset on the sample database: a post whose values
// equal the row's still finds its row, a row changed behind the dataset's
// back is not overwritten, and DECIMAL money columns keep the server's text.
// Every change is undone, so the sample stays as loaded.
#include <gtest/gtest.h>

#include "mysql_dataset_test_support.h"

namespace quill::test {
namespace {

TEST(SakilaIntegrityTest, PostsFindTheirRowAndMoneyKeepsItsDigits) {
  QUILL_REQUIRE_SAKILA(settings);
  auto server = ServerFor(settings);
  server->SetDatabaseName("sakila");
  server->Connect();
  TMySQLDataset ds;
  ds.SetServer(server.get());
  ds.SQL().SetText("select * from actor where actor_id in (1, 2) order by actor_id");
  ds.SetTableName("actor");
  ds.OpenDataset();
  TField& first_name = ds.RequireField("first_name");
  const std::string name = first_name.AsString();
  ds.BeginEdit();
  first_name.SetAsString(name);
  ds.PostRecord();
  EXPECT_EQ(ds.AffectedRows(), "1");
  // The other client renames actor 2 first: the post must not overwrite it.
  MySQLHandle* other = server->NewHandle();
  ASSERT_TRUE(ClientSelectDb(other, "sakila"));
  const std::string old_name = QueryText(other, "select first_name from actor where actor_id = 2");
  ASSERT_TRUE(ClientRealQuery(other, "update actor set actor_id = 60000 where actor_id = 2"));
  ds.MoveNext();
  ds.BeginEdit();
  first_name.SetAsString("LOST");
  EXPECT_EQ(ErrorOf([&] { ds.PostRecord(); }), kMsgRowNotFound);
  ds.CancelRecord();
  EXPECT_EQ(QueryText(other, "select first_name from actor where actor_id = 60000"), old_name);
  ASSERT_TRUE(ClientRealQuery(other, "update actor set actor_id = 2 where actor_id = 60000"));
  ds.CloseDataset();

  ds.SQL().SetText("select payment_id, amount from payment order by payment_id limit 3");
  ds.SetTableName("payment");
  ds.OpenDataset();
  for (; !ds.Eof(); ds.MoveNext()) {
    const std::string id = ds.RequireField("payment_id").AsString();
    EXPECT_EQ(ds.RequireField("amount").DisplayText(),
              QueryText(other, "select amount from payment where payment_id = " + id));
  }
  server->DropHandle(other);
}

}  // namespace
}  // namespace quill::test
