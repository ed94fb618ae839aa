// Running one page for one request: compile, create the intrinsic objects
// and a script engine, run, end the page, release everything.
//
// The runner never raises: a page that cannot be found answers 404, one
// that does not compile, fails or runs past its time answers 500 with an
// HTML page that names the error, the file and the line (all HTML-escaped;
// without `debug`, a generic page), or the site's own page for that status.
// Server.Execute runs the other page in a script heap of its own with the
// same intrinsic objects.
// Whatever the outcome, every object the page created has had OnEndPage (if
// it got OnStartPage) and every reference has been released when it returns.
#pragma once

#include <chrono>
#include <map>
#include <string>

#include "host/asp/page_request.h"
#include "host/asp/site_root.h"

namespace quill::asp {
class PageCache;
class ResponseChannel;
}  // namespace quill::asp

namespace quill::asp {

struct HostOptions {
  std::chrono::milliseconds timeout{10000};  // how long a page may run
  size_t max_response_bytes = 16u << 20;     // how much a page may buffer
  size_t max_heap_bytes = 128u << 20;        // script memory of one page
  // Failures show the message and the place to the client. Off, a 500
  // answer is a generic page and the details go to the log only.
  bool debug = true;
  // The site's own pages for a status (404, 500), by virtual path. Such a
  // page answers with that status; in it Server.GetLastError tells what
  // failed.
  std::map<int, std::string> error_pages;
  PageCache* cache = nullptr;                // null: compile on every request
};

struct RenderResult {
  PageResponse response;
  // Empty when the page ran as it should; else what went wrong, for the log:
  // "message (file, line N)".
  std::string error;
  // The page failed after part of its body was sent (Response.Flush or
  // Buffer = false): the client must see the answer cut off.
  bool cut_off = false;
};

class WebApplication;

// Runs the page `request.url_path` of `site`, in an application of its own
// that starts and ends with the call. The calling thread may have
// initialised the automation runtime already (CoInitializeEx); the runner
// initialises it for the call if not.
// With a channel, output the page flushes goes through it while the page
// runs; what is left is in the result (and must be sent after the head the
// channel has, if it has one).
RenderResult RenderPage(const SiteRoot& site, const PageRequest& request, const HostOptions& options,
                        ResponseChannel* channel = nullptr);

// The answer for `status` (404) to `request`: the site's error page for it,
// or the host's own.
RenderResult RenderStatusPage(const SiteRoot& site, const PageRequest& request, const HostOptions& options,
                              int status, const std::string& title, const std::string& message,
                              ResponseChannel* channel = nullptr, WebApplication* app = nullptr);

// The same within the application `app` of the site (null: none): the page
// (and the pages it executes, and error pages) sees Application and, once a
// script names Session, runs in the session of its cookie (a new one when
// the cookie names none that lives, with Session_OnStart first and the
// cookie set on the response, with its head).
RenderResult RenderPage(const SiteRoot& site, const PageRequest& request, const HostOptions& options,
                        WebApplication* app, ResponseChannel* channel = nullptr);

// The HTML page of a failure: status line as the title, then the message
// and the place, each HTML-escaped.
std::string ErrorPage(int status, const std::string& title, const std::string& message,
                      const std::string& where);

}  // namespace quill::asp
