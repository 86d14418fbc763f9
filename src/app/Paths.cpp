#include "app/Paths.h"

#include <windows.h>

#include "ui/Application.h"
#include "win/Modules.h"

namespace app {

namespace {
std::string& Override()
{
    static std::string path;
    return path;
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

void SetProgramPathForTests(const std::string& path) { Override() = path; }

std::string ProgramFolder()
{
    std::string path = ProgramPath();
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string RuleFilePath()
{
    return ChangeFileExt(ProgramPath(), ".rul");
}

std::string StoredLogFilePath()
{
    return ChangeFileExt(ProgramPath(), ".log");
}

std::string LogFilePath()
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
