#include "setup/SetupOps.h"

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <cstdio>

#include "win/Error.h"
#include "win/Files.h"
#include "win/Handles.h"
#include "win/Modules.h"

using Microsoft::WRL::ComPtr;

namespace setup {

bool HasDllExtension(const std::string& path)
{
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of("\\/:");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string extension = path.substr(dot);
    CharLowerBuffA(extension.data(), static_cast<DWORD>(extension.size()));
    return extension == ".dll";
}

namespace {

bool CallServerEntry(const std::string& path, const char* entry)
{
    if (!win::FileExists(path) || !HasDllExtension(path)) return false;
    win::Module library(LoadLibraryA(path.c_str()));
    if (!library) return false;
    using ServerEntry = HRESULT(STDAPICALLTYPE*)();
    auto call = win::ProcAddress<ServerEntry>(library.get(), entry);
    if (!call) return false;
    // A library that refuses is no more registered than one without the entry point.
    return SUCCEEDED(call());
}

void Check(HRESULT hr)
{
    if (FAILED(hr)) throw win::EQuellorError(win::SystemErrorText(hr));
}

// Balances a successful CoInitialize; a failed one must not be undone.
class ComScope {
  public:
    ComScope() { Check(CoInitialize(nullptr)); }
    ~ComScope() { CoUninitialize(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
};

} // namespace

bool RegisterServerDll(const std::string& path)
{
    return CallServerEntry(path, "DllRegisterServer");
}

bool UnregisterServerDll(const std::string& path)
{
    return CallServerEntry(path, "DllUnregisterServer");
}


bool ForceDirectories(const std::string& folder)
{
    std::string path = folder;
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    if (path.empty()) return false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t slash = path.find_last_of("\\/");
    // A drive root or a bare name has no parent to make first.
    if (slash != std::string::npos && slash > 0 && path[slash - 1] != ':' &&
        !ForceDirectories(path.substr(0, slash)))
        return false;
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool CreateShortcut(const std::string& name, const std::string& description,
                    const std::string& target, const std::string& folder,
                    const std::string& workingFolder, const std::string& iconFile, int iconIndex,
                    const std::string& arguments)
{
    if (folder.empty()) throw win::EQuellorError("Unable to create directory");
    // A folder that cannot be made shows up as the failure of the save below.
    ForceDirectories(folder);

    ComScope com;
    ComPtr<IShellLinkA> link;
    Check(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                           reinterpret_cast<void**>(link.GetAddressOf())));
    ComPtr<IPersistFile> file;
    Check(link.As(&file));
    Check(link->SetPath(target.c_str()));
    Check(link->SetDescription(description.c_str()));
    Check(link->SetWorkingDirectory(workingFolder.c_str()));
    Check(link->SetArguments(arguments.c_str()));
    if (!iconFile.empty()) Check(link->SetIconLocation(iconFile.c_str(), iconIndex));

    std::string path = folder;
    if (path.back() != '\\') path += '\\';
    path += name + ".lnk";
    wchar_t widePath[260];
    if (!MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, 260)) {
        DWORD error = GetLastError();
        // "Buffer too small" would puzzle the user; the name is what is too long.
        if (error == ERROR_SUCCESS || error == ERROR_INSUFFICIENT_BUFFER)
            error = ERROR_FILENAME_EXCED_RANGE;
        Check(HRESULT_FROM_WIN32(error));
    }
    Check(file->Save(widePath, TRUE));
    return true;
}

} // namespace setup
