// A MySQL dataset fed from a prepared result instead of a server, for the
// parts that only need rows: column description, type mapping, values,
// blobs, bookmarks, macro expansion, and editing with the statements it
// would send recorded instead of sent.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mysql_dataset/mysql_dataset.h"

namespace quill::test {

using Cells = std::vector<std::optional<std::string>>;

// A column description as the binding reports it. Text columns use
// utf8mb4 (4 bytes per character) unless `charset` says otherwise.
inline MySQLFieldDesc Col(std::string name, MySQLType type, unsigned flags = 0,
                          uint64_t length = 11, std::string table = "t",
                          unsigned charset = 45) {
  MySQLFieldDesc d;
  d.Name = name;
  d.OrgName = std::move(name);
  d.Table = table;
  d.OrgTable = std::move(table);
  d.Type = type;
  d.Flags = flags;
  d.Length = length;
  d.CharsetNr = charset;
  d.MaxBytesPerChar = charset == kBinaryCharsetNr ? 1 : 4;
  return d;
}

class FakeResult : public TResultReader {
 public:
  std::vector<MySQLFieldDesc> fields;
  std::vector<Cells> rows;

  std::vector<MySQLFieldDesc> Fields() override { return fields; }
  bool Next() override {
    if (at_ >= rows.size()) return false;
    const Cells& row = rows[at_++];
    values_.clear();
    lengths_.clear();
    for (const auto& cell : row) {
      values_.push_back(cell ? cell->data() : nullptr);
      lengths_.push_back(cell ? static_cast<unsigned long>(cell->size()) : 0);
    }
    return true;
  }
  const char* const* Values() const override { return values_.data(); }
  const unsigned long* Lengths() const override { return lengths_.data(); }
  void Rewind() { at_ = 0; }

 private:
  size_t at_ = 0;
  std::vector<const char*> values_;
  std::vector<unsigned long> lengths_;
};

class TFakeMySQLDataset : public TMySQLDataset {
 public:
  FakeResult result;
  int statements_run = 0;
  // Every statement that reached the server seam, in order.
  std::vector<std::string> sent;

  ~TFakeMySQLDataset() override { CloseForDestruction(); }

  // Opens over `fields` and `rows`.
  void OpenOver(std::vector<MySQLFieldDesc> fields, std::vector<Cells> rows) {
    result.fields = std::move(fields);
    result.rows = std::move(rows);
    OpenDataset();
  }
  // Runs the layer's window reload (what a refresh does after a requery).
  void Reload() { ReloadWindow(); }
  // Makes persistent fields from the result before opening, so that the
  // dataset does not use default fields.
  void MakePersistentFields(std::vector<MySQLFieldDesc> fields, std::vector<Cells> rows) {
    result.fields = std::move(fields);
    result.rows = std::move(rows);
    BuildFieldDefs();
    CreateFields();
  }

 protected:
  void PrepareResult() override {
    if (Rows() == nullptr) {
      result.Rewind();
      LoadResult(result);
    }
  }
  void ReleaseResultLink() override {}
  bool RunTemplate(const TStringList& lines) override {
    ++statements_run;
    return TMySQLDataset::RunTemplate(lines);
  }
  void SendStatement(const std::string& sql, bool) override { sent.push_back(sql); }
};

}  // namespace quill::test
