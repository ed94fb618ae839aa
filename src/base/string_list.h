// TStringList: an ordered list of text lines, duplicates allowed, not sorted.
//
// Used for connection parameters, SQL templates, template documents and tag
// parameters. Besides the lines it knows three text forms: the whole text
// (every line followed by a line break), the comma text (lines separated by
// commas, quoted where needed) and name=value lines.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/object.h"

namespace quill {

class TStringList : public TObject {
  QUILL_DECLARE_CLASS()

 public:
  TStringList() = default;
  ~TStringList() override = default;

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }

  // REQUIRES: 0 <= index < Count(); otherwise raises EListError
  // "List index out of bounds (%d)".
  const std::string& operator[](int index) const;
  const std::string& Get(int index) const { return (*this)[index]; }
  void Put(int index, std::string value);

  // Appends a line; returns its index.
  int Add(std::string value);
  // Inserts before `index`; 0 <= index <= Count(), else EListError.
  void Insert(int index, std::string value);
  void Delete(int index);
  void Exchange(int index1, int index2);
  void Move(int from, int to);
  void Clear();
  void Assign(const TStringList& other);
  void AddStrings(const TStringList& other);

  // First line equal to `value` without regard to ASCII case, or -1.
  int IndexOf(std::string_view value) const;

  // name=value lines. Names compare without regard to ASCII case. A line
  // without "=" has that whole line as name and an empty value.
  int IndexOfName(std::string_view name) const;
  std::string Name(int index) const;
  std::string ValueFromIndex(int index) const;
  // The value of the first line named `name`, or "" when there is none.
  std::string Value(std::string_view name) const;
  // Replaces the value of the line named `name`, appending one when there
  // is none; an empty value removes the line.
  void SetValue(std::string_view name, std::string_view value);

  // Whole text: every line followed by LineBreak(), the last one included.
  virtual std::string Text() const;
  // Replaces the lines by the lines of `text`: CR LF, a lone CR or a lone LF
  // ends a line; a final line break adds no empty line.
  virtual void SetText(std::string_view text);
  virtual std::string LineBreak() const { return "\r\n"; }

  // Comma text: lines separated by ","; a line that is empty or holds a
  // blank, a control character, a comma or a double quote is written in
  // double quotes with inner quotes doubled.
  std::string CommaText() const;
  // Reads comma text: items end at a comma or a blank (or control
  // character); an item in double quotes may hold anything, "" standing for
  // one quote. Blanks around separators are skipped.
  void SetCommaText(std::string_view text);

  // Reads / writes the whole text from / to a file. Failures raise
  // EListError "Cannot open file %s" / "Cannot create file %s".
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path) const;

  const std::vector<std::string>& Lines() const { return items_; }

  // Change notification: called after every change of the lines (once per
  // outermost BeginUpdate/EndUpdate bracket). Owners use it to react to a
  // changed SQL text.
  std::function<void()> OnChange;
  void BeginUpdate() { ++update_count_; }
  void EndUpdate();

 protected:
  void Changed();
  std::vector<std::string> items_;

 private:
  void CheckIndex(int index) const;
  int update_count_ = 0;
  bool pending_change_ = false;
};

// True when a and b are equal without regard to ASCII case.
bool SameText(std::string_view a, std::string_view b);
// True when `text` holds `part` without regard to ASCII case.
bool ContainsText(std::string_view text, std::string_view part);
// ASCII upper / lower case; other bytes unchanged.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Removes leading and trailing characters of code 0..32.
std::string Trim(std::string_view text);

}  // namespace quill
