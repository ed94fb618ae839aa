// Running one page for one request: compile, create the intrinsic objects
// and a script engine, run, end the page, release everything.
//
// The runner never raises: a page that cannot be found answers 404, one
// that does not compile, fails or runs past its time answers 500 with an
// HTML page that names the error, the file and the line (all HTML-escaped).
// Whatever the outcome, every object the page created has had OnEndPage (if
// it got OnStartPage) and every reference has been released when it returns.
#pragma once

#include <chrono>
#include <string>

#include "host/asp/page_request.h"
#include "host/asp/site_root.h"

namespace quill::asp {

struct HostOptions {
  std::chrono::milliseconds timeout{10000};  // how long a page may run
  size_t max_response_bytes = 64u << 20;     // how much a page may write
  size_t max_heap_bytes = 128u << 20;        // script memory of one page
};

struct RenderResult {
  PageResponse response;
  // Empty when the page ran as it should; else what went wrong, for the log:
  // "message (file, line N)".
  std::string error;
};

// Runs the page `request.url_path` of `site`, in an application of its own
// that starts and ends with the call. The calling thread may have
// initialised the automation runtime already (CoInitializeEx); the runner
// initialises it for the call if not.
RenderResult RenderPage(const SiteRoot& site, const PageRequest& request, const HostOptions& options);

class WebApplication;
// The same within the application `app` of the site (null: none): the page
// sees Application and, when its script names Session, runs in the session
// of its cookie (a new one when the cookie names none that lives, with
// Session_OnStart first and the cookie set on the response).
RenderResult RenderPage(const SiteRoot& site, const PageRequest& request, const HostOptions& options,
                        WebApplication* app);

// The HTML page of a failure: status line as the title, then the message
// and the place, each HTML-escaped.
std::string ErrorPage(int status, const std::string& title, const std::string& message,
                      const std::string& where);

}  // namespace quill::asp
