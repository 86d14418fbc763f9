#include "setup/Package.h"

#include <windows.h>

#include <cctype>

#include "win/Handles.h"

namespace setup {

namespace {

// The value goes onto msiexec's command line: nothing but a braced GUID may.
bool IsProductCode(const std::string& text)
{
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != '-' : !isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

} // namespace

TInstalledPackage InstalledPackage()
{
    win::RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPackageKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                      key.put()) != ERROR_SUCCESS)
        return {};
    auto read = [&](const char* name) {
        char data[MAX_PATH + 1] = {};
        DWORD size = sizeof data - 1, type = 0;
        if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data),
                             &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return std::string();
        return std::string(data);
    };
    TInstalledPackage package{read("ProductCode"), read("InstallFolder")};
    if (!IsProductCode(package.productCode)) return {};
    return package;
}

win::ElevatedRun RemovePackage(const std::string& productCode)
{
    char system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        win::ElevatedRun run;
        run.error = length ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
        return run;
    }
    return win::RunAndWait(std::string(system) + "\\msiexec.exe",
                           "/x " + productCode + " /qb /norestart", "");
}

} // namespace setup
