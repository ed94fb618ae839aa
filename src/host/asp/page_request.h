// What a page is asked and what it answers, independent of how the request
// arrived (the command line or HTTP).
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "host/asp/form_data.h"

namespace quill::asp {

struct PageRequest {
  std::string method = "GET";
  std::string url_path;       // virtual path of the page, "/shop/list.asp"
  // The file of url_path as the front end resolved it through the site
  // root (symbolic links resolved, inside the root), so that the page need
  // not be resolved again; empty: resolved when the page runs.
  std::filesystem::path file;
  std::string query_string;   // as sent, without the '?'
  NameValueList query;        // decoded
  std::string content_type;
  std::string body;           // as posted
  NameValueList form;         // decoded posted fields
  NameValueList headers;      // as received, names as sent
  std::string remote_addr = "127.0.0.1";
  int remote_port = 0;
  std::string server_name = "localhost";
  int server_port = 0;
  std::string protocol = "HTTP/1.1";
  bool https = false;         // the client came over TLS (to a proxy that says so)
};

struct PageResponse {
  int status = 200;
  std::string reason = "OK";
  std::string content_type = "text/html";
  std::string charset = "utf-8";
  NameValueList headers;      // added by the page (Response.AddHeader, Redirect)
  std::string body;

  // "text/html; charset=utf-8"
  std::string FullContentType() const {
    return charset.empty() ? content_type : content_type + "; charset=" + charset;
  }
};

}  // namespace quill::asp
