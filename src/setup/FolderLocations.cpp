#include "setup/FolderLocations.h"

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <iterator>

#include "win/AnsiPath.h"
#include "win/Handles.h"

namespace setup {

namespace {

std::string Usable(const std::wstring& folder)
{
    return win::ToAnsiFolder(folder).usable;
}

// For the Get...DirectoryW family: a result that does not fit counts as not found.
template <typename Call> std::string SystemFolder(Call call)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT length = call(buffer, static_cast<UINT>(std::size(buffer)));
    if (length == 0 || length >= std::size(buffer)) return {};
    return Usable(std::wstring(buffer, length));
}

std::wstring StringValue(HKEY key, const wchar_t* name)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return {};
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    value.resize(std::min<size_t>(size / sizeof(wchar_t), value.size()));
    // The stored terminator (or several) is not part of the text.
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return value;
}

// The path Windows gives for the folder, found or not; empty for none.
std::wstring SpecialFolderWide(int csidl, bool mustExist)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!mustExist)
        return SUCCEEDED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr,
                                          SHGFP_TYPE_CURRENT, buffer))
                   ? buffer
                   : L"";
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || !items) return {};
    BOOL found = SHGetPathFromIDListW(items, buffer);
    CoTaskMemFree(items);
    return found ? buffer : L"";
}

} // namespace

std::string GetSpecialFolder(int csidl)
{
    std::wstring folder = SpecialFolderWide(csidl, true);
    return folder.empty() ? std::string() : Usable(folder);
}

std::string SpecialFolderForMessage(int csidl)
{
    std::wstring folder = SpecialFolderWide(csidl, true);
    if (folder.empty()) folder = SpecialFolderWide(csidl, false);
    if (!folder.empty()) return "the folder \"" + win::ToAnsiFolder(folder).shown + "\"";
    switch (csidl) {
    case CSIDL_STARTUP:
        return "your Startup folder";
    case CSIDL_PROGRAMS:
        return "the Programs folder of your Start menu";
    case CSIDL_STARTMENU:
        return "your Start menu folder";
    case CSIDL_DESKTOPDIRECTORY:
        return "your desktop folder";
    case CSIDL_PERSONAL:
        return "your documents folder";
    case CSIDL_COMMON_STARTUP:
        return "the Startup folder of all users";
    case CSIDL_COMMON_PROGRAMS:
        return "the Programs folder of all users' Start menu";
    case CSIDL_COMMON_STARTMENU:
        return "the Start menu folder of all users";
    case CSIDL_COMMON_DESKTOPDIRECTORY:
        return "the desktop folder of all users";
    default:
        return "the special folder number " + std::to_string(csidl);
    }
}

TFolderLocations ReadFolderLocations()
{
    TFolderLocations f;
    f.WindowsDir = SystemFolder([](wchar_t* b, UINT n) { return GetWindowsDirectoryW(b, n); });
    f.WindowsDrive = f.WindowsDir.substr(0, 3);
    f.SystemDir = SystemFolder([](wchar_t* b, UINT n) { return GetSystemDirectoryW(b, n); });
    f.TempDir =
        SystemFolder([](wchar_t* b, UINT n) { return static_cast<UINT>(GetTempPathW(n, b)); });

    win::RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_READ, key.put()) == ERROR_SUCCESS) {
        f.ProgramFilesDir = Usable(StringValue(key.get(), L"ProgramFilesDir"));
        f.CommonFilesDir = Usable(StringValue(key.get(), L"CommonFilesDir"));
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
