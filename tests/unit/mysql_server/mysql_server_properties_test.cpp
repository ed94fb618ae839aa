// The published-property table of the connection and its initial state, and
// the attached-dataset list without a server.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/published.h"
#include "mysql_server/mysql_server.h"

namespace quill {
namespace {

Variant Read(const TObject& o, std::string_view name) {
  const PropertyInfo* p = FindProperty(o.ClassInfo(), name);
  EXPECT_NE(p, nullptr) << name;
  EXPECT_NE(p->Read, nullptr) << name;
  return p->Read(o);
}

void Write(TObject& o, std::string_view name, const Variant& value) {
  const PropertyInfo* p = FindProperty(o.ClassInfo(), name);
  ASSERT_NE(p, nullptr) << name;
  ASSERT_NE(p->Write, nullptr) << name;
  p->Write(o, value);
}

TEST(ServerInitialState, DisconnectedWithTheDefaults) {
  TMySQLServer server;
  EXPECT_FALSE(server.Connected());
  EXPECT_EQ(server.Handle(), nullptr);
  EXPECT_EQ(server.DatabaseName(), "");
  EXPECT_EQ(server.Host(), "localhost");
  EXPECT_EQ(server.Port(), 3306);
  EXPECT_EQ(server.IdleTimer(), 30u);
  EXPECT_TRUE(server.LoginPrompt());
  EXPECT_EQ(server.UserName(), "root");
  EXPECT_EQ(server.Password(), "");
  EXPECT_TRUE(server.Params().Empty());
  EXPECT_FALSE(server.Compression());
  EXPECT_EQ(server.ServerVersion(), "");
  EXPECT_EQ(server.Major(), 3);
  EXPECT_EQ(server.Minor(), 21);
  EXPECT_EQ(server.Build(), 0);
  EXPECT_EQ(server.IntVer(), 32100u);
  EXPECT_EQ(server.ClientVersion(), "");
  EXPECT_EQ(server.Protocol(), "");
  EXPECT_EQ(server.Info(), "");
  EXPECT_EQ(server.DatasetCount(), 0);
}

TEST(ServerProperties, TableMatchesThePublishedSet) {
  TMySQLServer server;
  struct Row {
    const char* name;
    PropertyKind kind;
    bool writable;
    const char* def;
  };
  const Row rows[] = {
      {"Connected", PropertyKind::Enumeration, true, "False"},
      {"DatabaseName", PropertyKind::String, true, ""},
      {"Host", PropertyKind::String, true, ""},
      {"Port", PropertyKind::Integer, true, "3306"},
      {"IdleTimer", PropertyKind::Integer, true, "30"},
      {"LoginPrompt", PropertyKind::Enumeration, true, "True"},
      {"UserName", PropertyKind::String, true, ""},
      {"Password", PropertyKind::String, true, ""},
      {"Params", PropertyKind::Object, true, ""},
      {"Compression", PropertyKind::Enumeration, true, "False"},
      {"ServerVersion", PropertyKind::String, false, ""},
      {"Major", PropertyKind::Integer, false, ""},
      {"Minor", PropertyKind::Integer, false, ""},
      {"Build", PropertyKind::Integer, false, ""},
      {"IntVer", PropertyKind::Integer, false, ""},
      {"ClientVersion", PropertyKind::String, false, ""},
      {"Protocol", PropertyKind::String, false, ""},
      {"Info", PropertyKind::String, false, ""},
      {"AfterConnect", PropertyKind::Event, false, ""},
      {"AfterDisconnect", PropertyKind::Event, false, ""},
      {"BeforeConnect", PropertyKind::Event, false, ""},
      {"BeforeDisconnect", PropertyKind::Event, false, ""},
      {"OnIdleTimer", PropertyKind::Event, false, ""},
      {"OnLogin", PropertyKind::Event, false, ""},
      // From the component base.
      {"Name", PropertyKind::String, true, ""},
      {"Tag", PropertyKind::Integer, true, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const PropertyInfo* p = FindProperty(server.ClassInfo(), r.name);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Kind, r.kind);
    EXPECT_EQ(p->Writable(), r.writable);
    EXPECT_EQ(p->Default, r.def);
  }
  EXPECT_TRUE(FindProperty(server.ClassInfo(), "Connected")->IsBoolean());
  EXPECT_EQ(FindProperty(server.ClassInfo(), "Params")->ObjectClass, &TStringList::StaticClassInfo);
  EXPECT_EQ(ListProperties(server.ClassInfo()).size(), std::size(rows));
  EXPECT_EQ(server.ClassName(), "TMySQLServer");
  EXPECT_TRUE(server.InheritsFrom(TComponent::StaticClassInfo));
}

TEST(ServerProperties, ReadAndWrittenByNameInAnyCase) {
  TMySQLServer server;
  for (const char* name : {"port", "PORT", "Port"}) EXPECT_EQ(Read(server, name).AsInteger(), 3306);
  EXPECT_EQ(Read(server, "intver").AsInteger(), 32100);
  EXPECT_EQ(Read(server, "loginprompt").Type(), VarType::Boolean);
  Write(server, "host", Variant("db.example"));
  Write(server, "PORT", Variant(int32_t{3307}));
  Write(server, "Compression", Variant(true));
  Write(server, "DatabaseName", Variant("shop"));
  EXPECT_EQ(server.Host(), "db.example");
  EXPECT_EQ(server.Port(), 3307);
  EXPECT_TRUE(server.Compression());
  EXPECT_EQ(server.DatabaseName(), "shop");
  // 32-bit unsigned values beyond the signed range survive the round trip.
  Write(server, "IdleTimer", Variant(int64_t{4000000000}));
  EXPECT_EQ(Read(server, "IdleTimer").AsInt64(), 4000000000);
}

TEST(ServerProperties, OutOfRangeNumbersAreRefusedNotWrapped) {
  TMySQLServer server;
  EXPECT_THROW(Write(server, "Port", Variant(int32_t{65536})), EConvertError);
  EXPECT_THROW(Write(server, "Port", Variant(int32_t{-1})), EConvertError);
  EXPECT_THROW(Write(server, "IdleTimer", Variant(int32_t{-1})), EConvertError);
  EXPECT_THROW(Write(server, "Port", Variant("abc")), EConvertError);
  EXPECT_EQ(server.Port(), 3306);
  EXPECT_EQ(server.IdleTimer(), 30u);
  Write(server, "Port", Variant(int32_t{65535}));
  EXPECT_EQ(server.Port(), 65535);
}

TEST(ServerProperties, ParamsIsTheComponentsOwnList) {
  TMySQLServer server;
  const PropertyInfo* p = FindProperty(server.ClassInfo(), "Params");
  ASSERT_NE(p->ReadObject, nullptr);
  EXPECT_EQ(p->ReadObject(server), &server.Params());

  TStringList other;
  other.Add("HOST=h1");
  other.Add("PORT=3310");
  p->WriteObject(server, &other);
  EXPECT_EQ(server.Params().Lines(), other.Lines());
  EXPECT_NE(&server.Params(), &other);  // copied, not shared

  // Assigning the list to itself keeps its lines.
  p->WriteObject(server, &server.Params());
  EXPECT_EQ(server.Params().Count(), 2);
  // Anything else empties it.
  p->WriteObject(server, nullptr);
  EXPECT_TRUE(server.Params().Empty());
  p->WriteObject(server, &server);
  EXPECT_TRUE(server.Params().Empty());
}

// A stand-in for the dataset of the next layer.
class FakeDataset : public TComponent, public IMySQLServerClient {
 public:
  TComponent& ClientComponent() override { return *this; }
  bool IsOpenForServer() const override { return false; }
  void CloseForServer() override {}
  bool IsDestroying() const override { return false; }
};

TEST(AttachedDatasets, EachDatasetOnceInAttachOrder) {
  TMySQLServer server;
  FakeDataset a, b;
  server.AttachDataset(&a);
  server.AttachDataset(&b);
  server.AttachDataset(&a);
  server.AttachDataset(nullptr);
  ASSERT_EQ(server.DatasetCount(), 2);
  EXPECT_EQ(server.Dataset(0), &a);
  EXPECT_EQ(server.Dataset(1), &b);
  server.DetachDataset(&a);
  server.DetachDataset(&a);
  ASSERT_EQ(server.DatasetCount(), 1);
  EXPECT_EQ(server.Dataset(0), &b);
  server.DetachDataset(nullptr);
  EXPECT_EQ(server.DatasetCount(), 1);
}

TEST(AttachedDatasets, DestroyedDatasetLeavesTheList) {
  TMySQLServer server;
  auto a = std::make_unique<FakeDataset>();
  FakeDataset b;
  server.AttachDataset(a.get());
  server.AttachDataset(&b);
  a.reset();
  ASSERT_EQ(server.DatasetCount(), 1);
  EXPECT_EQ(server.Dataset(0), &b);
  // Detached datasets are forgotten too, and their destruction is harmless.
  auto c = std::make_unique<FakeDataset>();
  server.AttachDataset(c.get());
  server.DetachDataset(c.get());
  c.reset();
  EXPECT_EQ(server.DatasetCount(), 1);
}

TEST(AttachedDatasets, ServerMayGoFirst) {
  FakeDataset a;
  {
    TMySQLServer server;
    server.AttachDataset(&a);
  }
  SUCCEED();  // the dataset outlives the server without a dangling notice
}

}  // namespace
}  // namespace quill
