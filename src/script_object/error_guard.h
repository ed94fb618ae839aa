// The failure guard of the IQuill members.
//
// Every member runs its body under GuardedCall. A failure of any kind
// becomes thread error information (GUID IID_IQuill, source
// "Harrow.Quill", the failure's message as description, help context 0)
// and an HRESULT: the failure's own when it carries a negative one, else
// E_UNEXPECTED. Nothing that the body changed before failing is undone.
// A member that calls another member internally calls the body, not the
// guarded member, so the innermost failure reaches the script unchanged.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "base/errors.h"
#include "platform/olert/olert.h"

namespace quill {

// Sets the thread's error information for a failed IQuill member and
// returns the HRESULT to answer: `own_hresult` when it is negative, else
// E_UNEXPECTED.
HRESULT SetMemberError(const std::string& message, HRESULT own_hresult) noexcept;

template <class Body>
HRESULT GuardedCall(Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (const Exception& e) {
    return SetMemberError(e.what(), e.HResult());
  } catch (const std::bad_alloc&) {
    return SetMemberError("Out of memory", E_OUTOFMEMORY);
  } catch (const std::exception& e) {
    return SetMemberError(e.what(), 0);
  } catch (...) {
    return SetMemberError("Unexpected failure", 0);
  }
}

}  // namespace quill
