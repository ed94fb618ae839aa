// TObject: the root of every object a shell can wrap.
//
// Scripts hold shells, and a shell must never reach a freed object. So every
// TObject registers in a process-wide handle table when it is constructed and
// is revoked when it is destroyed. A shell keeps the 32-bit handle, never a
// pointer, and resolves it on each call; a revoked handle resolves to null,
// which the shells treat as "nothing wrapped". The handle is also the
// object's identity wherever one must be handed across the script boundary.
//
// Handles come from a 32-bit counter that skips 0. Should it ever wrap, it
// skips the handles live objects still hold, so no two live objects share a
// handle.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quill {

using ObjectHandle = uint32_t;
inline constexpr ObjectHandle kNoHandle = 0;

struct PropertyInfo;

// Run-time class description: name, parent and published-property table.
// Instances are constant-initialised statics, one per reflectable class.
struct TClassInfo {
  std::string_view ClassName;
  const TClassInfo* Parent;
  std::span<const PropertyInfo> Properties;

  // True when this class is `other` or derives from it.
  bool InheritsFrom(const TClassInfo& other) const;
};

class TObject {
 public:
  TObject();
  virtual ~TObject();
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;

  // The handle that names this object until it is destroyed. Never 0.
  ObjectHandle Handle() const { return handle_; }

  // The most derived class's description. Every reflectable class overrides
  // it with QUILL_DECLARE_CLASS.
  virtual const TClassInfo& ClassInfo() const;
  static const TClassInfo StaticClassInfo;

  std::string_view ClassName() const { return ClassInfo().ClassName; }
  bool InheritsFrom(const TClassInfo& cls) const { return ClassInfo().InheritsFrom(cls); }

 private:
  ObjectHandle handle_;
};

// The object a handle names, or null when it was destroyed (or never was).
// The table lock is held only for the lookup: callers that may race with the
// object's destruction on another thread must hold the object's own lock.
TObject* ResolveHandle(ObjectHandle handle);

// Makes `next` the next handle the counter tries (0 counts as 1); tests use
// it to reach the wrap of the counter.
void SetNextHandleForTesting(ObjectHandle next);

// Number of live objects; tests use it to prove that nothing leaked.
size_t LiveObjectCount();

// Declares the class-info members of a reflectable class.
#define QUILL_DECLARE_CLASS()                                       \
 public:                                                            \
  static const ::quill::TClassInfo StaticClassInfo;                 \
  const ::quill::TClassInfo& ClassInfo() const override { return StaticClassInfo; }

}  // namespace quill
