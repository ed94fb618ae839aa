// Opening a large result through TMySQLDataset against a plain loop that
// copies every value into vectors of optional strings through the same
// client binding, on the private test server.
//
//   eval "$(scripts/test-server start)"; build/bin/dataset_open_bench [rows]
//
// It (re)creates and fills the table bench_rows (10 text columns, 27 bytes
// per cell on average) in the tests' database, then prints, each the best
// of several runs: both open times and their ratio, the memory the cached
// rows take against the budget of text bytes + 10 bytes per cell (and what
// the reference's vectors take), and the time to walk every row reading
// every field as text against the open.
//
// Times are given as wall time and as this process's CPU time. On one
// machine the wall time of both openings is the time the server takes to
// stream the rows (reading them without keeping them takes as long), so the
// client's own cost, which the dataset controls, shows in the CPU time; the
// ratios are judged on it.
//
// Last, it opens a 20-row copy of the table 2000 times, as pages do, and
// prints the time and the statements the server received per open.
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mysql_dataset/mysql_dataset.h"
#include "mysql_server/mysql_client.h"
#include "bench_server.h"
#include "mysql_server/mysql_server.h"

namespace {

using quill::MySQLHandle;
using quill::MySQLResult;
using Clock = std::chrono::steady_clock;

constexpr int kColumns = 10;
constexpr int kRuns = 3;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// CPU time of this process: the client's own work, without the server's.
double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

void Run(MySQLHandle* handle, const std::string& sql) {
  if (!quill::ClientRealQuery(handle, sql)) {
    std::fprintf(stderr, "%s: %s\n", sql.substr(0, 60).c_str(), quill::ClientError(handle).c_str());
    std::exit(1);
  }
  MySQLResult drop = quill::ClientUseResult(handle);
}

// Fills the table; returns the number of text bytes stored.
size_t Fill(MySQLHandle* handle, int rows) {
  Run(handle, "drop table if exists bench_rows");
  std::string create = "create table bench_rows (";
  for (int c = 0; c < kColumns; ++c) {
    create += (c ? ", c" : "c") + std::to_string(c) + " varchar(64)";
  }
  Run(handle, create + ")");
  size_t text_bytes = 0;
  uint32_t seed = 12345;
  const int batch = 1000;
  for (int first = 0; first < rows; first += batch) {
    std::string sql = "insert into bench_rows values ";
    for (int r = first; r < std::min(rows, first + batch); ++r) {
      sql += r == first ? "(" : ",(";
      for (int c = 0; c < kColumns; ++c) {
        seed = seed * 1103515245u + 12345u;
        const int length = 17 + static_cast<int>((seed >> 16) % 21);  // 17..37, 27 on average
        std::string cell(static_cast<size_t>(length), static_cast<char>('a' + (r + c) % 26));
        text_bytes += cell.size();
        sql += (c ? ",'" : "'") + cell + "'";
      }
      sql += ")";
    }
    Run(handle, sql);
  }
  return text_bytes;
}

struct Figures {
  double seconds = 1e30;
  double cpu = 1e30;
  size_t bytes = 0;
};

Figures Reference(MySQLHandle* handle) {
  Figures best;
  for (int run = 0; run < kRuns; ++run) {
    const size_t heap_before = HeapInUse();
    const auto start = Clock::now();
    const double cpu_start = CpuNow();
    std::vector<std::vector<std::optional<std::string>>> rows;
    if (!quill::ClientRealQuery(handle, "select * from bench_rows")) std::exit(1);
    MySQLResult result = quill::ClientUseResult(handle);
    const unsigned n = result.FieldCount();
    while (result.Next()) {
      std::vector<std::optional<std::string>> row(n);
      for (unsigned i = 0; i < n; ++i) {
        if (!result.IsNull(i)) row[i].emplace(result.Text(i));
      }
      rows.push_back(std::move(row));
    }
    result.Free();
    const double seconds = Seconds(start);
    best.cpu = std::min(best.cpu, CpuNow() - cpu_start);
    const size_t bytes = HeapInUse() - heap_before;
    if (seconds < best.seconds) best.seconds = seconds;
    best.bytes = bytes;
  }
  return best;
}

// Reading the rows without keeping them: the floor both openings stand on.
Figures FetchOnly(MySQLHandle* handle) {
  Figures best;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = Clock::now();
    const double cpu_start = CpuNow();
    if (!quill::ClientRealQuery(handle, "select * from bench_rows")) std::exit(1);
    MySQLResult result = quill::ClientUseResult(handle);
    size_t bytes = 0;
    while (result.Next()) bytes += result.Lengths()[0];
    result.Free();
    best.seconds = std::min(best.seconds, Seconds(start));
    best.cpu = std::min(best.cpu, CpuNow() - cpu_start);
    if (bytes == 0) std::exit(1);
  }
  return best;
}

// The server's count of statements this session sent.
long Questions(MySQLHandle* handle) {
  if (!quill::ClientRealQuery(handle, "show session status like 'Questions'")) std::exit(1);
  MySQLResult result = quill::ClientUseResult(handle);
  if (!result.Next()) std::exit(1);
  return std::atol(std::string(result.Text(1)).c_str());
}

// Opening a small table again and again, as pages do: per open the wall and
// CPU time, and the statements the server received (the query, and what
// describing its columns costs).
void SmallOpens(quill::TMySQLServer& server) {
  constexpr int kOpens = 2000;
  Run(server.Handle(), "drop table if exists bench_small");
  Run(server.Handle(), "create table bench_small as select * from bench_rows limit 20");
  const long questions_before = Questions(server.Handle());
  const auto start = Clock::now();
  const double cpu_start = CpuNow();
  for (int i = 0; i < kOpens; ++i) {
    quill::TMySQLDataset ds;
    ds.SetServer(&server);
    ds.SQL().SetText("select * from bench_small");
    ds.OpenDataset();
    if (ds.RowCount() != 20) std::exit(1);
  }
  const double seconds = Seconds(start);
  const double cpu = CpuNow() - cpu_start;
  // The status query itself is one of them.
  const long statements = Questions(server.Handle()) - questions_before - 1;
  std::printf("small opens: %d opens of 20 rows, %.1f us wall and %.1f us cpu per open, "
              "%.2f statements per open\n",
              kOpens, seconds / kOpens * 1e6, cpu / kOpens * 1e6,
              static_cast<double>(statements) / kOpens);
  Run(server.Handle(), "drop table if exists bench_small");
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  quill::TMySQLServer server;
  bench::ConnectTestServer(server);

  const size_t text_bytes = Fill(server.Handle(), rows);
  const size_t cells = static_cast<size_t>(rows) * kColumns;
  std::printf("rows %d, cells %zu, text bytes %zu (%.1f per cell)\n", rows, cells, text_bytes,
              static_cast<double>(text_bytes) / static_cast<double>(cells));

  const Figures reference = Reference(server.Handle());
  const Figures fetch_only = FetchOnly(server.Handle());

  Figures open;
  double walk_seconds = 1e30;
  double walk_cpu = 1e30;
  double walk_copy_cpu = 1e30;
  size_t checksum = 0;
  for (int run = 0; run < kRuns; ++run) {
    const size_t heap_before = HeapInUse();
    auto ds = std::make_unique<quill::TMySQLDataset>();
    ds->SetServer(&server);
    ds->SQL().SetText("select * from bench_rows");
    const auto start = Clock::now();
    const double cpu_start = CpuNow();
    ds->OpenDataset();
    const double seconds = Seconds(start);
    open.cpu = std::min(open.cpu, CpuNow() - cpu_start);
    if (seconds < open.seconds) open.seconds = seconds;
    open.bytes = ds->Rows()->MemoryBytes();
    const size_t heap = HeapInUse() - heap_before;

    std::string text;  // one buffer for every value: no allocation per cell
    const auto walk_start = Clock::now();
    const double walk_cpu_start = CpuNow();
    size_t total = 0;
    const int fields = ds->FieldCount();
    for (ds->MoveFirst(); !ds->Eof(); ds->MoveNext()) {
      for (int i = 0; i < fields; ++i) {
        ds->Field(i).ReadAsString(&text);
        total += text.size();
      }
    }
    walk_seconds = std::min(walk_seconds, Seconds(walk_start));
    walk_cpu = std::min(walk_cpu, CpuNow() - walk_cpu_start);
    checksum = total;

    // The same walk through AsString, which makes a string per value.
    const double copy_cpu_start = CpuNow();
    for (ds->MoveFirst(); !ds->Eof(); ds->MoveNext()) {
      for (int i = 0; i < fields; ++i) total += ds->Field(i).AsString().size();
    }
    walk_copy_cpu = std::min(walk_copy_cpu, CpuNow() - copy_cpu_start);
    if (run == 0) {
      std::printf("dataset heap growth at open: %zu bytes (row cache %zu)\n", heap, open.bytes);
    }
  }
  if (checksum != text_bytes) {
    std::fprintf(stderr, "walk read %zu bytes, expected %zu\n", checksum, text_bytes);
    return 1;
  }

  const size_t budget = text_bytes + 10 * cells;
  std::printf("open, wall: dataset %.3f s, reference %.3f s, ratio %.2f; reading the rows "
              "alone takes %.3f s\n",
              open.seconds, reference.seconds, open.seconds / reference.seconds,
              fetch_only.seconds);
  std::printf("open, cpu:  dataset %.3f s, reference %.3f s, ratio %.2f (target <= 0.80); "
              "reading the rows alone takes %.3f s\n",
              open.cpu, reference.cpu, open.cpu / reference.cpu, fetch_only.cpu);
  std::printf("memory:     row cache %zu bytes, budget %zu, ratio %.2f (target <= 1.00); "
              "reference %zu bytes (%.2f of budget)\n",
              open.bytes, budget, static_cast<double>(open.bytes) / static_cast<double>(budget),
              reference.bytes, static_cast<double>(reference.bytes) / static_cast<double>(budget));
  std::printf("walk:       %.3f s wall, %.3f s cpu reading every field as text (ReadAsString); "
              "ratio to the open %.2f wall, %.2f cpu (target < 1.00)\n",
              walk_seconds, walk_cpu, walk_seconds / open.seconds, walk_cpu / open.cpu);
  std::printf("            (through AsString, a new string per value: %.3f s cpu, ratio %.2f)\n",
              walk_copy_cpu, walk_copy_cpu / open.cpu);
  SmallOpens(server);
  Run(server.Handle(), "drop table if exists bench_rows");
  return 0;
}
