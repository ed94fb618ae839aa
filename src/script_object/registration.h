// The registry entries of the module, written and removed under
// HKEY_CLASSES_ROOT through the platform runtime:
//
//   CLSID\{CLSID}                   (default) = class description ("")
//   CLSID\{CLSID}\InprocServer32    (default) = module path
//                                   ThreadingModel = "Apartment"
//   Harrow.Quill                    (default) = class description
//   Harrow.Quill\Clsid              (default) = {CLSID}
//   CLSID\{CLSID}\ProgID            (default) = "Harrow.Quill"
//   CLSID\{CLSID}\Version           (default) = "1.0"
//   CLSID\{CLSID}\TypeLib           (default) = {LIBID}
//
// The path is written as given: this platform has no short path names.
#pragma once

#include <string>

#include "platform/olert/olert.h"

namespace quill {

// The braced, upper-case registry text of a GUID.
std::string GuidText(const GUID& guid);

// Writes every entry above for the module at `module_path`, then registers
// the type library when the runtime offers type-library registration.
// Raises Exception "Error creating system registry entry" when a key or
// value cannot be written (entries written before stay).
void RegisterQuillServer(const std::string& module_path);

// Unregisters the type library when the runtime offers that, then deletes
// the keys above, deepest first. Keys that are missing or cannot be deleted
// are passed over; never fails.
void UnregisterQuillServer() noexcept;

}  // namespace quill
