// Object handles, components, collections and published-property lookup.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "base/collection.h"
#include "base/component.h"
#include "base/errors.h"
#include "base/object.h"
#include "base/published.h"
#include "support/leak_check.h"

namespace quill {
namespace {

TEST(ObjectHandles, ResolveWhileAliveAndNeverAfterwards) {
  size_t before = LiveObjectCount();
  ObjectHandle h;
  {
    TComponent c;
    h = c.Handle();
    EXPECT_NE(h, kNoHandle);
    EXPECT_EQ(ResolveHandle(h), &c);
    EXPECT_EQ(LiveObjectCount(), before + 1);
  }
  EXPECT_EQ(ResolveHandle(h), nullptr);
  EXPECT_EQ(ResolveHandle(kNoHandle), nullptr);
  EXPECT_EQ(LiveObjectCount(), before);
  // A new object never takes over an old handle.
  TComponent d;
  EXPECT_NE(d.Handle(), h);
}

TEST(ObjectHandles, AWrappedCounterSkipsLiveHandles) {
  TComponent live;
  // The counter wraps past 0 to 1 and then reaches the live handle.
  SetNextHandleForTesting(0xFFFFFFFFu);
  TComponent last;
  EXPECT_EQ(last.Handle(), 0xFFFFFFFFu);
  SetNextHandleForTesting(live.Handle());
  TComponent next;
  EXPECT_NE(next.Handle(), live.Handle());
  EXPECT_EQ(ResolveHandle(live.Handle()), &live);
  EXPECT_EQ(ResolveHandle(next.Handle()), &next);
}

// Objects made and dropped out of order while others live on: once the
// handles have moved far past the old ones they share places in the table
// with them, and every live object must still be found, no dropped one.
TEST(ObjectHandles, ChurnKeepsEveryLiveHandleResolvable) {
  const size_t before = LiveObjectCount();
  std::vector<std::unique_ptr<TComponent>> kept;
  for (int i = 0; i < 64; ++i) kept.push_back(std::make_unique<TComponent>());
  for (int round = 0; round < 24; ++round) {
    std::vector<std::unique_ptr<TComponent>> batch;
    std::vector<ObjectHandle> dropped;
    for (int i = 0; i < 1500; ++i) batch.push_back(std::make_unique<TComponent>());
    for (size_t k = 0; k < batch.size(); ++k) {
      const size_t at = (k * 7 + static_cast<size_t>(round)) % batch.size();  // an order unlike the making
      if (at % 3 != 0) {
        dropped.push_back(batch[at]->Handle());
        batch[at].reset();
      }
    }
    for (const auto* list : {&kept, &batch}) {
      for (const auto& o : *list) {
        if (o) {
          ASSERT_EQ(ResolveHandle(o->Handle()), o.get()) << "round " << round;
        }
      }
    }
    for (ObjectHandle h : dropped) ASSERT_EQ(ResolveHandle(h), nullptr);
  }
  kept.clear();
  EXPECT_EQ(LiveObjectCount(), before);
}

class Watcher : public TComponent {
 public:
  using TComponent::TComponent;
  TComponent* watched = nullptr;
  int removes = 0;

 protected:
  void Notification(TComponent* c, Operation op) override {
    if (op == Operation::Remove && c == watched) {
      watched = nullptr;
      ++removes;
    }
  }
};

// The handle table lists every live object for the whole process; an object
// nobody deletes must still be a leak to the leak checker, not memory the
// table keeps reachable.
TEST(ObjectHandles, AnObjectNobodyDeletesIsFoundByTheLeakChecker) {
  if (!test::LeakCheckAvailable()) GTEST_SKIP() << "no leak checker in this build";
  ObjectHandle h = kNoHandle;
  // Made on a thread of its own: no register or stack slot here points at it.
  std::thread([&h] { h = (new TComponent)->Handle(); }).join();
  EXPECT_TRUE(test::LeaksFoundNow()) << "the handle table hides a leaked object";
  TObject* leaked = ResolveHandle(h);
  ASSERT_NE(leaked, nullptr);
  delete leaked;
  EXPECT_FALSE(test::LeaksFoundNow());
}

TEST(Components, DestructionNoticesClearReferences) {
  Watcher w;
  {
    auto target = std::make_unique<TComponent>();
    w.watched = target.get();
    w.FreeNotification(target.get());
    w.FreeNotification(target.get());  // twice is once
  }
  EXPECT_EQ(w.watched, nullptr);
  EXPECT_EQ(w.removes, 1);
}

TEST(Components, WatcherDestroyedFirstLeavesNoDanglingNotice) {
  auto target = std::make_unique<TComponent>();
  {
    Watcher w;
    w.watched = target.get();
    w.FreeNotification(target.get());
  }
  target.reset();  // must not call into the destroyed watcher
  SUCCEED();
}

TEST(Components, OwnerFindsPartsByNameAndForgetsDestroyedOnes) {
  TComponent owner;
  auto a = std::make_unique<TComponent>(&owner);
  a->SetName("Orders");
  EXPECT_EQ(owner.FindComponent("ORDERS"), a.get());
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  a.reset();
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(owner.FindComponent("orders"), nullptr);
}

TEST(Components, DecorateAddsTheNameOnlyWhenThereIsOne) {
  TComponent c;
  EXPECT_EQ(c.Decorate("Cannot do it"), "Cannot do it");
  c.SetName("orders");
  EXPECT_EQ(c.Decorate("Cannot do it"), "orders: Cannot do it");
}

TEST(PublishedProperties, ComponentNameAndTagAreFoundWithoutCase) {
  TComponent c;
  const PropertyInfo* name = FindProperty(c.ClassInfo(), "NAME");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->Kind, PropertyKind::String);
  name->Write(c, Variant("x"));
  EXPECT_EQ(c.Name(), "x");
  const PropertyInfo* tag = FindProperty(c.ClassInfo(), "tag");
  ASSERT_NE(tag, nullptr);
  tag->Write(c, Variant("42"));
  EXPECT_EQ(tag->Read(c).AsInteger(), 42);
  EXPECT_THROW(tag->Write(c, Variant("abc")), EConvertError);
  EXPECT_EQ(FindProperty(c.ClassInfo(), "Nam"), nullptr);
  EXPECT_EQ(ListProperties(c.ClassInfo()).size(), 2u);
  EXPECT_TRUE(c.InheritsFrom(TObject::StaticClassInfo));
  EXPECT_FALSE(TObject::StaticClassInfo.InheritsFrom(TComponent::StaticClassInfo));
}

// A derived class that shadows a parent's property: the nearest one wins.
class Shadowing : public TComponent {
  QUILL_DECLARE_CLASS()
};
const PropertyInfo kShadowProps[] = {
    BooleanProp(
        "Tag", [](const TObject&) { return Variant(true); }, nullptr, "True"),
};
const TClassInfo Shadowing::StaticClassInfo{"Shadowing", &TComponent::StaticClassInfo,
                                            kShadowProps};

TEST(PublishedProperties, NearestClassWinsAndBooleansAreMarked) {
  Shadowing s;
  const PropertyInfo* tag = FindProperty(s.ClassInfo(), "TAG");
  ASSERT_NE(tag, nullptr);
  EXPECT_TRUE(tag->IsBoolean());
  EXPECT_FALSE(tag->Writable());
  EXPECT_EQ(ListProperties(s.ClassInfo()).size(), 2u);  // Tag once, Name
  EXPECT_EQ(EnumOrdinal(kBooleanNames, "true"), 1);
  EXPECT_EQ(EnumOrdinal(kBooleanNames, "1"), -1);
}

class TestItem : public TCollectionItem {
 public:
  using TCollectionItem::TCollectionItem;
};
class Items : public TCollection {
 public:
  std::string_view ItemClassName() const override { return "TParam"; }

 protected:
  std::unique_ptr<TCollectionItem> NewItem() override { return std::make_unique<TestItem>(this); }
};

TEST(Collections, IdsGrowAndAreNeverReused) {
  Items c;
  c.Add();
  TCollectionItem* second = c.Add();
  c.Add();
  EXPECT_EQ(second->ID(), 1);
  EXPECT_EQ(second->Index(), 1);
  c.Delete(0);
  EXPECT_EQ(second->Index(), 0);
  EXPECT_EQ(c.FindItemID(0), nullptr);
  EXPECT_EQ(c.FindItemID(1), second);
  EXPECT_EQ(c.Add()->ID(), 3);
  EXPECT_THROW(c.Item(3), EListError);
  ObjectHandle h = second->Handle();
  c.Clear();
  EXPECT_EQ(c.Count(), 0);
  EXPECT_EQ(ResolveHandle(h), nullptr);
}

}  // namespace
}  // namespace quill
