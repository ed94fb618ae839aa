// The modules whose classes pages created objects of, and whether each still
// has live objects. The host asks when it stops, after every page has ended:
// a module that then answers DllCanUnloadNow with S_FALSE holds objects that
// nobody can reach any more (a reference leaked somewhere).
#pragma once

#include <string>
#include <vector>

#include "platform/olert/olert.h"

namespace quill::asp {

// Remembers that an object of `clsid` was created. Safe from any thread.
void NoteCreatedClass(const CLSID& clsid);

struct ModuleState {
  std::string clsid;  // "{...}", the first class noted of the module
  std::string path;   // the module file, from the registry; empty when not registered
  // The module's DllCanUnloadNow: S_OK when none of its objects lives,
  // S_FALSE when some do, E_FAIL when it cannot be asked (not loaded, no
  // such entry point, no longer registered).
  HRESULT can_unload = E_FAIL;
};

// One entry per module of the classes noted so far, in the order first
// noted. Asks each module now; loads none.
std::vector<ModuleState> CreatedModuleStates();

}  // namespace quill::asp
