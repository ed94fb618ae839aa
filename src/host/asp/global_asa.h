// global.asa: the application's event handlers, in the site root.
//
//   <script language="JScript" runat="server">
//   function Application_OnStart() { ... }
//   function Application_OnEnd() { ... }
//   function Session_OnStart() { ... }
//   function Session_OnEnd() { ... }
//   </script>
//
// Only server script blocks count; other text (and <object> tags) is
// ignored. The program keeps the file's line numbers, so an error names
// the line of global.asa it is on. Each event runs in an engine of its own
// with the script objects it is given; an error is answered as text for the
// log and stops nothing else.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "host/asp/page_parser.h"
#include "host/asp/script_engine.h"

namespace quill::asp {

struct GlobalAsa {
  CompiledPage program;
  // True when the file defines the event `name` ("Session_OnStart").
  bool Has(const std::string& name) const;
};

// Reads `file` (named `name` in messages). Nothing when there is no such
// file; raises PageError for a malformed one (an unclosed block, a language
// other than JScript).
std::optional<GlobalAsa> LoadGlobalAsa(const std::filesystem::path& file, const std::string& name);

// The script objects an event sees; null ones are not defined.
struct EventObjects {
  IDispatch* application = nullptr;
  IDispatch* session = nullptr;
  IDispatch* request = nullptr;
  IDispatch* response = nullptr;
  IDispatch* server = nullptr;
};

// Runs `event` of `asa` when it defines it. Answers "" or what went wrong:
// "message (global.asa, line N)".
std::string RunGlobalAsaEvent(const GlobalAsa& asa, const std::string& event, const EventObjects& objects,
                              const EngineLimits& limits);

}  // namespace quill::asp
