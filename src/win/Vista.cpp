#include "win/Vista.h"

#include <objbase.h>

#include <vector>

#include "win/Handles.h"
#include "win/Modules.h"

namespace win {

const GUID kFolderLocalAppData = {
    0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
const GUID kFolderLocalAppDataLow = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};

namespace {

// Only a path that names the same folder in the ANSI code page: a best-fit look-alike could
// name another one.
bool ToAnsi(const wchar_t* wide, std::string& ansi)
{
    BOOL lossy = FALSE;
    int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) return false;
    ansi.assign(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi.data(), size, nullptr,
                        nullptr);
    ansi.resize(static_cast<size_t>(size) - 1);
    return true;
}

} // namespace

bool IsVistaOrLater()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           info.dwMajorVersion >= 6;
}

std::string KnownFolderPath(const GUID& folder)
{
    using GetFn = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, wchar_t**);
    // shell32 may not be loaded in the browser helper's host: keep it loaded while asking.
    Module shell(LoadSystemLibrary("shell32.dll"));
    auto get = ProcAddress<GetFn>(shell.get(), "SHGetKnownFolderPath");
    if (!get) return {};
    const DWORD kCreate = 0x00008000; // KF_FLAG_CREATE
    wchar_t* wide = nullptr;
    if (FAILED(get(folder, kCreate, nullptr, &wide)) || !wide) return {};
    std::string path;
    bool ok = ToAnsi(wide, path);
    if (!ok) {
        // The short name has no character outside the code page, where the volume keeps one.
        std::vector<wchar_t> shortName(32768);
        DWORD length = GetShortPathNameW(wide, shortName.data(), 32768);
        ok = length > 0 && length < 32768 && ToAnsi(shortName.data(), path);
    }
    CoTaskMemFree(wide);
    if (!ok || path.empty()) return {};
    if (path.back() != '\\') path += '\\';
    return path;
}

MessageFilterApi SystemMessageFilterApi()
{
    MessageFilterApi api;
    api.window =
        SystemCall<MessageFilterApi::WindowFn>("user32.dll", "ChangeWindowMessageFilterEx");
    api.process =
        SystemCall<MessageFilterApi::ProcessFn>("user32.dll", "ChangeWindowMessageFilter");
    return api;
}

FilterCall AllowMessageFromLowerIntegrity(HWND window, UINT message, const MessageFilterApi& api)
{
    const DWORD kAllow = 1; // MSGFLT_ALLOW and MSGFLT_ADD alike
    if (api.window) {
        api.window(window, message, kAllow, nullptr);
        return FilterCall::Window;
    }
    if (api.process) {
        api.process(message, kAllow);
        return FilterCall::Process;
    }
    return FilterCall::None;
}

} // namespace win
