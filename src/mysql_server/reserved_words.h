// The reserved words of the servers the system talks to (MariaDB and
// MySQL, both lists together). A table or column with such a name is a
// syntax error in generated SQL unless it is backquoted.
#pragma once

#include <string_view>

namespace quill {

// True when `name`, compared without regard to ASCII case, is a reserved
// word of either server.
bool IsReservedWord(std::string_view name);

}  // namespace quill
