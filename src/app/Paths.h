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

// The program's files, each derived here alone. Two forms of the log path stay distinct:
// the one stored for the browser helper follows the program's name, the one the History
// Log page reads and clears is always QUELLOR.log beside the program.
std::string RuleFilePath();       // the program path with .rul
std::string StoredLogFilePath();  // the program path with .log
std::string LogFilePath();        // QUELLOR.log in the program folder
std::string HelperLibraryPath();  // the program path with .dll
std::string HelpFilePath();       // the application's help file in the program folder
std::string HelpShortcutTarget(); // the program path with .chm, for the Start menu

// The path with its extension (from the last dot after the last backslash) replaced.
std::string ChangeFileExt(const std::string& path, const std::string& extension);

} // namespace app
