#include "win/Modules.h"

namespace win {

AnsiPath ModuleAnsiPath(HMODULE module)
{
    // A path that does not fit is cut to the buffer without a sign beyond its length.
    std::wstring path(MAX_PATH + 1, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return ToAnsiPath(path);
        }
        if (path.size() > 32768) return {}; // longer than any path the system has
        path.resize(path.size() * 2);
    }
}

std::string ModulePath(HMODULE module)
{
    return ModuleAnsiPath(module).usable;
}

HMODULE LoadSystemLibrary(const std::string& name)
{
    UINT length = GetSystemDirectoryA(nullptr, 0);
    if (length == 0) return nullptr;
    std::string folder(length, '\0');
    length = GetSystemDirectoryA(folder.data(), length);
    if (length == 0 || length >= folder.size()) return nullptr;
    folder.resize(length);
    if (folder.back() != '\\') folder += '\\';
    return LoadLibraryA((folder + name).c_str());
}

} // namespace win
