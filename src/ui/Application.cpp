#include "ui/Application.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>

#include "ui/Controls.h"

namespace ui {

TApplication& Application()
{
    static TApplication app;
    return app;
}

std::string ErrorBoxText(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

HFONT CreateDialogFont(int height, bool underline)
{
    return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, underline, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
}

TApplication::TApplication() = default;

TApplication::~TApplication()
{
    if (handle_) DestroyWindow(handle_);
    if (comInitialized_) CoUninitialize();
}

void TApplication::Initialize()
{
    if (handle_) return;
    comInitialized_ = SUCCEEDED(CoInitialize(nullptr));
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES |
                                              ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);

    font_.reset(CreateDialogFont(-11, false));

    WNDCLASSA wc{};
    wc.lpfnWndProc = AppWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hIcon = LoadIconA(wc.hInstance, "MAINICON");
    wc.lpszClassName = "TApplication";
    RegisterClassA(&wc);
    handle_ = CreateWindowExA(0, "TApplication", Title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                              0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

LRESULT CALLBACK TApplication::AppWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    return DefWindowProcA(hwnd, msg, wp, lp);
}

bool TApplication::IsFormWindow(HWND hwnd) const
{
    return dynamic_cast<TForm*>(TWinContainer::ControlOf(hwnd)) != nullptr;
}

void TApplication::Dispatch(MSG& msg)
{
    // Tab order, mnemonics and arrow keys on our forms, as in a dialog.
    if (msg.hwnd) {
        HWND root = GetAncestor(msg.hwnd, GA_ROOT);
        if (root && IsFormWindow(root) && IsDialogMessageA(root, &msg)) return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

bool TApplication::HandleMessage()
{
    MSG msg;
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
        terminated_ = true;
        return false;
    }
    Dispatch(msg);
    return !terminated_;
}

void TApplication::ProcessMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        Dispatch(msg);
    }
}

void TApplication::Run()
{
    if (mainForm_ && ShowMainForm) mainForm_->Show();
    while (!terminated_ && HandleMessage()) {
    }
    if (mainForm_) mainForm_->Destroy();
}

void TApplication::Terminate()
{
    terminated_ = true;
    PostQuitMessage(0);
}

void TApplication::BringToFront()
{
    TForm* target = ActiveModal() ? ActiveModal() : mainForm_;
    if (!target || !target->Handle()) return;
    HWND hwnd = target->Handle();
    if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
        if (IsIconic(hwnd)) ShowWindow(hwnd, SW_RESTORE);
        SetForegroundWindow(hwnd);
    }
}

bool TApplication::HelpCommand(WORD command, LONG data)
{
    bool callHelp = true;
    bool handled = false;
    if (OnHelp && !CatchAtBoundary([&] { handled = OnHelp(command, data, callHelp); }))
        return false;
    // There is no standard help engine to call: a request it would get shows nothing.
    return handled;
}

int TApplication::ShowMessageBox(const std::string& text, const std::string& caption, UINT flags,
                             HWND owner)
{
    if (MessageBoxHook) return MessageBoxHook(owner, text, caption, flags);
    return ::MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
}

void TApplication::HandleException(const std::string& message)
{
    // Owned by the form the user sees, so that it stays disabled while the box is up and
    // no second click can stack another box or re-enter the handler.
    HWND owner = handle_;
    if (ActiveModal())
        owner = ActiveModal()->Handle();
    else if (mainForm_ && mainForm_->Handle() && IsWindowVisible(mainForm_->Handle()))
        owner = mainForm_->Handle();
    ShowMessageBox(ErrorBoxText(message), Title, MB_OK | MB_ICONSTOP, owner);
}

void TApplication::HandleCurrentException() noexcept
{
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            HandleException(e.what());
        } catch (...) {
            HandleException("Unexpected error");
        }
    } catch (...) {
        // The error box itself failed: nothing more can be shown.
    }
}

void TApplication::PushModal(TForm* form) { modal_.push_back(form); }

void TApplication::PopModal()
{
    if (!modal_.empty()) modal_.pop_back();
}

} // namespace ui
