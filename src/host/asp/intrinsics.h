// The intrinsic objects of a page: Request (with its Form, QueryString and
// ServerVariables collections), Response, Server, and the scripting context
// that components receive in OnStartPage.
//
// All are AutomationObjects, so script and components alike reach them
// through IDispatch. The context answers QueryInterface for
// IScriptingContext and has Request, Response and Server properties; a
// component such as Quill reads the posted form through it late-bound, by
// name: context.Request -> request.Form -> Count, Key(i) from 1, Item(key).
//
// A collection's Item(name) is a list of the values sent under that name
// (Count, Item(i) from 1, its default value the values joined by ", ", or
// Empty when there are none); Item(i) is the list of the i-th name; Item()
// alone is the text as it was sent. Request(name) looks in QueryString,
// then Form, then ServerVariables.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/asp/automation_object.h"
#include "host/asp/last_error.h"
#include "host/asp/cookies.h"
#include "host/asp/page_request.h"
#include "host/asp/response_stream.h"
#include "host/asp/site_root.h"

namespace quill::asp {

// {D97A6DA0-A868-11CF-83AE-00B0C90C2BD8}
inline constexpr IID IID_IScriptingContext = {
    0xD97A6DA0, 0xA868, 0x11CF, {0x83, 0xAE, 0x00, 0xB0, 0xC9, 0x0C, 0x2B, 0xD8}};

// What the objects of one page share. The runner owns it and keeps it alive
// until every object is gone.
struct PageEnvironment {
  const SiteRoot* site = nullptr;
  std::string page_path;                 // virtual path of the page
  std::filesystem::path page_file;       // its file, resolved through `site`; empty when not known
  const PageRequest* request = nullptr;
  PageResponse* response = nullptr;
  size_t max_response_bytes = 64u << 20;
  int timeout_seconds = 10;              // Server.ScriptTimeout
  std::function<void()> stop;            // ends the page's script (Response.End)
  bool ended = false;                    // set by Response.End and Redirect
  ResponseWriter* writer = nullptr;      // null: output goes straight into *response
  // Server.Execute: runs the page at a virtual path within this request.
  // Raises AutomationError when it cannot be run or fails.
  std::function<void(const std::string& virtual_path)> execute;
  const LastError* last_error = nullptr;  // in an error page: what failed
  ResponseCookies* response_cookies = nullptr;  // Response.Cookies, owned by PageObjects
};

// The intrinsic objects of one page.
class PageObjects {
 public:
  // REQUIRES: `env` outlives this object and every intrinsic object.
  explicit PageObjects(PageEnvironment& env);
  // Ends the page (EndPage) if that was not done, and releases the objects.
  ~PageObjects();
  PageObjects(const PageObjects&) = delete;
  PageObjects& operator=(const PageObjects&) = delete;

  IDispatch* request() const { return request_.get(); }
  IDispatch* response() const { return response_.get(); }
  IDispatch* server() const { return server_.get(); }
  IDispatch* context() const { return context_.get(); }

  // Creates the object of `progid` (or "{CLSID}") through the registry and,
  // when it has an OnStartPage member, calls it with the scripting context;
  // such objects get OnEndPage from EndPage. Answers the object. Raises
  // AutomationError.
  olert::ComPtr<IDispatch> CreateObject(const std::string& progid);

  // Calls OnEndPage on the objects that got OnStartPage, the latest first,
  // ignoring their failures, and releases them. Further calls do nothing.
  void EndPage();

 private:
  PageEnvironment& env_;
  olert::ComPtr<IDispatch> response_cookies_;  // env_.response_cookies
  olert::ComPtr<IDispatch> request_;
  olert::ComPtr<IDispatch> response_;
  olert::ComPtr<IDispatch> server_;
  olert::ComPtr<IDispatch> context_;
  std::vector<olert::ComPtr<IDispatch>> started_;  // objects given OnStartPage
};

}  // namespace quill::asp
