#include "app/UserData.h"

#include "history/LogWriter.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "app/Paths.h"
#include "history/LogWriter.h"
#include "setup/SetupOps.h"
#include "win/Files.h"
#include "win/Handles.h"

namespace app {

namespace {

// Made in a data folder right after the folder, removed once every copy into it
// succeeded: until then each start tries again. The folder alone cannot tell, since
// browsers and Apply write into it.
const char kCopyPending[] = "QUELLOR.pending";
// A copy is made under this name first, so that no half-copied file ever takes the real
// name, where the next start would keep it as the user's own.
const char kPartial[] = ".partial";

bool FolderExists(const std::string& folder)
{
    DWORD attributes = GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SameFile(const std::string& a, const std::string& b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// True once nothing is left to copy: the copy is made, or the program folder has no such
// file, or the user has one of that name, which is never replaced.
bool CopyIfOnlyBesideProgram(const std::string& from, const std::string& to)
{
    if (from.empty()) return false; // the program folder cannot be used now: later
    if (SameFile(from, to) || !win::FileExists(from) || win::FileExists(to)) return true;
    const std::string partial = to + kPartial;
    bool done = CopyFileA(from.c_str(), partial.c_str(), FALSE) &&
                (MoveFileA(partial.c_str(), to.c_str()) || GetLastError() == ERROR_ALREADY_EXISTS);
    DeleteFileA(partial.c_str());
    return done;
}

bool MakePendingMark(const std::string& path)
{
    win::File file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_HIDDEN, nullptr));
    return static_cast<bool>(file);
}

// Makes the folder on the user's first start, and copies into it until every copy
// succeeded once.
void PrepareDataFolder(const std::string& folder,
                       const std::vector<std::pair<std::string, std::string>>& copies)
{
    if (folder.empty() || SameFile(folder, ProgramFolder())) return;
    const std::string pending = folder + kCopyPending;
    if (!FolderExists(folder)) {
        if (!setup::ForceDirectories(folder)) return;
        if (!MakePendingMark(pending)) {
            // Without the mark a failed copy would never be tried again: no copy now, and
            // the next start finds no folder, as today's did.
            RemoveDirectoryA(folder.c_str());
            return;
        }
    } else if (!win::FileExists(pending)) {
        return;
    }
    bool done = true;
    for (const auto& [from, to] : copies)
        done = CopyIfOnlyBesideProgram(from, to) && done;
    if (done) DeleteFileA(pending.c_str());
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
    if (!rules.empty()) PrepareDataFolder(rules, {{ProgramRuleFilePath(), RuleFilePath()}});
    PrepareDataFolder(log, {{ProgramStoredLogFilePath(), StoredLogFilePath()},
                            {ProgramLogFilePath(), LogFilePath()}});
}

void RemoveUserData()
{
    UserFolders folders = CurrentUserFolders();
    if (!folders.perUser) return;
    const std::string rules = RuleFolder(), log = LogFolder();
    std::vector<std::string> files;
    if (!rules.empty()) files = {RuleFilePath(), rules + kCopyPending};
    if (!log.empty())
        files.insert(files.end(),
                     {StoredLogFilePath(), LogFilePath(), log + kCopyPending,
                      StoredLogFilePath() + ".trim", StoredLogFilePath() + ".uncounted"});
    for (const std::string& file : files) {
        // In the program folder only the fixed names go, as they always did.
        std::string folder = file.substr(0, file.find_last_of('\\') + 1);
        if (SameFile(folder, ProgramFolder())) continue;
        DeleteFileA(file.c_str());
        DeleteFileA((file + kPartial).c_str()); // left by a copy cut short
    }
    if (!log.empty()) history::ForgetKeptKills(StoredLogFilePath());
    RemoveDataFolder(folders.localAppData);
    RemoveDataFolder(folders.localAppDataLow);
}

} // namespace app
