// Fuzzes the SQL macro engine of the MySQL dataset: TMySQLDataset::ExpandSQL
// with a filter and a master condition, the "$" and field macros of the
// current and the old row, the macro names collected from the templates, and
// the statements the editing hooks send. The datasets are fed from prepared
// results (tests/unit/mysql_dataset/fake_result.h): no server is contacted,
// and what would be sent is recorded instead.
//
// The input is split at 0x01 bytes into: options, SQL, filter, master
// fields, macro delimiters, FieldName, a macro value, a master value, a
// detail value, an edited value. Options, byte 0:
//   bit 0  Filtered          bit 4  a connection of a current server version
//   bit 1  follow the master bit 5  ... of an old one (3.21) instead
//   bit 2  macros off        bit 6  CachedUpdates (statements held back)
//   bit 3  set MacroDel      bit 7  edit, insert, cancel and delete rows
// byte 1: bit 0 persistent fields; bits 1-2 how far the master moves.
//
// Expansion never fails here (the one macro that may, $RELOAD, finds a
// connection whose login is cancelled and does nothing), is the same when
// repeated, and without a condition does not depend on applying it. A
// cancelled edit gives the row back as it was; a closed master narrows
// nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "fake_result.h"
#include "mysql_dataset/data_source.h"

namespace {

using quill::MySQLType;
using quill::TStringList;
using quill::Variant;
using quill::test::Cells;
using quill::test::Col;
using quill::test::TFakeMySQLDataset;

void Check(bool ok) {
  if (!ok) std::abort();
}

// A connection that never connects but has a server's version, so that the
// version rules (quoting, final ";", insert ids) apply. Its login prompt is
// on and the user (the default UI services) cancels it, so nothing that
// asks it to connect ever reaches the network.
class VersionedServer : public quill::TMySQLServer {
 public:
  explicit VersionedServer(const std::string& version) {
    SetVersionForTesting(version);
    SetHost("127.0.0.1");
    SetPort(9);
  }
};

std::vector<std::string> SplitParts(std::string_view input) {
  std::vector<std::string> parts(1);
  for (const char c : input) {
    if (c == '\x01') {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  parts.resize(std::max<size_t>(parts.size(), 10));
  return parts;
}

// Every field of the current row as text (none for NULL).
std::vector<std::optional<std::string>> RowValues(TFakeMySQLDataset& ds) {
  std::vector<std::optional<std::string>> values;
  for (int i = 0; i < ds.FieldCount(); ++i) {
    quill::TField& f = ds.Field(i);
    values.push_back(f.IsNull() ? std::nullopt : std::optional<std::string>(f.AsString()));
  }
  return values;
}

// Assigns `text` to `field`; a value the field refuses is a clear error.
void Assign(TFakeMySQLDataset& ds, const char* field, const std::string& text) {
  try {
    ds.RequireField(field).SetAsString(text);
  } catch (const quill::Exception&) {
  }
}

void CheckExpansion(TFakeMySQLDataset& ds, const std::string& sql) {
  const std::string plain = ds.ExpandSQL(sql, false);
  const std::string applied = ds.ExpandSQL(sql, true);
  Check(ds.ExpandSQL(sql, true) == applied);
  const std::string condition = ds.BuildCondition();
  if (condition.empty()) Check(applied == plain);
  if (ds.Filtered() && !ds.Filter().empty()) Check(condition.find("(" + ds.Filter() + ")") != std::string::npos);
}

const char* const kDollarMacros[] = {
    "$DATABASENAME", "$TABLENAME", "$FIELDNAME", "$FIELDS", "$WHERE", "$RELOAD",
    "PROMPT$a$Label$default$*", "$MODIFIED$FIELDS&VALUES", "$UNMODIFIED$FIELDS&VALUES",
    "$MODIFIED$FIELD$NAMES", "$UNMODIFIED$FIELD$NAMES", "$MODIFIED$FIELD$VALUES",
    "$UNMODIFIED$FIELD$VALUES", "$OLD$FIELDS&VALUES", "$PRIMARYFIELDS&VALUES",
    "$UNIQUEFIELDS&VALUES", "$MULTIFIELDS&VALUES", "$FIELDNAMES&VALUES",
    "$FIELDNAMES&VALUES$COMMA", "$FIELDNAME$VALUE", "note", "OLD$note", "$OLD$id", "A"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  const std::vector<std::string> parts =
      SplitParts(std::string_view(reinterpret_cast<const char*>(data), size));
  const uint8_t opt0 = parts[0].size() > 0 ? static_cast<uint8_t>(parts[0][0]) : 0;
  const uint8_t opt1 = parts[0].size() > 1 ? static_cast<uint8_t>(parts[0][1]) : 0;
  const std::string& sql = parts[1];

  std::unique_ptr<VersionedServer> server;
  if (opt0 & 0x30) server = std::make_unique<VersionedServer>((opt0 & 0x20) ? "3.21.33" : "10.11.6-MariaDB");

  TFakeMySQLDataset master;
  master.OpenOver({Col("id", MySQLType::Long), Col("name", MySQLType::VarString, 0, 160)},
                  {{"5", "Smith"}, {"6", parts[7]}, {std::nullopt, "x"}});
  quill::TDataSource source;
  source.SetDataSet(&master);

  {
    TFakeMySQLDataset ds;
    if (server) ds.SetServer(server.get());
    ds.SetDatabaseName("shop");
    ds.SetTableName("order lines");
    ds.SetFieldName(parts[5]);
    if (opt0 & 0x08) ds.SetMacroDel(parts[4]);
    ds.SetMacrosEnabled((opt0 & 0x04) == 0);
    ds.SQL().SetText(sql);
    ds.SetFilter(parts[2]);
    ds.SetFiltered((opt0 & 0x01) != 0);
    ds.SetMasterFields(parts[3]);
    if (opt0 & 0x02) ds.SetMasterSource(&source);
    constexpr unsigned kPriAuto = quill::kNotNullFlag | quill::kPriKeyFlag | quill::kAutoIncrementFlag;
    std::vector<quill::MySQLFieldDesc> columns = {
        Col("id", MySQLType::Long, kPriAuto), Col("cust", MySQLType::VarString, 0, 160),
        Col("price", MySQLType::NewDecimal, 0, 10), Col("note", MySQLType::VarString, 0, 400),
        Col("data", MySQLType::Blob, quill::kBlobFlag | quill::kBinaryFlag, 255, "t", quill::kBinaryCharsetNr)};
    std::vector<Cells> rows = {{"7", "5", "3.25", parts[8], parts[8]},
                               {"8", "6", std::nullopt, std::nullopt, std::nullopt},
                               {"9", parts[8], "1", "", ""}};
    if (opt1 & 1) {
      ds.MakePersistentFields(columns, rows);
      ds.OpenDataset();
    } else {
      ds.OpenOver(columns, rows);
    }
    ds.SetCachedUpdates((opt0 & 0x40) != 0);
    for (int i = 0; i < ds.Macros().Count(); ++i) {
      quill::TMySQLMacro& macro = ds.Macros().Macro(i);
      switch (i % 3) {
        case 0: macro.Value = Variant(parts[6]); break;
        case 1: macro.Value = Variant(int32_t{i}); break;
        default: macro.Value = Variant::Null(); break;
      }
    }

    CheckExpansion(ds, sql);
    for (const char* name : kDollarMacros) (void)ds.MacroValue(name);
    (void)ds.MacroValue(sql);

    // The master moves, and the detail re-reads its rows for it.
    for (int n = (opt1 >> 1) & 3; n > 0 && !master.Eof(); --n) master.MoveNext();
    CheckExpansion(ds, sql);

    if (opt0 & 0x80) {
      // A cancelled edit leaves the row as it was.
      ds.MoveFirst();
      const auto before = RowValues(ds);
      ds.BeginEdit();
      Assign(ds, "note", parts[9]);
      Assign(ds, "price", parts[9]);
      Assign(ds, "data", parts[9]);
      CheckExpansion(ds, sql);
      for (const char* name : kDollarMacros) (void)ds.MacroValue(name);
      ds.CancelRecord();
      Check(RowValues(ds) == before);

      // The hostile text as every editing template. A row the dataset
      // refuses to post is a clear error, and the dataset stays usable.
      ds.SQLUpdate().SetText(sql);
      ds.SQLInsert().SetText(sql + ";\n" + ds.SQLInsert().Text());
      try {
        ds.BeginEdit();
        Assign(ds, "cust", parts[9]);
        ds.PostRecord();
        ds.BeginAppend();
        Assign(ds, "note", parts[9]);
        Assign(ds, "data", parts[9]);
        ds.PostRecord();
        if (!ds.IsEmpty()) ds.DeleteRecord();
        TStringList lines;
        lines.SetText(sql);
        (void)ds.ExecStatements(lines, ds.MacrosEnabled(), ds.CachedUpdates());
        ds.ApplyPending();
      } catch (const quill::EDatabaseError&) {
        if (ds.State() == quill::dsEdit || ds.State() == quill::dsInsert) ds.CancelRecord();
      }
    }

    // A closed master narrows nothing.
    master.CloseDataset();
    const std::string condition = ds.BuildCondition();
    Check(condition == (ds.Filtered() && !ds.Filter().empty() ? "(" + ds.Filter() + ")" : ""));
    CheckExpansion(ds, sql);
    ds.CloseDataset();
    CheckExpansion(ds, sql);
  }
  return 0;
}
