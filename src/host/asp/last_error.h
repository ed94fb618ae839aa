// What Server.GetLastError answers in a site's error page: the error that
// failed the page, as an automation object with Number, Description,
// Source (the text of the failing line), File, Line, Column, Category,
// ASPCode and ASPDescription. Outside an error page every field is empty.
#pragma once

#include <string>

#include "platform/olert/automation.h"

namespace quill::asp {

struct LastError {
  HRESULT number = 0;
  std::string description;
  std::string source;       // the line of the page the error is on
  std::string file;         // virtual path of the page or include
  int line = 0;             // 0: unknown
  int column = -1;          // the engine does not report columns
  std::string category;     // "JScript runtime", "JScript compilation", "Page host"
  std::string asp_code;     // the host's own code, for errors of the host
  std::string asp_description;

  // "description (file, line N)" for the log.
  std::string Describe() const;
};

// A new ASPError object over a copy of `error`.
olert::ComPtr<IDispatch> NewLastErrorObject(const LastError& error);

}  // namespace quill::asp
