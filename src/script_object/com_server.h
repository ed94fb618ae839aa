// The module's server object and its class factory.
//
// TComServer is the one object per loaded module that counts live objects
// and factory locks (DllCanUnloadNow answers from those counts), knows the
// module's own path and holds the factories. TAutoObjectFactory is the
// IClassFactory of one class: it makes and initialises a new object per
// request, and when that fails it tells the (absent) user through the UI
// services, captioned "VEV Error", and answers E_UNEXPECTED.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/olert/automation.h"

namespace quill {

class TAutoObject;

class TAutoObjectFactory;

class TComServer {
 public:
  // The server object of this module.
  static TComServer& Instance();

  // Interlocked counts of live objects and of LockServer(TRUE) calls not yet
  // undone. Objects count themselves in from construction to destruction;
  // type information handed out counts as an object too.
  void ObjectCreated() { ++objects_; }
  void ObjectDestroyed() { --objects_; }
  LONG ObjectCount() const { return objects_.load(); }
  void LockServer(bool lock) {
    if (lock) {
      ++locks_;
    } else {
      --locks_;
    }
  }
  LONG LockCount() const { return locks_.load(); }
  // S_FALSE while an object, a shell handed to a script or a lock is
  // alive, else S_OK.
  HRESULT CanUnloadNow() const;

  // Always true: the module runs in its client's process.
  bool IsInprocServer() const { return true; }
  // The module file's full path, as the dynamic loader knows it; empty when
  // it cannot be found out.
  std::string ModulePath() const;

  // The factory registered for `clsid`, or null.
  TAutoObjectFactory* FindFactory(REFCLSID clsid);

 private:
  TComServer() = default;
  std::atomic<LONG> objects_{0};
  std::atomic<LONG> locks_{0};
};

class TAutoObjectFactory final : public olert::RefCounted<IClassFactory> {
 public:
  // Makes an object that is not yet initialised (its reference count is 0).
  using Creator = std::function<TAutoObject*()>;

  TAutoObjectFactory(const CLSID& clsid, Creator creator);

  const CLSID& ClassID() const { return clsid_; }
  const char* ClassName() const;
  const char* Description() const;
  const char* ThreadingModel() const { return "Apartment"; }
  // The interface whose IID error information carries.
  const IID& ErrorIID() const;

  // IUnknown (RefCounted): answers IUnknown and IClassFactory. The factory
  // belongs to the module, which keeps the reference it was created with for
  // good, so its clients' releases never free it.

  // E_POINTER for a null `object`; CLASS_E_NOAGGREGATION when an outer
  // object asks for anything but IUnknown; E_UNEXPECTED (after the "VEV
  // Error" message) when making or initialising the object fails; else the
  // result of querying the new object for `riid` (the object is freed when
  // that fails).
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  // Counts (TRUE) or uncounts (FALSE) a lock in the server object.
  HRESULT LockServer(BOOL lock) override;

  // Replaces the creator (tests use it to make creation fail).
  void SetCreator(Creator creator) { creator_ = std::move(creator); }

 private:
  const CLSID clsid_;
  Creator creator_;
};

// The text shown when creating an object fails: `message` with a full stop
// appended when its last character sorts after ".".
std::string CreationErrorText(const std::string& message);

}  // namespace quill
