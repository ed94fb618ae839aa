// Two pages at once: two threads, each with a Quill object of its own made
// through the binary contract, open, walk, render and edit the same table
// at the same time, as two requests of a page server do. The objects share
// nothing but the module (its handle table, shell registry and counters),
// so nothing may be lost or mixed up between them, and the build with
// ThreadSanitizer must find no race.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/quill_client.h"
#include "support/test_server.h"

namespace quill::test {
namespace {

constexpr int kThreads = 2;
constexpr int kRounds = 60;
constexpr int kRowsPerThread = 4;

std::vector<Arg> ConnectArgs(const TestServerSettings& s) {
  return {Arg::Str(s.host), Arg::Str(s.user), Arg::Str(s.password), Arg::I4(static_cast<int32_t>(s.port)),
          Arg::Str(s.database)};
}

// One page thread: its own runtime initialisation, its own object. Every
// failure is recorded in `errors` (gtest assertions stay on the main
// thread).
void PageThread(const TestServerSettings& s, int t, std::vector<std::string>& errors) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  [&] {
    auto fail = [&](const std::string& what, const Outcome& r) {
      if (!r.ok()) errors.push_back("thread " + std::to_string(t) + ": " + what + ": " + r.error);
      return !r.ok();
    };
    Dispatch q = CreateQuill();
    if (fail("connect", q.Method(u"Connect", ConnectArgs(s)))) return;
    Outcome r = q.Get(u"Dataset", {Arg::Str("items"), Arg::Str("conc_items"), Arg::Bool(true)});
    if (fail("open", r)) return;
    Dispatch items = Dispatch::From(r);
    // The thread's own rows, through a filter on the same table.
    r = q.Get(u"Dataset", {Arg::Str("own"), Arg::Str("conc_items"), Arg::Bool(false)});
    if (fail("own", r)) return;
    Dispatch own = Dispatch::From(r);
    own.Put(u"Filter", Arg::Str("owner = " + std::to_string(t)));
    own.Put(u"Filtered", Arg::Bool(true));
    own.Put(u"Active", Arg::Bool(true));
    for (int round = 0; round < kRounds; ++round) {
      // Walk the whole table and render it.
      r = q.Get(u"ContentTable", {Arg::Str("items"), Arg::Bool(false), Arg::Str("<table>"),
                                  Arg::Str("<tr><td><#id></td><td><#FIELDVALUES FIELDPOSTFIX=,></td></tr>"),
                                  Arg::Str("</table>")});
      if (fail("render", r)) return;
      // Bump each own row (not the ones put in below) through the dataset:
      // read, write, post.
      if (fail("refresh", q.Method(u"Execute", {Arg::Str("refresh"), Arg::Str("own")}))) return;
      for (fail("first", q.Method(u"Execute", {Arg::Str("first"), Arg::Str("own")}));
           own.Get(u"Eof").Text() == "False";
           fail("next", q.Method(u"Execute", {Arg::Str("next"), Arg::Str("own")}))) {
        auto value = [&own](const char* name) {
          return std::stoi(Dispatch::From(own.Method(u"FieldByName", {Arg::Str(name)})).Get(u"AsString").Text());
        };
        if (value("id") >= 1000) continue;
        r = q.Method(u"Execute", {Arg::Str("edit"), Arg::Str("own"), Arg::Str("hits;note"),
                                  Arg::StrArray({std::to_string(value("hits") + 1),
                                                 "t" + std::to_string(t) + "r" + std::to_string(round)})});
        if (fail("edit", r)) return;
      }
      // A row in and out again.
      const std::string id = std::to_string(1000 + t * 100 + round);
      r = q.Method(u"Execute", {Arg::Str("insert"), Arg::Str("own"), Arg::Str("id;owner;hits;note"),
                                Arg::StrArray({id, std::to_string(t), "0", "temporary"})});
      if (fail("insert", r)) return;
      if (round % 2 == 0) {
        if (fail("delete", q.Method(u"Execute", {Arg::Str("delete"), Arg::Str("own")}))) return;
      }
      // The shared dataset is walked by name too.
      for (items.Method(u"First"); items.Get(u"Eof").Text() == "False"; items.Method(u"Next")) {
        (void)items.Get(u"FieldValues", {Arg::Str("id;owner")});
      }
    }
  }();
  CoUninitialize();
}

TEST(QuillThreads, TwoPagesEditTheSameTableAtOnce) {
  QUILL_REQUIRE_SERVER(server);
  Dispatch setup = CreateQuill();
  ASSERT_TRUE(setup.Method(u"Connect", ConnectArgs(server)).ok());
  auto exec = [&setup](const std::string& sql) {
    Outcome r = setup.Method(u"ExecSQL", {Arg::Str(sql), Arg::Str("")});
    ASSERT_TRUE(r.ok()) << sql << ": " << r.error;
  };
  exec("drop table if exists conc_items");
  exec("create table conc_items (id int primary key, owner int not null, hits int not null,"
       " note varchar(40) null) engine=InnoDB");
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kRowsPerThread; ++k) {
      exec("insert into conc_items values (" + std::to_string(t * 100 + k) + ", " + std::to_string(t) + ", 0, null)");
    }
  }

  std::vector<std::vector<std::string>> errors(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(PageThread, std::cref(server), t, std::ref(errors[t]));
  for (std::thread& thread : threads) thread.join();
  for (const auto& list : errors) {
    for (const std::string& e : list) ADD_FAILURE() << e;
  }

  // Every own row was bumped once per round; of the rows put in, those of
  // the odd rounds stay.
  Dispatch check = Dispatch::From(setup.Get(u"Dataset", {Arg::Str("check")}));
  Dispatch::From(check.Get(u"SQL")).Put(u"text", Arg::Str("select id, owner, hits, note from conc_items order by id"));
  std::string expected;
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kRowsPerThread; ++k) {
      expected += std::to_string(t * 100 + k) + "|" + std::to_string(t) + "|" + std::to_string(kRounds) + "|t" +
                  std::to_string(t) + "r" + std::to_string(kRounds - 1) + "|;";
    }
  }
  for (int t = 0; t < kThreads; ++t) {
    for (int round = 1; round < kRounds; round += 2) {
      expected += std::to_string(1000 + t * 100 + round) + "|" + std::to_string(t) + "|0|temporary|;";
    }
  }
  Outcome r = setup.Get(u"ContentTable", {Arg::Str("check"), Arg::Bool(false), Arg::Str(""),
                                          Arg::Str("<#FIELDVALUES POSTFIX=; FIELDPOSTFIX=|>"), Arg::Str("")});
  ASSERT_TRUE(r.ok()) << r.error;
  // Rows come ordered by id; the inserted ones sort after every own row.
  EXPECT_EQ(r.Text(), expected);
  exec("drop table conc_items");
}

}  // namespace
}  // namespace quill::test
