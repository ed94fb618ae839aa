// ContentTable with the default templates over a large table, called
// through IDispatch on Quill.so, against a reference program that fetches
// the same rows with the client library, copies them and concatenates the
// same HTML by hand.
//
//   eval "$(scripts/test-server start)"; build/bin/content_table_bench [rows]
//
// It (re)creates the table bench_content_rows (100,000 rows by default;
// integer, text, DECIMAL, date and date-time columns, some mostly NULL; the
// reference writes the dates in the regional form the display texts use,
// so both sides must produce the very same page), then prints, each the
// best of several runs, wall and CPU time of:
//   reference      query, fetch, copy every value (dates turned into their
//                  display text), concatenate the HTML
//   render         ContentTable on the open dataset (the rows are cached
//                  when the dataset opens, which is how pages use it)
//   open+render    ContentTable on a closed dataset: it opens (fetching and
//                  caching every row) and renders
//   json           ContentJSON on the open dataset, the same rows as one
//                  JSON array (its ratio is to render: per row it should
//                  cost what ContentTable costs)
//   mariadb --html the command-line client writing the same query as HTML
//                  over the server's socket (QUILL_TEST_SOCKET; skipped
//                  without it or without the client); its CPU time is the
//                  child's, and its page differs in form (it is no check)
// and the ratios to the reference (and of open+render to the client). The
// outputs of reference and ContentTable are compared byte for byte.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mysql_server/mysql_client.h"
#include "support/quill_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using quill::test::Arg;
using quill::test::Dispatch;
using quill::test::Outcome;

constexpr int kRuns = 5;

std::string Env(const char* name, const char* fallback = "") {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Figures {
  double wall = 1e30;
  double cpu = 1e30;
  void Take(Clock::time_point start, double cpu_start) {
    wall = std::min(wall, std::chrono::duration<double>(Clock::now() - start).count());
    cpu = std::min(cpu, CpuNow() - cpu_start);
  }
};

void Run(quill::MySQLHandle* handle, const std::string& sql) {
  if (!quill::ClientRealQuery(handle, sql)) {
    std::fprintf(stderr, "%s: %s\n", sql.substr(0, 60).c_str(), quill::ClientError(handle).c_str());
    std::exit(1);
  }
  quill::MySQLResult drop = quill::ClientUseResult(handle);
}

void Fill(quill::MySQLHandle* handle, int rows) {
  Run(handle, "drop table if exists bench_content_rows");
  Run(handle,
      "create table bench_content_rows (id int primary key, name varchar(40), city varchar(40), "
      "quantity int, code varchar(16), note varchar(60), price decimal(10,2), born date, "
      "changed datetime, shipped date, remark varchar(40))");
  uint32_t seed = 4711;
  const char* const cities[] = {"London", "Paris", "Zürich", "New York", "Kyoto", "Lima"};
  for (int first = 0; first < rows; first += 1000) {
    std::string sql = "insert into bench_content_rows values ";
    for (int r = first; r < std::min(rows, first + 1000); ++r) {
      seed = seed * 1103515245u + 12345u;
      const unsigned x = seed >> 8;
      sql += r == first ? "(" : ",(";
      sql += std::to_string(r + 1) + ",'customer " + std::to_string(x % 99991) + "','" +
             cities[x % 6] + "'," + std::to_string(x % 1000) + ",'C-" + std::to_string(x % 7919) +
             "'," + (x % 5 == 0 ? std::string("NULL") : "'note " + std::string(x % 30, 'n') + "'");
      // No trailing zero in the cents: the general float form and the
      // column's own text agree on these.
      const unsigned cents = (x % 999999) / 10 * 10 + 1 + x % 9;
      char more[160];
      std::snprintf(more, sizeof more,
                    ",%u.%02u,'%04u-%02u-%02u','%04u-%02u-%02u %02u:%02u:%02u',%s,%s", cents / 100,
                    cents % 100, 1950 + x % 60, 1 + x % 12, 1 + x % 28, 1990 + (x >> 3) % 40,
                    1 + (x >> 2) % 12, 1 + (x >> 4) % 28, x % 4 == 0 ? 0 : (x >> 5) % 24,
                    x % 4 == 0 ? 0 : (x >> 6) % 60, x % 4 == 0 ? 0 : (x >> 7) % 60,
                    x % 5 < 4 ? "NULL" : "'2024-06-15'", x % 10 < 9 ? "NULL" : "'rare remark'");
      sql += more;
      sql += ")";
    }
    Run(handle, sql);
  }
}

unsigned Digits(std::string_view text, size_t at, size_t count) {
  unsigned value = 0;
  for (size_t i = at; i < at + count && i < text.size(); ++i) value = value * 10 + (text[i] - '0');
  return value;
}

void AppendNumber(std::string& out, unsigned value, size_t min_digits) {
  char digits[10];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n < min_digits) digits[n++] = '0';
  while (n > 0) out += digits[--n];
}

// "yyyy-mm-dd[ hh:mm:ss]" in the regional "m/d/yyyy[ h:nn:ss AM]" form,
// the time left out at midnight.
void AppendDisplayDate(std::string& out, std::string_view text) {
  AppendNumber(out, Digits(text, 5, 2), 1);
  out += '/';
  AppendNumber(out, Digits(text, 8, 2), 1);
  out += '/';
  AppendNumber(out, Digits(text, 0, 4), 4);
  if (text.size() < 19) return;
  const unsigned h = Digits(text, 11, 2), m = Digits(text, 14, 2), s = Digits(text, 17, 2);
  if (h == 0 && m == 0 && s == 0) return;
  out += ' ';
  AppendNumber(out, h % 12 == 0 ? 12 : h % 12, 1);
  out += ':';
  AppendNumber(out, m, 2);
  out += ':';
  AppendNumber(out, s, 2);
  out += h < 12 ? " AM" : " PM";
}

// The reference: fetch, copy, concatenate the same HTML as the default
// templates give.
std::string Reference(quill::MySQLHandle* handle) {
  if (!quill::ClientRealQuery(handle, "select * from bench_content_rows")) std::exit(1);
  quill::MySQLResult result = quill::ClientUseResult(handle);
  const std::vector<quill::MySQLFieldDesc> fields = result.Fields();
  std::vector<std::vector<std::string>> rows;
  while (result.Next()) {
    std::vector<std::string> row(fields.size());
    for (unsigned i = 0; i < fields.size(); ++i) {
      const bool date = fields[i].Type == quill::MySQLType::Date ||
                        fields[i].Type == quill::MySQLType::DateTime;
      if (date && !result.IsNull(i)) {
        AppendDisplayDate(row[i], result.Text(i));
      } else {
        row[i] = std::string(result.Text(i));
      }
    }
    rows.push_back(std::move(row));
  }
  result.Free();
  std::string html = "<table><tr>";
  for (const auto& f : fields) html += "<td>" + f.Name + "</td>";
  html += "</tr>";
  for (const auto& row : rows) {
    html += "<tr>";
    for (const auto& value : row) html += "<td>" + value + "</td>";
    html += "</tr>";
  }
  html += "</table>";
  return html;
}

// Runs the command-line client on the same query with --html, its output
// thrown away; false when there is no socket or no client.
bool RunClient(const std::string& user, const std::string& password, const std::string& db,
               Figures* figures) {
  const std::string socket = Env("QUILL_TEST_SOCKET");
  if (socket.empty()) return false;
  std::vector<std::string> args = {"mariadb", "--html", "--socket=" + socket, "--user=" + user,
                                   "--password=" + password, "--default-character-set=utf8mb4",
                                   "--execute=select * from bench_content_rows", db};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "mariadb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return false;
  }
  figures->wall = std::min(figures->wall, std::chrono::duration<double>(Clock::now() - start).count());
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  figures->cpu = std::min(figures->cpu, cpu);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  if (Env("QUILL_TEST_USER").empty()) {
    std::fprintf(stderr, "no private test server: eval \"$(scripts/test-server start)\" first\n");
    return 2;
  }
  const std::string host = Env("QUILL_TEST_HOST", "127.0.0.1");
  const std::string user = Env("QUILL_TEST_USER");
  const std::string password = Env("QUILL_TEST_PASSWORD");
  const std::string db = Env("QUILL_TEST_DB", "quill_test");
  const int port = std::atoi(Env("QUILL_TEST_PORT", "3306").c_str());

  quill::MySQLHandle* handle = quill::ClientInit();
  quill::ClientSetCharset(handle, "utf8mb4");
  if (!quill::ClientRealConnect(handle, host, user, password, db.c_str(),
                                static_cast<unsigned>(port), nullptr, 0)) {
    std::fprintf(stderr, "connect: %s\n", quill::ClientError(handle).c_str());
    return 1;
  }
  Fill(handle, rows);

  Dispatch q = quill::test::CreateQuill();
  Outcome r = q.Method(u"Connect", {Arg::Str(host), Arg::Str(user), Arg::Str(password),
                                    Arg::I4(port), Arg::Str(db)});
  if (!r.ok()) {
    std::fprintf(stderr, "Connect: %s\n", r.error.c_str());
    return 1;
  }
  Dispatch dataset =
      Dispatch::From(q.Get(u"Dataset", {Arg::Str("rows"), Arg::Str("bench_content_rows")}));
  // The same statement as the default select of the table, given as text so
  // that both sides send exactly one plain query.
  Dispatch::From(dataset.Get(u"SQL")).Put(u"text", Arg::Str("select * from bench_content_rows"));

  Figures reference, render, open_render, json, client;
  bool have_client = true;
  std::string expected, got_render, got_open;
  size_t json_bytes = 0;
  for (int run = 0; run < kRuns; ++run) {
    if (have_client) have_client = RunClient(user, password, db, &client);

    auto start = Clock::now();
    double cpu = CpuNow();
    expected = Reference(handle);
    reference.Take(start, cpu);

    dataset.Method(u"Close");
    start = Clock::now();
    cpu = CpuNow();
    r = q.Get(u"ContentTable", {Arg::Str("rows")});
    open_render.Take(start, cpu);
    if (!r.ok()) {
      std::fprintf(stderr, "ContentTable: %s\n", r.error.c_str());
      return 1;
    }
    got_open = quill::test::BstrText(r.value.var().bstrVal);

    start = Clock::now();
    cpu = CpuNow();
    r = q.Get(u"ContentTable", {Arg::Str("rows")});
    render.Take(start, cpu);
    got_render = quill::test::BstrText(r.value.var().bstrVal);

    start = Clock::now();
    cpu = CpuNow();
    r = q.Get(u"ContentJSON", {Arg::Str("rows")});
    json.Take(start, cpu);
    if (!r.ok()) {
      std::fprintf(stderr, "ContentJSON: %s\n", r.error.c_str());
      return 1;
    }
    json_bytes = SysStringLen(r.value.var().bstrVal);
  }
  quill::ClientClose(handle);

  const bool same = got_render == expected && got_open == expected;
  std::printf("rows %d, page %zu bytes, outputs %s\n", rows, expected.size(),
              same ? "identical" : "DIFFER");
  std::printf("%-12s wall %8.1f ms  cpu %8.1f ms\n", "reference", reference.wall * 1e3,
              reference.cpu * 1e3);
  std::printf("%-12s wall %8.1f ms  cpu %8.1f ms  ratio wall %.2f cpu %.2f\n", "render",
              render.wall * 1e3, render.cpu * 1e3, render.wall / reference.wall,
              render.cpu / reference.cpu);
  std::printf("%-12s wall %8.1f ms  cpu %8.1f ms  ratio wall %.2f cpu %.2f\n", "open+render",
              open_render.wall * 1e3, open_render.cpu * 1e3, open_render.wall / reference.wall,
              open_render.cpu / reference.cpu);
  std::printf("%-12s wall %8.1f ms  cpu %8.1f ms  vs render wall %.2f cpu %.2f (%zu characters)\n",
              "json", json.wall * 1e3, json.cpu * 1e3, json.wall / render.wall, json.cpu / render.cpu,
              json_bytes);
  if (have_client) {
    // The client queries, fetches and writes: open+render is its match.
    std::printf("%-12s wall %8.1f ms  cpu %8.1f ms  open+render/mariadb wall %.2f cpu %.2f\n",
                "mariadb", client.wall * 1e3, client.cpu * 1e3, open_render.wall / client.wall,
                open_render.cpu / client.cpu);
  } else {
    std::printf("mariadb      skipped (no QUILL_TEST_SOCKET or no client)\n");
  }
  return same ? 0 : 1;
}
