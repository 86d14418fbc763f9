#pragma once
#include <string>

namespace app {

// The running module's own file, whatever the tests say.
std::string ModuleFileName();

// Full path of the running program file. Tests point it elsewhere; the product never does.
std::string ProgramPath();
void SetProgramPathForTests(const std::string& path);

// The program path up to and including its last backslash.
std::string ProgramFolder();

// The path with its extension (from the last dot after the last backslash) replaced.
std::string ChangeFileExt(const std::string& path, const std::string& extension);

} // namespace app
