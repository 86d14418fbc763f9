#pragma once
// Module paths and libraries of the system, for both programs.
#include <windows.h>

#include <string>

#include "win/AnsiPath.h"

namespace win {

// The full path of a loaded module (nullptr: the program itself), however long, read in
// Unicode: usable is empty when the system cannot give it or it has no ANSI form.
AnsiPath ModuleAnsiPath(HMODULE module);

// ModuleAnsiPath's usable form; when empty, GetLastError() says why.
std::string ModulePath(HMODULE module);

// Loads a library of the system by its full path in the system folder, never by bare
// name: the program's own folder, searched first, may hold a planted copy.
HMODULE LoadSystemLibrary(const std::string& name);

// An entry point of a loaded module, as the function type the caller names; nullptr when
// the module lacks it (a call newer than the Windows running us).
template <typename Function> Function ProcAddress(HMODULE module, const char* name)
{
    return module
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

// The same of a system library the process has loaded already (kernel32, user32, advapi32).
template <typename Function> Function SystemCall(const char* library, const char* name)
{
    return ProcAddress<Function>(GetModuleHandleA(library), name);
}

} // namespace win
