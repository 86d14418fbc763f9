#include "app/Paths.h"

#include <windows.h>

#include <optional>

#include "ui/Application.h"
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
    return root.empty() ? ProgramFolder() : root + kDataSubfolder;
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
        found.localAppData = win::KnownFolderPath(win::kFolderLocalAppData);
        found.localAppDataLow = win::KnownFolderPath(win::kFolderLocalAppDataLow);
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

std::string RuleFilePath()
{
    return RuleFolder() + FileName(ProgramRuleFilePath());
}

std::string StoredLogFilePath()
{
    return LogFolder() + FileName(ProgramStoredLogFilePath());
}

std::string LogFilePath()
{
    return LogFolder() + "QUELLOR.log";
}

std::string ProgramRuleFilePath()
{
    return ChangeFileExt(ProgramPath(), ".rul");
}

std::string ProgramStoredLogFilePath()
{
    return ChangeFileExt(ProgramPath(), ".log");
}

std::string ProgramLogFilePath()
{
    return ProgramFolder() + "QUELLOR.log";
}

std::string HelperLibraryPath()
{
    return ChangeFileExt(ProgramPath(), ".dll");
}

std::string HelpFilePath()
{
    return ProgramFolder() + ui::Application().HelpFile;
}

std::string HelpShortcutTarget()
{
    return ChangeFileExt(ProgramPath(), ".chm");
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
