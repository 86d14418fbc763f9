#pragma once
#include <string>

namespace app {

// The running module's own file, whatever the tests say.
std::string ModuleFileName();

// Full path of the running program file. Tests point it elsewhere; the product never does.
// Pointing it elsewhere also puts the user's folders (below) inside that folder, so that no
// test touches the real ones by accident.
std::string ProgramPath();
void SetProgramPathForTests(const std::string& path);

// The program path up to and including its last backslash.
std::string ProgramFolder();

// The roots of the user's own data. From Windows Vista on a standard user cannot write the
// program folder and a Protected Mode browser only LocalLow, so the rule file goes to the
// local application data and the log to LocalLow, each in Tandrel\Quellor\. Before Vista,
// and for a root the system cannot give, the program folder, as ever.
struct UserFolders {
    bool perUser = false;        // false: everything in the program folder
    std::string localAppData;    // FOLDERID_LocalAppData, with a trailing backslash
    std::string localAppDataLow; // FOLDERID_LocalAppDataLow
};
UserFolders CurrentUserFolders();
void SetUserFoldersForTests(const UserFolders& folders);

// Where the rule file and the log live, with a trailing backslash.
std::string RuleFolder();
std::string LogFolder();

// The program's files, each derived here alone. Two forms of the log path stay distinct:
// the one stored for the browser helper follows the program's name, the one the History
// Log page reads and clears is always QUELLOR.log.
std::string RuleFilePath();       // the program's name with .rul, in the rule folder
std::string StoredLogFilePath();  // the program's name with .log, in the log folder
std::string LogFilePath();        // QUELLOR.log in the log folder
std::string HelperLibraryPath();  // the program path with .dll
std::string HelpFilePath();       // the application's help file in the program folder
std::string HelpShortcutTarget(); // the program path with .chm, for the Start menu

// The same three files where they lay before Windows Vista: beside the program.
std::string ProgramRuleFilePath();
std::string ProgramStoredLogFilePath();
std::string ProgramLogFilePath();

// The path with its extension (from the last dot after the last backslash) replaced.
std::string ChangeFileExt(const std::string& path, const std::string& extension);

} // namespace app
