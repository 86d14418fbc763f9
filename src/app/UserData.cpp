#include "app/UserData.h"

#include <windows.h>

#include <string>
#include <vector>

#include "app/Paths.h"
#include "setup/SetupOps.h"
#include "win/Files.h"

namespace app {

namespace {

bool FolderExists(const std::string& folder)
{
    DWORD attributes = GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SameFile(const std::string& a, const std::string& b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

void CopyIfOnlyBesideProgram(const std::string& from, const std::string& to)
{
    if (SameFile(from, to) || win::FileExists(to) || !win::FileExists(from)) return;
    CopyFileA(from.c_str(), to.c_str(), TRUE);
}

// The folder's first use for this user: a later start finds it, so a log the user cleared
// or a rule file deleted is not brought back from the program folder.
bool MakeDataFolder(const std::string& folder)
{
    if (FolderExists(folder) || SameFile(folder, ProgramFolder())) return false;
    return setup::ForceDirectories(folder);
}

void RemoveDataFolder(const std::string& root)
{
    if (root.empty()) return;
    RemoveDirectoryA((root + "Tandrel\\Quellor").c_str());
    RemoveDirectoryA((root + "Tandrel").c_str());
}

} // namespace

void PrepareUserData()
{
    if (!CurrentUserFolders().perUser) return;
    const std::string rules = RuleFolder(), log = LogFolder();
    if (!rules.empty() && MakeDataFolder(rules))
        CopyIfOnlyBesideProgram(ProgramRuleFilePath(), RuleFilePath());
    if (!log.empty() && MakeDataFolder(log)) {
        CopyIfOnlyBesideProgram(ProgramStoredLogFilePath(), StoredLogFilePath());
        CopyIfOnlyBesideProgram(ProgramLogFilePath(), LogFilePath());
    }
}

void RemoveUserData()
{
    UserFolders folders = CurrentUserFolders();
    if (!folders.perUser) return;
    const std::string rules = RuleFolder(), log = LogFolder();
    std::vector<std::string> files;
    if (!rules.empty()) files = {RuleFilePath()};
    if (!log.empty()) files.insert(files.end(), {StoredLogFilePath(), LogFilePath()});
    // In the program folder only the fixed names go, as they always did.
    for (const std::string& file : files) {
        std::string folder = file.substr(0, file.find_last_of('\\') + 1);
        if (!SameFile(folder, ProgramFolder())) DeleteFileA(file.c_str());
    }
    RemoveDataFolder(folders.localAppData);
    RemoveDataFolder(folders.localAppDataLow);
}

} // namespace app
