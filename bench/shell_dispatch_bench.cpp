// The cost of reaching a dataset through its shell: a loop of `fieldvalues`
// and `movenext` over every row, called through IDispatch with DISPIDs
// looked up once, against the same loop in direct C++ calls.
//
//   eval "$(scripts/test-server start)"; build/bin/shell_dispatch_bench [rows]
//
// It (re)creates the table bench_dispatch (10 text columns) in the tests'
// database, opens it once, and times each loop over the cached rows, best of
// several runs. A known DISPID is an index into the shell's name table, so
// the shell's overhead is the argument and result conversion and the lock,
// not a name search; the target is at most 3 times the direct loop.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "activex_shell/activex_shell.h"
#include "base/utf8.h"
#include "mysql_dataset/mysql_dataset.h"
#include "bench_server.h"
#include "mysql_server/mysql_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kColumns = 10;
constexpr int kRuns = 5;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

std::string FieldList() {
  std::string names;
  for (int c = 0; c < kColumns; ++c) names += (c ? ";c" : "c") + std::to_string(c);
  return names;
}

void Fill(quill::TMySQLServer& server, int rows) {
  server.RunStatement("drop table if exists bench_dispatch");
  std::string create = "create table bench_dispatch (id int primary key";
  std::string select = "select seq";
  for (int c = 0; c < kColumns; ++c) {
    create += ", c" + std::to_string(c) + " varchar(40)";
    select += ", concat('value ', seq, ' of column " + std::to_string(c) + "')";
  }
  server.RunStatement(create + ")");
  server.RunStatement("insert into bench_dispatch " + select + " from seq_1_to_" +
                      std::to_string(rows));
}

// The direct loop: what the shell's verbs do, without the shell.
size_t DirectLoop(quill::TMySQLDataset& ds, const std::string& names) {
  size_t items = 0;
  ds.MoveFirst();
  while (!ds.Eof()) {
    quill::VariantArray values;
    size_t start = 0;
    while (start <= names.size()) {
      size_t end = names.find(';', start);
      if (end == std::string::npos) end = names.size();
      values.Items.push_back(ds.RequireField(names.substr(start, end - start)).AsVariant());
      start = end + 1;
    }
    items += values.Items.size();
    ds.MoveNext();
  }
  return items;
}

DISPID Lookup(IDispatch* d, const char16_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) {
    std::fprintf(stderr, "name not found\n");
    std::exit(1);
  }
  return id;
}

// The same loop as a script host runs it.
size_t DispatchLoop(IDispatch* d, const std::string& names) {
  const DISPID first = Lookup(d, u"first");
  const DISPID eof = Lookup(d, u"eof");
  const DISPID fieldvalues = Lookup(d, u"fieldvalues");
  const DISPID movenext = Lookup(d, u"movenext");
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BSTR;
  std::u16string wide = quill::Utf8ToUtf16(names);
  arg.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  DISPPARAMS one{&arg, nullptr, 1, 0};
  VARIANT result;
  VariantInit(&result);
  size_t items = 0;
  d->Invoke(first, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
  VariantClear(&result);
  for (;;) {
    d->Invoke(eof, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    bool at_end = result.vt == VT_BOOL && result.boolVal != 0;
    VariantClear(&result);
    if (at_end) break;
    d->Invoke(fieldvalues, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &one, &result,
              nullptr, nullptr);
    if (result.vt & VT_ARRAY) {
      LONG lo = 0, hi = -1;
      SafeArrayGetLBound(result.parray, 1, &lo);
      SafeArrayGetUBound(result.parray, 1, &hi);
      items += static_cast<size_t>(hi - lo + 1);
    }
    VariantClear(&result);
    d->Invoke(movenext, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    VariantClear(&result);
  }
  VariantClear(&arg);
  return items;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  quill::TMySQLServer server;
  bench::ConnectTestServer(server);
  Fill(server, rows);

  quill::TMySQLDataset ds;
  ds.SetServer(&server);
  ds.SetTableName("bench_dispatch");
  ds.OpenDataset();
  const std::string names = FieldList();

  VARIANT shell = quill::shell_variant(&ds);
  IDispatch* d = shell.pdispVal;

  double direct = 1e30, dispatch = 1e30;
  size_t direct_items = 0, dispatch_items = 0;
  for (int run = 0; run < kRuns; ++run) {
    Clock::time_point t0 = Clock::now();
    direct_items = DirectLoop(ds, names);
    direct = std::min(direct, Seconds(t0));
    t0 = Clock::now();
    dispatch_items = DispatchLoop(d, names);
    dispatch = std::min(dispatch, Seconds(t0));
  }
  VariantClear(&shell);
  ds.CloseDataset();
  server.RunStatement("drop table if exists bench_dispatch");

  std::printf("rows %d, values read: direct %zu, through IDispatch %zu\n", rows, direct_items,
              dispatch_items);
  std::printf("direct loop      %.3f s\n", direct);
  std::printf("IDispatch loop   %.3f s\n", dispatch);
  std::printf("ratio            %.2f (target at most 3)\n", dispatch / direct);
  return direct_items == dispatch_items ? 0 : 1;
}
