// Turns a member's failure into the thread's error information.
#include "script_object/error_guard.h"

#include "base/utf8.h"
#include "platform/olert/automation.h"
#include "script_object/quill_interface.h"

namespace quill {

HRESULT SetMemberError(const std::string& message, HRESULT own_hresult) noexcept {
  const HRESULT answer = own_hresult < 0 ? own_hresult : E_UNEXPECTED;
  try {
    olert::ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.Receive())) || !create) return answer;
    std::u16string description = Utf8ToUtf16(message);
    std::u16string source(kProgIDW);
    create->SetGUID(IID_IQuill);
    create->SetSource(source.data());
    create->SetDescription(description.data());
    create->SetHelpContext(0);
    if (const auto info = create.Query<IErrorInfo>(IID_IErrorInfo)) SetErrorInfo(0, info.get());
  } catch (...) {
    // Out of memory while reporting: the HRESULT still tells the caller.
  }
  return answer;
}

}  // namespace quill
