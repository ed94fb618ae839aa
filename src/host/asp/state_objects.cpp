// Session and Application objects, and the Application lock.
#include "host/asp/state_objects.h"

namespace quill::asp {

// ---------------------------------------------------------------------------
// ApplicationState

void ApplicationState::Lock(const void* page, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(lock_mutex_);
  if (!lock_changed_.wait_until(lock, deadline, [&] { return owner_ == nullptr || owner_ == page; })) {
    throw AutomationError(E_FAIL, "Application.Lock: another page held the lock for longer than this page may run");
  }
  owner_ = page;
  ++depth_;
}

void ApplicationState::Unlock(const void* page) {
  {
    std::lock_guard<std::mutex> lock(lock_mutex_);
    if (owner_ != page) return;
    if (--depth_ > 0) return;
    owner_ = nullptr;
  }
  lock_changed_.notify_all();
}

void ApplicationState::ReleaseLocks(const void* page) {
  {
    std::lock_guard<std::mutex> lock(lock_mutex_);
    if (owner_ != page) return;
    owner_ = nullptr;
    depth_ = 0;
  }
  lock_changed_.notify_all();
}

void ApplicationState::WaitWritable(const void* page, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(lock_mutex_);
  if (!lock_changed_.wait_until(lock, deadline, [&] { return owner_ == nullptr || owner_ == page; })) {
    throw AutomationError(E_FAIL, "Application: another page held Application.Lock for longer than this page may run");
  }
}

void ApplicationState::Clear() {
  std::lock_guard<std::mutex> lock(values_mutex_);
  values_.Clear();
}

namespace {

// Contents as the object itself: Session("a") is Session.Contents("a").
class StateObject : public AutomationObject {
 public:
  // Takes over the one reference of `contents`.
  explicit StateObject(ContentsObject* contents) : contents_(olert::ComPtr<ContentsObject>::Adopt(contents)) {}

 protected:
  bool AlsoImplements(REFIID riid) const override { return riid == IID_IQuillValueStore; }

  // Handles the default member and Contents; false for the others.
  bool CallShared(DISPID id, WORD flags, const Arguments& args, VARIANT* result) {
    if (id == DISPID_VALUE) {
      if (IsPut(flags)) {
        contents_->Put(args);
      } else if (args.count() == 0 || args.Missing(0)) {
        SetResultDispatch(result, contents_.get());
      } else {
        contents_->Item(args, result);
      }
      return true;
    }
    if (id == 1) {  // Contents
      if (IsPut(flags)) {  // Session.Contents(name) = value
        contents_->Put(args);
        return true;
      }
      if (args.count() > 0 && !args.Missing(0)) {
        contents_->Item(args, result);
      } else {
        SetResultDispatch(result, contents_.get());
      }
      return true;
    }
    return false;
  }

  olert::ComPtr<ContentsObject> contents_;
};

class SessionObject final : public StateObject {
 public:
  explicit SessionObject(ActiveSession& session)
      : StateObject(new ContentsObject(session.values, Access(session))), session_(session) {}

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Item", DISPID_VALUE}, {u"Contents", 1}, {u"SessionID", 2},
                                      {u"Timeout", 3},         {u"Abandon", 4}};
    return kMembers;
  }

  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    if (CallShared(id, flags, args, result)) return;
    switch (id) {
      case 2:
        RequireRead(flags, "");
        SetResultText(result, session_.id);
        return;
      case 3:
        if (IsPut(flags)) {
          const VARIANT* value = args.put_value();
          VARIANT n;
          VariantInit(&n);
          if (value == nullptr || FAILED(VariantChangeType(&n, value, 0, VT_I4)) || n.lVal < 1 || n.lVal > 24 * 60 * 365) {
            throw AutomationError(E_INVALIDARG, "Session.Timeout: a whole number of minutes from 1 to 525600");
          }
          session_.timeout_seconds = n.lVal * 60;
          return;
        }
        SetResultInt(result, (session_.timeout_seconds + 59) / 60);
        return;
      case 4:
        RequireRead(flags, "");
        session_.abandoned = true;
        return;
    }
  }

 private:
  static ContentsAccess Access(ActiveSession& session) {
    ContentsAccess access;
    access.owner = "Session";
    const size_t max = session.max_bytes;
    access.after_write = [max](const ValueMap& map) {
      const size_t size = map.Serialise().size();
      if (size > max) {
        throw AutomationError(E_OUTOFMEMORY, "Session: the session would hold " + std::to_string(size) +
                                                 " bytes, more than the " + std::to_string(max) + " allowed");
      }
    };
    return access;
  }

  ActiveSession& session_;
};

class ApplicationObject final : public StateObject {
 public:
  ApplicationObject(ApplicationState& state, const void* page, std::chrono::steady_clock::time_point deadline)
      : StateObject(new ContentsObject(state.values(), Access(state, page, deadline))),
        state_(state),
        page_(page),
        deadline_(deadline) {}

 protected:
  std::span<const Member> Members() const override {
    static const Member kMembers[] = {{u"Item", DISPID_VALUE}, {u"Contents", 1}, {u"Lock", 2}, {u"Unlock", 3}};
    return kMembers;
  }

  void Call(DISPID id, WORD flags, const Arguments& args, VARIANT* result) override {
    if (CallShared(id, flags, args, result)) return;
    RequireRead(flags, "");
    if (id == 2) state_.Lock(page_, deadline_);
    if (id == 3) state_.Unlock(page_);
  }

 private:
  static ContentsAccess Access(ApplicationState& state, const void* page,
                               std::chrono::steady_clock::time_point deadline) {
    ContentsAccess access;
    access.owner = "Application";
    access.mutex = &state.values_mutex();
    access.before_write = [&state, page, deadline] { state.WaitWritable(page, deadline); };
    return access;
  }

  ApplicationState& state_;
  const void* page_;
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace

olert::ComPtr<IDispatch> NewSessionObject(ActiveSession& session) {
  return olert::ComPtr<IDispatch>::Adopt(new SessionObject(session));
}

olert::ComPtr<IDispatch> NewApplicationObject(ApplicationState& state, const void* page,
                                              std::chrono::steady_clock::time_point deadline) {
  return olert::ComPtr<IDispatch>::Adopt(new ApplicationObject(state, page, deadline));
}

}  // namespace quill::asp
