// Values that outlive a page: the contents of Session and Application.
//
// A stored value is a VARIANT of a kind that can be kept without its page:
// Empty, Null, Boolean, a 32-bit integer or a double, text, a date, an
// array (a VBArray) of such values, or a script structure: a JScript array
// or plain object, which the bridge hands over packed (PackedValue) and
// unpacks into an equal array or object on a later read. Automation
// objects are refused with a clear error: they belong to the page (and the
// thread) that created them.
//
// ValueMap keeps named values in the order they were first set; names
// compare without regard to ASCII case. It serialises to bytes, which is
// how sessions travel to a store and how their size is measured.
//
// ContentsObject is the automation face of a ValueMap: the `Contents`
// collection (Item, Count, Key, Remove, RemoveAll, _NewEnum). Objects that
// answer IID_IQuillValueStore tell the bridge to pack script structures put
// into them.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/asp/automation_object.h"

namespace quill::asp {

// {9C1F6B52-4E0B-4C8D-A2D5-3B7A1E0C5F11}: answered by objects whose puts
// carry script structures packed.
inline constexpr IID IID_IQuillValueStore = {
    0x9C1F6B52, 0x4E0B, 0x4C8D, {0xA2, 0xD5, 0x3B, 0x7A, 0x1E, 0x0C, 0x5F, 0x11}};
// {9C1F6B52-4E0B-4C8D-A2D5-3B7A1E0C5F12}: a packed script structure.
inline constexpr IID IID_IQuillPackedValue = {
    0x9C1F6B52, 0x4E0B, 0x4C8D, {0xA2, 0xD5, 0x3B, 0x7A, 0x1E, 0x0C, 0x5F, 0x12}};

// A JScript array or plain object in the bridge's packed text. Immutable;
// shared between threads by reference count.
class PackedValue final : public olert::RefCounted<IUnknown> {
 public:
  // One reference for the caller.
  static PackedValue* Create(std::string text);
  // The PackedValue `unknown` is, or null.
  static olert::ComPtr<PackedValue> From(IUnknown* unknown);

  // IUnknown and IID_IQuillPackedValue.
  HRESULT QueryInterface(REFIID riid, void** object) override;
  const std::string& text() const { return text_; }

 private:
  explicit PackedValue(std::string text) : text_(std::move(text)) {}
  ~PackedValue() override = default;
  std::string text_;
};

// *out (initialised) becomes a storable copy of `value`: numbers become
// VT_I4 or VT_R8, references are followed. Raises AutomationError naming
// `owner` ("Session") for an automation object or a type it cannot keep.
void CopyForStore(const VARIANT& value, VARIANT* out, std::string_view owner);

class ValueMap {
 public:
  ValueMap() = default;
  ValueMap(const ValueMap& other);
  ValueMap& operator=(const ValueMap& other);
  ~ValueMap();

  size_t size() const { return entries_.size(); }
  // The value named `name`, or null.
  const VARIANT* Find(std::string_view name) const;
  // REQUIRES: i < size().
  const std::string& KeyAt(size_t i) const { return entries_[i].name; }
  const VARIANT& ValueAt(size_t i) const { return *entries_[i].value; }
  // Sets `name` to a copy of `value` (already storable). A new name goes last.
  void Set(std::string_view name, const VARIANT& value);
  bool Remove(std::string_view name);
  void RemoveAt(size_t i);
  void Clear();

  // The bytes of the whole map, and back. Parse answers false (leaving the
  // map empty) for bytes it did not write.
  std::string Serialise() const;
  bool Parse(std::string_view bytes);

 private:
  struct Entry {
    std::string name;
    olert::ScopedVariant value;
  };
  std::vector<Entry> entries_;
};

// How a ContentsObject guards its map: a mutex for the map (null: one
// thread only), a check before every write (Application.Lock held by
// another page; the session's size cap), and the owner's name for messages.
struct ContentsAccess {
  std::mutex* mutex = nullptr;
  std::function<void()> before_write;
  std::function<void(const ValueMap&)> after_write;  // may raise to refuse (and undo) the write
  std::string owner;                                 // "Session", "Application"
};

// The Contents collection over `map`. REQUIRES: `map` outlives the object.
// Also the default member of Session and Application: Item(name) reads,
// Item(name) = v writes (a put with one argument).
class ContentsObject final : public AutomationObject {
 public:
  ContentsObject(ValueMap& map, ContentsAccess access) : map_(map), access_(std::move(access)) {}

  // Item(name or index) as the object's default member answers it.
  void Item(const Arguments& args, VARIANT* result);
  // Item(name) = value.
  void Put(const Arguments& args);

 protected:
  std::span<const Member> Members() const override;
  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override;
  bool AlsoImplements(REFIID riid) const override { return riid == IID_IQuillValueStore; }

 private:
  ValueMap& map_;
  ContentsAccess access_;
};

}  // namespace quill::asp
