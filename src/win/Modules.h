#pragma once
// Module paths and libraries of the system, for both programs.
#include <windows.h>

#include <string>

namespace win {

// The full path of a loaded module (nullptr: the program itself), however long; empty
// when the system cannot give it.
std::string ModulePath(HMODULE module);

// Loads a library of the system by its full path in the system folder, never by bare
// name: the program's own folder, searched first, may hold a planted copy.
HMODULE LoadSystemLibrary(const std::string& name);

} // namespace win
