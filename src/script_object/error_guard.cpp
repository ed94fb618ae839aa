// Turns a member's failure into the thread's error information.
#include "script_object/error_guard.h"

#include "base/utf8.h"
#include "script_object/quill_interface.h"

namespace quill {

HRESULT SetMemberError(const std::string& message, HRESULT own_hresult) noexcept {
  const HRESULT answer = own_hresult < 0 ? own_hresult : E_UNEXPECTED;
  try {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)) || create == nullptr) return answer;
    std::u16string description = Utf8ToUtf16(message);
    std::u16string source(kProgIDW);
    create->SetGUID(IID_IQuill);
    create->SetSource(source.data());
    create->SetDescription(description.data());
    create->SetHelpContext(0);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) &&
        info != nullptr) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  } catch (...) {
    // Out of memory while reporting: the HRESULT still tells the caller.
  }
  return answer;
}

}  // namespace quill
