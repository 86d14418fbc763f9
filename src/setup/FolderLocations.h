#pragma once
// The well-known folders of this machine and user, looked up once at start.
#include <string>

namespace setup {

// Each path ends in a backslash, or is empty when the folder was not found or has no name
// in the ANSI code page, neither its own nor a short one.
struct TFolderLocations {
    std::string WindowsDrive;
    std::string WindowsDir;
    std::string SystemDir;
    std::string TempDir;
    std::string ProgramFilesDir;
    std::string CommonFilesDir;
    std::string DesktopDir;
    std::string PersonalDir;
    std::string StartMenuDir;
    std::string ProgramsDir;
    std::string StartupDir;
    std::string CommonDesktopDir;
    std::string CommonStartMenuDir;
    std::string CommonProgramsDir;
    std::string CommonStartupDir;
};

// The path of a shell special folder (a CSIDL value) with a trailing backslash, or "".
std::string GetSpecialFolder(int csidl);

// Names a special folder for a message that says it cannot be used: its path as Windows
// gives it (the folder "C:\Users\?ukasz\...\", a character the code page lacks as '?'), or
// what it is for ("the Startup folder of all users") when Windows gives no path.
std::string SpecialFolderForMessage(int csidl);

// Looks every folder up afresh.
TFolderLocations ReadFolderLocations();

// The process's record: filled on the first call, which the process entry makes before
// the main window exists, and never changed afterwards.
const TFolderLocations& FolderLocations();

} // namespace setup
