// IQuillTextWriter: what the host's own Response object answers besides
// IDispatch, so that the bridge can hand a script string to Response.Write
// as UTF-8 straight from the engine's bytes, without making a BSTR of it
// and converting that back. Only the host implements it; every other
// object, and every other call, goes through IDispatch.
#pragma once

#include <string_view>

#include "platform/olert/olert.h"

namespace quill::asp {

// {3E8B0F27-5C41-4A6D-9B13-7D2E64A1C0F5}
inline constexpr IID IID_IQuillTextWriter = {
    0x3E8B0F27, 0x5C41, 0x4A6D, {0x9B, 0x13, 0x7D, 0x2E, 0x64, 0xA1, 0xC0, 0xF5}};

struct IQuillTextWriter : IUnknown {
  // Response.Write of one text: exactly what Invoke of Write with that text
  // as a BSTR does, its failures answered the same way (DISP_E_EXCEPTION
  // with *excep filled).
  virtual HRESULT WriteText(std::string_view utf8, EXCEPINFO* excep) = 0;
};

}  // namespace quill::asp
