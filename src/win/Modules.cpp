#include "win/Modules.h"

namespace win {

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
