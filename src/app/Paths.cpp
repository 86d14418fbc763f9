#include "app/Paths.h"

#include <windows.h>

#include <optional>

#include "ui/Application.h"
#include "win/Error.h"
#include "win/Modules.h"
#include "win/Vista.h"

namespace app {

namespace {

// Below each root, as the settings key sits below Software.
const char kDataSubfolder[] = "Tandrel\\Quellor\\";

std::string& Override()
{
    static std::string path;
    return path;
}

std::optional<UserFolders>& FoldersOverride()
{
    static std::optional<UserFolders> folders;
    return folders;
}

std::string FileName(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DataFolder(const std::string& root)
{
    return root.empty() ? std::string() : root + kDataSubfolder;
}

// The folder's file, or nothing for a folder that cannot be used.
std::string In(const std::string& folder, const std::string& name)
{
    return folder.empty() ? std::string() : folder + name;
}

// Why a root cannot be used, naming it for the user; empty when it can.
std::string RootProblem(const win::AnsiPath& root, const std::string& name)
{
    if (!root.usable.empty()) return {};
    std::string problem = root.shown.empty() ? "Windows gives no path for " + name + "."
                                             : "The folder \"" + root.shown + "\" cannot be used.";
    return root.problem.empty() ? problem : problem + " " + root.problem;
}

// The same for the program's own folder, which holds the data before Vista.
std::string ProgramFolderProblem()
{
    win::AnsiPath folder = win::ModuleAnsiPath(nullptr);
    folder.shown.erase(folder.shown.find_last_of('\\') + 1);
    return RootProblem(folder, "Quellor's own folder");
}

// The program path with another extension; nothing without a program path.
std::string Beside(const std::string& extension)
{
    const std::string program = ProgramPath();
    return program.empty() ? std::string() : ChangeFileExt(program, extension);
}

} // namespace

std::string ProgramPath()
{
    return Override().empty() ? ModuleFileName() : Override();
}

std::string ModuleFileName()
{
    return win::ModulePath(nullptr);
}

void SetProgramPathForTests(const std::string& path)
{
    Override() = path;
    FoldersOverride().reset();
}

std::string ProgramFolder()
{
    std::string path = ProgramPath();
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

UserFolders CurrentUserFolders()
{
    if (FoldersOverride()) return *FoldersOverride();
    UserFolders folders;
    folders.perUser = win::IsVistaOrLater();
    if (!folders.perUser) return folders;
    if (!Override().empty()) {
        // A test's program folder stands in for the user's profile.
        folders.localAppData = ProgramFolder() + "AppData\\Local\\";
        folders.localAppDataLow = ProgramFolder() + "AppData\\LocalLow\\";
        return folders;
    }
    // The profile does not move while the program runs.
    static const UserFolders system = [] {
        UserFolders found;
        found.perUser = true;
        win::AnsiPath local = win::KnownFolderPath(win::kFolderLocalAppData);
        win::AnsiPath low = win::KnownFolderPath(win::kFolderLocalAppDataLow);
        found.localAppData = local.usable;
        found.localAppDataLow = low.usable;
        found.localAppDataProblem = RootProblem(local, "your local application data folder");
        found.localAppDataLowProblem = RootProblem(low, "your LocalLow application data folder");
        return found;
    }();
    return system;
}

void SetUserFoldersForTests(const UserFolders& folders)
{
    FoldersOverride() = folders;
}

std::string RuleFolder()
{
    UserFolders folders = CurrentUserFolders();
    return folders.perUser ? DataFolder(folders.localAppData) : ProgramFolder();
}

std::string LogFolder()
{
    UserFolders folders = CurrentUserFolders();
    return folders.perUser ? DataFolder(folders.localAppDataLow) : ProgramFolder();
}

std::vector<std::string> UnusableDataFolders()
{
    const char kUntilFixed[] = " until this is fixed.";
    UserFolders folders = CurrentUserFolders();
    std::vector<std::string> found;
    if (!folders.perUser) {
        if (ProgramFolder().empty())
            found.push_back(ProgramFolderProblem() +
                            " Quellor cannot keep your rules or the history log" + kUntilFixed);
        return found;
    }
    if (folders.localAppData.empty())
        found.push_back(folders.localAppDataProblem + " Quellor cannot keep your rules" +
                        kUntilFixed);
    if (folders.localAppDataLow.empty())
        found.push_back(folders.localAppDataLowProblem + " Quellor cannot keep the history log" +
                        kUntilFixed);
    return found;
}

std::string RuleFilePath()
{
    const std::string folder = RuleFolder();
    if (folder.empty()) throw win::EQuellorError(UnusableDataFolders().front());
    return folder + FileName(ProgramRuleFilePath());
}

std::string StoredLogFilePath()
{
    return In(LogFolder(), FileName(ProgramStoredLogFilePath()));
}

std::string LogFilePath()
{
    return In(LogFolder(), "QUELLOR.log");
}

std::string ProgramRuleFilePath()
{
    return Beside(".rul");
}

std::string ProgramStoredLogFilePath()
{
    return Beside(".log");
}

std::string ProgramLogFilePath()
{
    return In(ProgramFolder(), "QUELLOR.log");
}

std::string HelperLibraryPath()
{
    return Beside(".dll");
}

std::string HelpFilePath()
{
    return In(ProgramFolder(), ui::Application().HelpFile);
}

std::string HelpShortcutTarget()
{
    return Beside(".chm");
}

std::string ChangeFileExt(const std::string& path, const std::string& extension)
{
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of("\\:");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + extension;
    return path.substr(0, dot) + extension;
}

} // namespace app
