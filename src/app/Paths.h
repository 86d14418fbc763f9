#pragma once
#include <string>
#include <vector>

namespace app {

// The running module's own file, whatever the tests say.
std::string ModuleFileName();

// Full path of the running program file; empty when it has no ANSI form (neither its own
// nor a short one). Tests point it elsewhere; the product never does.
// Pointing it elsewhere also puts the user's folders (below) inside that folder, so that no
// test touches the real ones by accident.
std::string ProgramPath();
void SetProgramPathForTests(const std::string& path);

// The program path up to and including its last backslash.
std::string ProgramFolder();

// The roots of the user's own data. From Windows Vista on a standard user cannot write the
// program folder and a Protected Mode browser only LocalLow, so the rule file goes to the
// local application data and the log to LocalLow, each in Tandrel\Quellor\. Before Vista
// the program folder, as ever. A root that cannot be used is never swapped for another
// folder: what it would hold cannot be kept, and the user is told (UnusableDataFolders).
struct UserFolders {
    bool perUser = false;        // false: everything in the program folder
    std::string localAppData;    // FOLDERID_LocalAppData, with a trailing backslash
    std::string localAppDataLow; // FOLDERID_LocalAppDataLow
    // Why a root above is empty, naming the folder for the user; empty when it is not.
    std::string localAppDataProblem;
    std::string localAppDataLowProblem;
};
UserFolders CurrentUserFolders();
void SetUserFoldersForTests(const UserFolders& folders);

// Where the rule file and the log live, with a trailing backslash; empty when the folder
// cannot be used.
std::string RuleFolder();
std::string LogFolder();

// For each of the two that cannot be used, a sentence for the user that names the folder,
// says why and what cannot be kept; in the order rules, log.
std::vector<std::string> UnusableDataFolders();

// The program's files, each derived here alone. Two forms of the log path stay distinct:
// the one stored for the browser helper follows the program's name, the one the History
// Log page reads and clears is always QUELLOR.log. No path is ever relative: where its
// folder cannot be used, the rule file's throws (EQuellorError naming the folder: only a
// user's action asks for it), and each other one is empty (nothing reads or writes "").
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
