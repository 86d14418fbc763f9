#include "win/Identity.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <wrl/client.h>

#include "win/Handles.h"

using Microsoft::WRL::ComPtr;

namespace win {

namespace {

// TokenElevation and its record are Vista's: the headers of an XP build lack them.
const TOKEN_INFORMATION_CLASS kTokenElevation = static_cast<TOKEN_INFORMATION_CLASS>(20);
struct TokenElevationRecord {
    DWORD elevated;
};

// Balances a successful CoInitialize only; a thread already in another apartment still works.
class ComScope {
  public:
    ComScope() : hr_(CoInitialize(nullptr)) {}
    ~ComScope()
    {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    HRESULT hr_;
};

class Bstr {
  public:
    explicit Bstr(const std::string& text)
    {
        int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
        if (length <= 0) return;
        value_ = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
        if (value_) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, value_, length);
    }
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return value_; }

  private:
    BSTR value_ = nullptr;
};

VARIANT Text(const Bstr& text)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text.get(); // borrowed: the Bstr outlives the call
    return v;
}

// The automation object of the desktop's own folder view, in the shell's process.
ComPtr<IShellDispatch2> DesktopShellDispatch()
{
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                reinterpret_cast<void**>(windows.GetAddressOf()))))
        return nullptr;
    VARIANT desktop, empty;
    VariantInit(&desktop);
    VariantInit(&empty);
    desktop.vt = VT_I4;
    desktop.lVal = CSIDL_DESKTOP;
    long window = 0;
    ComPtr<IDispatch> dispatch;
    // S_FALSE: no desktop window, as with another shell or none.
    if (windows->FindWindowSW(&desktop, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              dispatch.GetAddressOf()) != S_OK ||
        !dispatch)
        return nullptr;
    ComPtr<IServiceProvider> provider;
    ComPtr<IShellBrowser> browser;
    ComPtr<IShellView> view;
    ComPtr<IDispatch> background;
    ComPtr<IShellFolderViewDual> folderView;
    ComPtr<IDispatch> application;
    ComPtr<IShellDispatch2> shell;
    if (FAILED(dispatch.As(&provider)) ||
        FAILED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                      reinterpret_cast<void**>(browser.GetAddressOf()))) ||
        FAILED(browser->QueryActiveShellView(view.GetAddressOf())) ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch,
                                   reinterpret_cast<void**>(background.GetAddressOf()))) ||
        FAILED(background.As(&folderView)) ||
        FAILED(folderView->get_Application(application.GetAddressOf())) || !application ||
        FAILED(application.As(&shell)))
        return nullptr;
    return shell;
}

} // namespace

bool IsElevated()
{
    Kernel token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    TokenElevationRecord record{};
    DWORD size = sizeof record;
    return GetTokenInformation(token.get(), kTokenElevation, &record, size, &size) &&
           record.elevated != 0;
}

bool HasAdministratorRights()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    // Against the thread's effective token: a group held only to deny does not count.
    if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

bool ShellExecuteAsDesktopUser(const std::string& file, const std::string& parameters,
                               const std::string& folder, int show)
{
    ComScope com;
    ComPtr<IShellDispatch2> shell = DesktopShellDispatch();
    if (!shell) return false;
    Bstr fileText(file), parameterText(parameters), folderText(folder), verb("open");
    if (!fileText.get()) return false;
    VARIANT showValue;
    VariantInit(&showValue);
    showValue.vt = VT_I4;
    showValue.lVal = show;
    return SUCCEEDED(shell->ShellExecute(fileText.get(), Text(parameterText), Text(folderText),
                                         Text(verb), showValue));
}

namespace {

ElevatedRun ShellRunAndWait(const char* verb, const std::string& program,
                            const std::string& parameters, const std::string& folder)
{
    ElevatedRun run;
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = verb;
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info)) {
        run.error = GetLastError();
        run.outcome = run.error == ERROR_CANCELLED ? ElevatedRun::Outcome::Refused
                                                   : ElevatedRun::Outcome::Failed;
        return run;
    }
    Kernel process(info.hProcess);
    if (!process) {
        run.error = ERROR_INVALID_HANDLE;
        return run;
    }
    // Its boxes are its own; ours (and broadcasts to our windows) must not wait on it.
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) break;
        if (woke != WAIT_OBJECT_0 + 1) {
            run.error = GetLastError();
            return run;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (!GetExitCodeProcess(info.hProcess, &run.exitCode)) {
        run.error = GetLastError();
        return run;
    }
    run.outcome = ElevatedRun::Outcome::Ran;
    return run;
}

} // namespace

ElevatedRun RunElevated(const std::string& program, const std::string& parameters,
                        const std::string& folder)
{
    return ShellRunAndWait("runas", program, parameters, folder);
}

ElevatedRun RunAndWait(const std::string& program, const std::string& parameters,
                       const std::string& folder)
{
    return ShellRunAndWait(nullptr, program, parameters, folder);
}

} // namespace win
