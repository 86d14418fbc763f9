#include "setup/HelperRegistration.h"

#include "app/Paths.h"
#include "setup/SetupOps.h"
#include "win/Error.h"
#include "win/Files.h"
#include "win/Handles.h"
#include "win/Modules.h"

namespace setup {

namespace {

std::string SystemWindowsFolder()
{
    char folder[MAX_PATH] = {};
    UINT length = GetSystemWindowsDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::string path = folder;
    if (path.back() != '\\') path += '\\';
    return path;
}

// Turns off the file-system redirection of this thread while it lives: on Windows XP x64
// without Sysnative, the only way for a 32-bit process to reach the 64-bit System32.
class NativeFileSystem {
  public:
    NativeFileSystem()
    {
        using Disable = BOOL(WINAPI*)(PVOID*);
        if (auto disable =
                win::SystemCall<Disable>("kernel32.dll", "Wow64DisableWow64FsRedirection"))
            active_ = disable(&old_);
    }
    ~NativeFileSystem()
    {
        using Revert = BOOL(WINAPI*)(PVOID);
        if (active_)
            if (auto revert =
                    win::SystemCall<Revert>("kernel32.dll", "Wow64RevertWow64FsRedirection"))
                revert(old_);
    }
    NativeFileSystem(const NativeFileSystem&) = delete;
    NativeFileSystem& operator=(const NativeFileSystem&) = delete;

  private:
    PVOID old_ = nullptr;
    BOOL active_ = FALSE;
};

bool StartProcess(const std::string& program, std::string commandLine, PROCESS_INFORMATION& info)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
}

LONG DeleteKeyInView(HKEY root, const std::string& path, REGSAM view)
{
    if (!view) return RegDeleteKeyA(root, path.c_str());
    using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCSTR, REGSAM, DWORD);
    auto deleteKeyEx = win::SystemCall<DeleteKeyEx>("advapi32.dll", "RegDeleteKeyExA");
    return deleteKeyEx ? deleteKeyEx(root, path.c_str(), view, 0) : ERROR_CALL_NOT_IMPLEMENTED;
}

// The key's subkeys first, each named in the same view; whatever stays makes the key's
// own deletion fail, and that failure is the result.
LONG DeleteTree(HKEY root, const std::string& path, REGSAM view)
{
    std::vector<std::string> children;
    {
        win::RegKey key;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | view, key.put()) ==
            ERROR_SUCCESS) {
            char name[256];
            DWORD length = sizeof name;
            for (DWORD index = 0; RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr,
                                                nullptr, nullptr) == ERROR_SUCCESS;
                 ++index, length = sizeof name)
                children.push_back(name);
        }
    }
    for (const std::string& child : children)
        DeleteTree(root, path + "\\" + child, view);
    return DeleteKeyInView(root, path, view);
}

} // namespace

bool Is64BitWindows()
{
    // Where Windows can name its own processor (10 and later), only x86-64 counts: the
    // 64-bit regsvr32 and browsers of ARM64 Windows cannot load QUELLOR64.DLL.
    using IsWow64Process2 = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    if (auto isWow64Process2 =
            win::SystemCall<IsWow64Process2>("kernel32.dll", "IsWow64Process2")) {
        USHORT process = 0, native = 0;
        return isWow64Process2(GetCurrentProcess(), &process, &native) &&
               process != IMAGE_FILE_MACHINE_UNKNOWN && native == IMAGE_FILE_MACHINE_AMD64;
    }
    using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64 = win::SystemCall<IsWow64>("kernel32.dll", "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

std::vector<THelperLibrary> HelperLibraries(const std::string& libraryPath, bool windows64)
{
    return {
        {libraryPath, "QUELLOR.DLL", "quellor.dll", false, true},
        {app::ChangeFileExt(libraryPath, "64.dll"), "QUELLOR64.DLL", "quellor64.dll", true,
         windows64},
    };
}

bool IsX64Library(const std::string& path)
{
    win::File file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    auto readAt = [&](LONG offset, void* data, DWORD size) {
        DWORD got = 0;
        return SetFilePointer(file.get(), offset, nullptr, FILE_BEGIN) !=
                   INVALID_SET_FILE_POINTER &&
               ReadFile(file.get(), data, size, &got, nullptr) && got == size;
    };
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    return readAt(0, &dos, sizeof dos) && dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew > 0 &&
           readAt(dos.e_lfanew, &signature, sizeof signature) && signature == IMAGE_NT_SIGNATURE &&
           readAt(dos.e_lfanew + sizeof signature, &header, sizeof header) &&
           header.Machine == IMAGE_FILE_MACHINE_AMD64;
}

bool RunRegsvr32(const std::string& library, bool unregister)
{
    const std::string windows = SystemWindowsFolder();
    if (windows.empty()) return false;
    const std::string arguments =
        std::string(" /s ") + (unregister ? "/u " : "") + "\"" + library + "\"";
    // A 32-bit process sees System32 through WOW64 as SysWOW64, with the 32-bit regsvr32
    // in it; Sysnative is the real System32 (Vista and later, XP x64 with its update).
    const std::string sysnative = windows + "Sysnative\\regsvr32.exe";
    PROCESS_INFORMATION info{};
    bool started = false;
    if (win::FileExists(sysnative)) {
        started = StartProcess(sysnative, "\"" + sysnative + "\"" + arguments, info);
    } else {
        NativeFileSystem native;
        const std::string system32 = windows + "System32\\regsvr32.exe";
        started = StartProcess(system32, "\"" + system32 + "\"" + arguments, info);
    }
    if (!started) return false;
    win::Kernel process(info.hProcess), thread(info.hThread);
    // Silent, it shows nothing and only loads the library: a minute is far more than enough.
    DWORD code = 1;
    return WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(process.get(), &code) && code == 0;
}

bool RegisterHelper(const THelperLibrary& library)
{
    if (!library.is64Bit) return RegisterServerDll(library.path);
    return win::FileExists(library.path) && HasDllExtension(library.path) &&
           IsX64Library(library.path) && RunRegsvr32(library.path, false);
}

bool UnregisterHelper(const THelperLibrary& library)
{
    if (!library.is64Bit) return UnregisterServerDll(library.path);
    return win::FileExists(library.path) && HasDllExtension(library.path) &&
           IsX64Library(library.path) && RunRegsvr32(library.path, true);
}

bool MachineKeyExists(const std::string& path, REGSAM view)
{
    win::RegKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, key.put()) ==
           ERROR_SUCCESS;
}

std::string RemoveMachineKey(const std::string& path, REGSAM view)
{
    LONG result = DeleteTree(HKEY_LOCAL_MACHINE, path, view);
    if (!MachineKeyExists(path, view)) return {};
    return "HKEY_LOCAL_MACHINE\\" + path + (view == KEY_WOW64_64KEY ? " (64-bit)" : "") + ": " +
           win::SystemErrorText(
               HRESULT_FROM_WIN32(result == ERROR_SUCCESS ? ERROR_ACCESS_DENIED : result)) +
           "\r\n";
}

} // namespace setup
