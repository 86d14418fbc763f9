#include "win/Vista.h"

#include <objbase.h>

#include "win/Error.h"
#include "win/Handles.h"
#include "win/Modules.h"

namespace win {

const GUID kFolderLocalAppData = {
    0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
const GUID kFolderLocalAppDataLow = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};

bool IsVistaOrLater()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT &&
           info.dwMajorVersion >= 6;
}

AnsiPath KnownFolderPath(const GUID& folder)
{
    using GetFn = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, wchar_t**);
    // shell32 may not be loaded in the browser helper's host: keep it loaded while asking.
    Module shell(LoadSystemLibrary("shell32.dll"));
    auto get = ProcAddress<GetFn>(shell.get(), "SHGetKnownFolderPath");
    if (!get) return {};
    HRESULT result = S_OK;
    auto ask = [&](DWORD flags) {
        wchar_t* wide = nullptr;
        result = get(folder, flags, nullptr, &wide);
        std::wstring path = SUCCEEDED(result) && wide ? wide : L"";
        CoTaskMemFree(wide);
        return path;
    };
    const DWORD kCreate = 0x00008000, kDontVerify = 0x00004000; // KF_FLAG_...
    std::wstring path = ask(kCreate);
    if (!path.empty()) return ToAnsiFolder(path);
    const HRESULT failure = FAILED(result) ? result : E_FAIL;
    // Asked again, without making it, only to tell the user which folder it is.
    AnsiPath unusable = ToAnsiFolder(ask(kDontVerify));
    unusable.usable.clear();
    unusable.problem = "Windows cannot find or make it: " + SystemErrorText(failure);
    if (unusable.problem.back() != '.') unusable.problem += '.';
    return unusable;
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
