// Line, comma-text and name=value handling of TStringList.
#include "base/string_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/errors.h"

namespace quill {

const TClassInfo TStringList::StaticClassInfo{"TStringList", &TObject::StaticClassInfo, {}};

namespace {
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
bool IsBlankOrControl(unsigned char c) { return c <= ' '; }
}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;  // names are mostly written as they are looked for
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool ContainsText(std::string_view text, std::string_view part) {
  const auto same = [](char a, char b) { return LowerAscii(a) == LowerAscii(b); };
  return std::search(text.begin(), text.end(), part.begin(), part.end(), same) != text.end();
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlankOrControl(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && IsBlankOrControl(static_cast<unsigned char>(text[e - 1]))) --e;
  return std::string(text.substr(b, e - b));
}

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
}

const std::string& TStringList::operator[](int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

void TStringList::Put(int index, std::string value) {
  CheckIndex(index);
  items_[static_cast<size_t>(index)] = std::move(value);
  Changed();
}

int TStringList::Add(std::string value) {
  items_.push_back(std::move(value));
  Changed();
  return Count() - 1;
}

void TStringList::Insert(int index, std::string value) {
  if (index < 0 || index > Count()) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
  items_.insert(items_.begin() + index, std::move(value));
  Changed();
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(items_[static_cast<size_t>(index1)], items_[static_cast<size_t>(index2)]);
  Changed();
}

void TStringList::Move(int from, int to) {
  CheckIndex(from);
  CheckIndex(to);
  if (from == to) return;
  std::string line = std::move(items_[static_cast<size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(line));
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

void TStringList::Assign(const TStringList& other) {
  if (&other == this) return;
  items_ = other.items_;
  Changed();
}

void TStringList::AddStrings(const TStringList& other) {
  std::vector<std::string> copy = other.items_;  // other may be this
  for (auto& line : copy) items_.push_back(std::move(line));
  Changed();
}

int TStringList::IndexOf(std::string_view value) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (SameText(items_[i], value)) return static_cast<int>(i);
  }
  return -1;
}

int TStringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    const std::string& line = items_[i];
    size_t eq = line.find('=');
    std::string_view line_name = eq == std::string::npos ? std::string_view(line)
                                                         : std::string_view(line).substr(0, eq);
    if (SameText(line_name, name)) return static_cast<int>(i);
  }
  return -1;
}

std::string TStringList::Name(int index) const {
  const std::string& line = (*this)[index];
  size_t eq = line.find('=');
  return eq == std::string::npos ? line : line.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& line = (*this)[index];
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

std::string TStringList::Value(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = std::string(name) + "=" + std::string(value);
  if (i >= 0) {
    Put(i, std::move(line));
  } else {
    Add(std::move(line));
  }
}

std::string TStringList::Text() const {
  const std::string br = LineBreak();
  size_t size = 0;
  for (const auto& line : items_) size += line.size() + br.size();
  std::string out;
  out.reserve(size);
  for (const auto& line : items_) {
    out += line;
    out += br;
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  items_.clear();
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
    items_.emplace_back(text.substr(start, i - start));
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
  }
  Changed();
}

std::string TStringList::CommaText() const {
  std::string out;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i > 0) out += ',';
    const std::string& s = items_[i];
    bool quote = s.empty() || std::any_of(s.begin(), s.end(), [](char c) {
                   return IsBlankOrControl(static_cast<unsigned char>(c)) || c == ',' || c == '"';
                 });
    if (!quote) {
      out += s;
      continue;
    }
    out += '"';
    for (char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

void TStringList::SetCommaText(std::string_view text) {
  BeginUpdate();
  items_.clear();
  size_t i = 0, n = text.size();
  auto skip_blanks = [&] {
    while (i < n && IsBlankOrControl(static_cast<unsigned char>(text[i]))) ++i;
  };
  skip_blanks();
  while (i < n) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
    } else {
      size_t start = i;
      while (i < n && text[i] != ',' && !IsBlankOrControl(static_cast<unsigned char>(text[i]))) ++i;
      item.assign(text.substr(start, i - start));
    }
    items_.push_back(std::move(item));
    skip_blanks();
    if (i < n && text[i] == ',') {
      ++i;
      skip_blanks();
      // A trailing comma stands for one more, empty item.
      if (i >= n) items_.emplace_back();
    }
  }
  Changed();
  EndUpdate();
}

void TStringList::LoadFromFile(const std::string& path) {
  // A directory opens as a stream on Linux but reads nothing; treat it as
  // a file that cannot be opened rather than silently emptying the list.
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw EListError("Cannot open file " + path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EListError("Cannot open file " + path);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) throw EListError("Cannot open file " + path);
  SetText(buffer.str());
}

void TStringList::SaveToFile(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw EListError("Cannot create file " + path);
  out << Text();
  if (!out.flush()) throw EListError("Cannot create file " + path);
}

void TStringList::Changed() {
  if (update_count_ > 0) {
    pending_change_ = true;
    return;
  }
  if (OnChange) OnChange();
}

void TStringList::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0 && pending_change_) {
    pending_change_ = false;
    if (OnChange) OnChange();
  }
}

}  // namespace quill
