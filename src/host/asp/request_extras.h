// Parts of the intrinsic objects kept apart from their tables: the server
// variables beyond the basic set, Request.BinaryRead, and the page flow of
// Server.Execute and Server.Transfer.
#pragma once

#include <string>

#include "host/asp/automation_object.h"
#include "host/asp/form_data.h"
#include "host/asp/intrinsics.h"

namespace quill::asp {

// Adds HTTPS, ALL_HTTP and ALL_RAW to `vars`.
void AddServerVariables(const PageEnvironment& env, NameValueList& vars);

// Request.BinaryRead(count): the next `count` bytes of `body` from
// *offset (fewer at its end) as an array of bytes; advances *offset.
void BinaryRead(const std::string& body, size_t* offset, const Arguments& args, VARIANT* result);

// Server.Execute(path) (transfer false) and Server.Transfer(path): runs the
// page at `path` (relative to the running page, or from the site root)
// within this request; Transfer then ends the running page. Raises
// AutomationError when the path leaves the site or names no page, or the
// page fails.
void ExecutePage(PageEnvironment& env, const std::string& path, bool transfer);

}  // namespace quill::asp
