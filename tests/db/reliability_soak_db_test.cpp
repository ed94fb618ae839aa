// The soak of the page server: `quill-asp serve`, started as a program of
// its own, answers a few thousand requests from several clients at once
// over loopback. The pages open datasets (one a detail of another), walk
// them, render them through templates and edit, insert and delete rows.
//
// It passes when every answer is the one expected, the server's resident
// memory after the warm-up does not grow by more than a small tolerance,
// the server reports at shutdown that no object of Quill.so and none of its
// own is alive, and the database holds exactly what the requests wrote.
//
// Without QUILL_SOAK_REQUESTS the test skips: scripts/reliability-soak sets
// it (and runs the private server). Settings, from the environment:
//   QUILL_SOAK_REQUESTS      requests in all (e.g. 3000)
//   QUILL_SOAK_CLIENTS       client threads (default 4)
//   QUILL_SOAK_RSS_SLACK_KB  growth of VmRSS allowed after warm-up (default 2048)
//   QUILL_SOAK_SERVER_WRAPPER  a command line the server runs under, such as
//                            "valgrind --leak-check=full" (its report lands
//                            in the server's log, printed on failure)
// The figures are printed at the end.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/asp_test_component.h"
#include "support/quill_module.h"
#include "support/sql_client.h"
#include "support/test_server.h"

namespace quill::test {
namespace {

using namespace std::chrono_literals;

long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value >= 0 ? value : fallback;
}

using quill::test::ReadWholeFile;

constexpr int kOwnRows = 5;        // rows each client edits
constexpr int kCustomers = 4;      // master rows of the list page
constexpr int kOrdersEach = 3;     // detail rows per master row

constexpr const char* kListPage =
    "<!--#include file=\"conn.inc\"-->"
    "<% var q = Connect();\n"
    "   var c = q.Dataset('customers', 'soak_customers', true);\n"
    "   q.Dataset('orders', 'soak_orders', true, 'customers', 'customer_id=id'); %>"
    "<h1>Customers</h1><% for (c.first(); !c.eof; c.next()) { %>"
    "<h2><%= Server.HTMLEncode(c('name')) %></h2>"
    "<%= q.ContentTable('orders', false, '<ul>', '<li><#id>: <#qty> x <#item></li>', '</ul>') %><% } %>"
    "<%= q.ContentTable('customers', false, '<table>', '<tr><#FIELDVALUES FIELDPREFIX=%3Ctd%3E FIELDPOSTFIX=%3C/td%3E></tr>',"
    " '</table>') %>";

// The rows of one owner, walked by script and by template.
constexpr const char* kWalkPage =
    "<!--#include file=\"conn.inc\"-->"
    "<% var q = Connect();\n"
    "   var d = q.Dataset('rows', 'soak_items', false);\n"
    "   d.Filter = 'owner = ' + Number(String(Request.QueryString('owner')));\n"
    "   d.Filtered = true; d.Active = true;\n"
    "   var n = 0, hits = 0;\n"
    "   for (d.first(); !d.eof; d.next()) { n++; hits += d('hits'); } %>"
    "rows=<%= n %> hits=<%= hits %>"
    "<%= q.ContentTable('rows', false, '|', '<#id>,', '') %>";

// Bumps, inserts or deletes the row of the posted id, which a filter picks.
constexpr const char* kEditPage =
    "<!--#include file=\"conn.inc\"-->"
    "<% var q = Connect();\n"
    "   var id = Number(String(Request.Form('id'))), action = String(Request.Form('action'));\n"
    "   var d = q.Dataset('items', 'soak_items', false);\n"
    "   d.Filter = 'id = ' + id; d.Filtered = true; d.Active = true;\n"
    "   if (action == 'insert') {\n"
    "     q.Execute('Insert', 'items', 'id;owner;hits;note');\n"
    "   } else {\n"
    "     if (d.eof) throw new Error('no row ' + id);\n"
    "     if (action == 'bump') {\n"
    "       d.edit(); d.FieldByName('hits').Value = d('hits') + 1;\n"
    "       d.FieldByName('note').Value = String(Request.Form('note')); d.post();\n"
    "     } else if (action == 'delete') {\n"
    "       q.Execute('Delete', 'items');\n"
    "     }\n"
    "   }\n"
    "   q.Execute('refresh', 'items'); %>"
    "<%= action %> <%= id %>: <%= d.eof ? 'gone' : d('hits') %>";

struct Row {
  int owner = 0;
  int hits = 0;
  std::string note;
};

// What one client expects of the database: its own rows.
struct ClientState {
  std::map<int, Row> rows;
  std::vector<std::string> errors;
  int served = 0;
};

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto settings = TestServerFromEnv();
    if (!settings) GTEST_SKIP() << "no private test server: run scripts/reliability-soak";
    requests_ = EnvNumber("QUILL_SOAK_REQUESTS", 0);
    if (requests_ <= 0) GTEST_SKIP() << "QUILL_SOAK_REQUESTS unset: run scripts/reliability-soak";
    clients_ = static_cast<int>(std::clamp(EnvNumber("QUILL_SOAK_CLIENTS", 4), 1L, 16L));
    slack_kb_ = EnvNumber("QUILL_SOAK_RSS_SLACK_KB", 2048);
    settings_ = *settings;
    asp::test::RegisterQuill();  // OLE_REGISTRY: the server inherits it
    ASSERT_TRUE(db_.Connect(settings_));
    db_.Sql("drop table if exists soak_items, soak_orders, soak_customers");
    db_.Sql("create table soak_items (id int primary key, owner int not null, hits int not null,"
            " note varchar(60) null) engine=InnoDB character set utf8mb4");
    db_.Sql("create table soak_customers (id int primary key, name varchar(40) not null,"
            " city varchar(40) null) engine=InnoDB character set utf8mb4");
    db_.Sql("create table soak_orders (id int primary key, customer_id int not null, item varchar(40) not null,"
            " qty int not null) engine=InnoDB character set utf8mb4");
    for (int c = 1; c <= kCustomers; ++c) {
      db_.Sql("insert into soak_customers values (" + std::to_string(c) + ", 'Customer <" + std::to_string(c) +
              "> & Sons', " + (c % 2 ? "'Oslo'" : "null") + ")");
      for (int o = 0; o < kOrdersEach; ++o) {
        const int id = c * 100 + o;
        db_.Sql("insert into soak_orders values (" + std::to_string(id) + ", " + std::to_string(c) + ", 'item " +
                std::to_string(o) + "', " + std::to_string(o + c) + ")");
      }
    }
    states_.resize(static_cast<size_t>(clients_));
    for (int t = 0; t < clients_; ++t) {
      for (int k = 0; k < kOwnRows; ++k) {
        const int id = t * 1000 + k;
        db_.Sql("insert into soak_items values (" + std::to_string(id) + ", " + std::to_string(t) + ", 0, null)");
        states_[static_cast<size_t>(t)].rows[id] = Row{t, 0, ""};
      }
    }
    site_.Write("conn.inc", quill::test::ConnectInclude(settings_));
    site_.Write("list.asp", kListPage);
    site_.Write("walk.asp", kWalkPage);
    site_.Write("edit.asp", kEditPage);
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (db_) db_.Sql("drop table if exists soak_items, soak_orders, soak_customers");
  }

  // Starts `quill-asp serve` on a free port with its log in the site's
  // folder; answers the port, or 0.
  int StartServer() {
    log_ = (site_.base() / "serve.log").string();
    pid_ = fork();
    if (pid_ == 0) {
      std::freopen(log_.c_str(), "w", stderr);
      std::freopen("/dev/null", "w", stdout);
      const std::string root = site_.root().string();
      const std::string threads = std::to_string(clients_);
      const char* wrapper = std::getenv("QUILL_SOAK_SERVER_WRAPPER");
      if (wrapper != nullptr && *wrapper != '\0') {
        // A checker around the server (valgrind, a preloaded leak checker):
        // the shell runs it in its own place, under the same pid.
        const std::string command = std::string("exec ") + wrapper + " '" QUILL_ASP_PROGRAM "' serve --root '" +
                                    root + "' --port 0 --threads " + threads + " --timeout 60";
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      } else {
        execl(QUILL_ASP_PROGRAM, QUILL_ASP_PROGRAM, "serve", "--root", root.c_str(), "--port", "0", "--threads",
              threads.c_str(), "--timeout", "60", static_cast<char*>(nullptr));
      }
      _exit(127);
    }
    const std::regex serving("serving .* on http://127\\.0\\.0\\.1:([0-9]+)/");
    for (int i = 0; i < 500; ++i) {
      std::smatch m;
      const std::string text = ReadWholeFile(log_);
      if (std::regex_search(text, m, serving)) return std::stoi(m[1]);
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "the server did not start: " << ReadWholeFile(log_);
    return 0;
  }

  // Stops the server with SIGTERM; answers its exit status (-1: killed).
  int StopServer() {
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 1500; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "the server did not stop within 30s";
    return -1;
  }

  // One client: its share of the requests, round after round of list,
  // walk, bump, and insert or delete.
  void Client(int port, int t, int count, std::atomic<int>& done, const std::function<void()>& on_progress) {
    ClientState& state = states_[static_cast<size_t>(t)];
    httplib::Client http("127.0.0.1", port);
    http.set_keep_alive(true);
    http.set_connection_timeout(10);
    http.set_read_timeout(60);
    auto expect = [&](const std::string& what, const httplib::Result& r, const std::string& body) {
      if (!r) {
        state.errors.push_back(what + ": no answer (" + httplib::to_string(r.error()) + ")");
      } else if (r->status != 200 || r->body != body) {
        state.errors.push_back(what + ": " + std::to_string(r->status) + " " + r->body.substr(0, 400) +
                               " (expected " + body + ")");
      }
    };
    std::vector<int> inserted;
    int next_insert = t * 1000 + 500;
    for (int i = 0; i < count && state.errors.size() < 5; ++i) {
      switch (i % 4) {
        case 0: {
          auto r = http.Get("/list.asp");
          std::lock_guard<std::mutex> lock(list_mutex_);
          if (list_body_.empty() && r && r->status == 200) list_body_ = r->body;
          expect("list", r, list_body_);
          break;
        }
        case 1: {
          int hits = 0;
          std::string ids;
          for (const auto& [id, row] : state.rows) {
            hits += row.hits;
            ids += std::to_string(id) + ",";
          }
          expect("walk", http.Get("/walk.asp?owner=" + std::to_string(t)),
                 "rows=" + std::to_string(state.rows.size()) + " hits=" + std::to_string(hits) + "|" + ids);
          break;
        }
        case 2: {
          const int id = t * 1000 + (i / 4) % kOwnRows;
          Row& row = state.rows[id];
          ++row.hits;
          row.note = "client " + std::to_string(t) + " request " + std::to_string(i);
          expect("bump", http.Post("/edit.asp", httplib::Params{{"action", "bump"}, {"id", std::to_string(id)},
                                                                {"note", row.note}}),
                 "bump " + std::to_string(id) + ": " + std::to_string(row.hits));
          break;
        }
        default: {
          if ((i / 4) % 2 == 0) {
            const int id = next_insert++;
            state.rows[id] = Row{t, 7, "new"};
            inserted.push_back(id);
            expect("insert",
                   http.Post("/edit.asp", httplib::Params{{"action", "insert"}, {"id", std::to_string(id)},
                                                          {"owner", std::to_string(t)}, {"hits", "7"},
                                                          {"note", "new"}}),
                   "insert " + std::to_string(id) + ": 7");
          } else {
            const int id = inserted.front();
            inserted.erase(inserted.begin());
            state.rows.erase(id);
            expect("delete", http.Post("/edit.asp", httplib::Params{{"action", "delete"}, {"id", std::to_string(id)}}),
                   "delete " + std::to_string(id) + ": gone");
          }
          break;
        }
      }
      ++state.served;
      if (++done % 50 == 0) on_progress();
    }
  }

  quill::test::TestServerSettings settings_;
  asp::test::TempSite site_{"soak"};
  SqlClient db_;
  long requests_ = 0;
  int clients_ = 4;
  long slack_kb_ = 2048;
  pid_t pid_ = -1;
  std::string log_;
  std::vector<ClientState> states_;
  std::mutex list_mutex_;
  std::string list_body_;
};

TEST_F(Soak, ThePageServerServesThousandsOfRequestsWithoutGrowingOrLeaking) {
  const int port = StartServer();
  ASSERT_GT(port, 0);
  const auto started = std::chrono::steady_clock::now();
  std::atomic<int> done{0};
  // Memory is sampled once a fifth of the requests (at least 200) warmed
  // the server up, and at the end.
  const int warm_up = static_cast<int>(std::min<long>(requests_, std::max<long>(200, requests_ / 5)));
  std::atomic<long> warm_kb{-1};
  std::atomic<long> peak_kb{0};
  const pid_t server = pid_;
  // VmRSS at every tenth of the run, for the figures.
  std::mutex samples_mutex;
  std::vector<std::pair<int, long>> samples;
  const int step = std::max<int>(50, static_cast<int>(requests_ / 10) / 50 * 50);
  auto progress = [&] {
    const long kb = MemoryKb("VmRSS", server);
    if (done % step == 0) {
      std::lock_guard<std::mutex> lock(samples_mutex);
      samples.emplace_back(done.load(), kb);
    }
    long peak = peak_kb.load();
    while (kb > peak && !peak_kb.compare_exchange_weak(peak, kb)) {
    }
    long unset = -1;
    if (done >= warm_up) warm_kb.compare_exchange_strong(unset, kb);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < clients_; ++t) {
    const int count = static_cast<int>(requests_ / clients_ + (t < requests_ % clients_ ? 1 : 0));
    threads.emplace_back([&, t, count] { Client(port, t, count, done, progress); });
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const long end_kb = MemoryKb("VmRSS", server);

  int served = 0;
  for (const ClientState& s : states_) {
    served += s.served;
    for (const std::string& e : s.errors) ADD_FAILURE() << e;
  }
  EXPECT_EQ(served, requests_);
  ASSERT_GT(warm_kb.load(), 0);
  const long growth = end_kb - warm_kb.load();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers' quarantine and shadow memory grow with every allocation,
  // so resident memory says nothing about leaks there; the leak checker does.
  (void)growth;
#else
  EXPECT_LE(growth, slack_kb_) << "VmRSS grew from " << warm_kb << " kB to " << end_kb << " kB";
#endif

  // The whole database against what the clients wrote.
  std::string expected;
  std::map<int, Row> all;
  for (const ClientState& s : states_) all.insert(s.rows.begin(), s.rows.end());
  for (const auto& [id, row] : all) {
    expected += std::to_string(id) + "|" + std::to_string(row.owner) + "|" + std::to_string(row.hits) + "|" +
                (row.note.empty() ? "NULL" : row.note) + ";";
  }
  EXPECT_EQ(db_.Sql("select id, owner, hits, note from soak_items order by id"), expected);
  int quantities = 0;
  for (int c = 1; c <= kCustomers; ++c) {
    for (int o = 0; o < kOrdersEach; ++o) quantities += o + c;
  }
  EXPECT_EQ(db_.Sql("select count(*), sum(qty) from soak_orders"),
            std::to_string(kCustomers * kOrdersEach) + "|" + std::to_string(quantities) + ";");
  EXPECT_EQ(db_.Sql("select count(*) from soak_customers"), std::to_string(kCustomers) + ";");

  // Nothing alive once the server has stopped serving.
  const int status = StopServer();
  const std::string log = ReadWholeFile(log_);
  EXPECT_EQ(status, 0) << log.substr(log.size() > 6000 ? log.size() - 6000 : 0);
  EXPECT_NE(log.find("Quill.so: DllCanUnloadNow S_OK (no live objects)"), std::string::npos) << log.substr(
      log.size() > 2000 ? log.size() - 2000 : 0);
  EXPECT_NE(log.find("quill-asp: live host objects: 0\n"), std::string::npos);
  const std::regex request_line("(GET|POST) \\S+ (\\d+).*");
  std::istringstream lines(log);
  int logged = 0;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, request_line)) continue;
    ++logged;
    EXPECT_EQ(m[2], "200") << line;
  }
  EXPECT_EQ(logged, served);

  std::printf("soak: %d requests from %d clients in %.1f s (%.0f requests/s)\n", served, clients_, seconds,
              served / seconds);
  std::printf("soak: server VmRSS %ld kB after %d requests, %ld kB at the end (growth %ld kB, peak %ld kB)\n",
              warm_kb.load(), warm_up, end_kb, growth, peak_kb.load());
  std::string trace;
  for (const auto& [n, kb] : samples) trace += " " + std::to_string(n) + ":" + std::to_string(kb);
  std::printf("soak: VmRSS kB by requests done:%s\n", trace.c_str());
  std::printf("soak: database as expected: %s; live objects at shutdown: none reported\n",
              HasFailure() ? "see failures" : "yes");
}

}  // namespace
}  // namespace quill::test
