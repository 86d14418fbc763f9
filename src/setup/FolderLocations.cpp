#include "setup/FolderLocations.h"

#include <windows.h>

#include <shlobj.h>

#include <algorithm>

#include "win/Handles.h"

namespace setup {

namespace {

std::string WithBackslash(std::string path)
{
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}

// For the Get...DirectoryA family: a result that does not fit counts as not found.
template <typename Call> std::string SystemFolder(Call call)
{
    char buffer[260] = {};
    UINT length = call(buffer, static_cast<UINT>(sizeof buffer));
    if (length == 0 || length >= sizeof buffer) return {};
    return WithBackslash(std::string(buffer, length));
}

std::string StringValue(HKEY key, const char* name)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return {};
    std::string value(size, '\0');
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    value.resize(std::min<size_t>(size, value.size()));
    // The stored terminator (or several) is not part of the text.
    while (!value.empty() && value.back() == '\0')
        value.pop_back();
    return value;
}

} // namespace

std::string GetSpecialFolder(int csidl)
{
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || !items) return {};
    char buffer[261] = {};
    BOOL found = SHGetPathFromIDListA(items, buffer);
    CoTaskMemFree(items);
    if (!found) return {};
    return WithBackslash(buffer);
}

TFolderLocations ReadFolderLocations()
{
    TFolderLocations f;
    f.WindowsDir = SystemFolder([](char* b, UINT n) { return GetWindowsDirectoryA(b, n); });
    f.WindowsDrive = f.WindowsDir.substr(0, 3);
    f.SystemDir = SystemFolder([](char* b, UINT n) { return GetSystemDirectoryA(b, n); });
    f.TempDir = SystemFolder([](char* b, UINT n) { return static_cast<UINT>(GetTempPathA(n, b)); });

    win::RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_READ, key.put()) == ERROR_SUCCESS) {
        f.ProgramFilesDir = WithBackslash(StringValue(key.get(), "ProgramFilesDir"));
        f.CommonFilesDir = WithBackslash(StringValue(key.get(), "CommonFilesDir"));
    }

    f.DesktopDir = GetSpecialFolder(CSIDL_DESKTOPDIRECTORY);
    f.PersonalDir = GetSpecialFolder(CSIDL_PERSONAL);
    f.StartMenuDir = GetSpecialFolder(CSIDL_STARTMENU);
    f.ProgramsDir = GetSpecialFolder(CSIDL_PROGRAMS);
    f.StartupDir = GetSpecialFolder(CSIDL_STARTUP);
    f.CommonDesktopDir = GetSpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
    f.CommonStartMenuDir = GetSpecialFolder(CSIDL_COMMON_STARTMENU);
    f.CommonProgramsDir = GetSpecialFolder(CSIDL_COMMON_PROGRAMS);
    f.CommonStartupDir = GetSpecialFolder(CSIDL_COMMON_STARTUP);
    return f;
}

const TFolderLocations& FolderLocations()
{
    static const TFolderLocations record = ReadFolderLocations();
    return record;
}

} // namespace setup
