#include "ui/Form.h"

namespace ui {

// ---- TForm ----------------------------------------------------------------------------

void TForm::CreateForm(const char* className, const std::string& caption, int clientWidth,
                       int clientHeight, HWND owner, bool dialogFrame, bool centreOnOwner)
{
    // A dialog frame shows no icon in its caption; a class icon would still be drawn.
    RegisterClassOnce(className, CS_DBLCLKS,
                      dialogFrame ? nullptr : LoadIconA(Instance(), "MAINICON"));
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    DWORD exStyle = WS_EX_CONTROLPARENT;
    if (dialogFrame) {
        style |= DS_MODALFRAME;
        exStyle |= WS_EX_DLGMODALFRAME;
    } else {
        style |= WS_MINIMIZEBOX;
        exStyle |= WS_EX_APPWINDOW;
    }
    RECT r{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    int w = r.right - r.left, h = r.bottom - r.top;

    RECT area{};
    if (centreOnOwner && owner && IsWindowVisible(owner))
        GetWindowRect(owner, &area);
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    int x = area.left + ((area.right - area.left) - w) / 2;
    int y = area.top + ((area.bottom - area.top) - h) / 2;

    CreateContainer(className, owner, caption, style, exStyle, x, y, w, h);
    if (dialogFrame) {
        SendMessageA(hwnd_, WM_SETICON, ICON_BIG, 0);
        SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, 0);
    }
}

void TForm::Show()
{
    if (!hwnd_) return;
    if (!IsWindowVisible(hwnd_)) Fire(OnShow, this);
    ShowWindow(hwnd_, SW_SHOW);
}

void TForm::Hide()
{
    if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
}

void TForm::Destroy()
{
    if (hwnd_) DestroyWindow(hwnd_);
}

int TForm::ShowModal()
{
    HWND owner = GetWindow(hwnd_, GW_OWNER);
    bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);
    modal_ = true;
    modalResult_ = mrNone;
    Application().PushModal(this);
    Show();
    SetForegroundWindow(hwnd_);
    while (modalResult_ == mrNone) {
        if (!Application().HandleMessage()) {
            modalResult_ = mrCancel; // the application is ending
            break;
        }
    }
    // Give the owner back its input before this window goes, so it is activated.
    if (ownerWasEnabled) EnableWindow(owner, TRUE);
    Hide();
    Application().PopModal();
    modal_ = false;
    return modalResult_;
}

LRESULT TForm::WndProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_TIMER:
        for (TTimer* timer : timers_) {
            if (timer->Id() == wp) {
                timer->Tick();
                return 0;
            }
        }
        break;
    case WM_CLOSE: {
        bool canClose = true;
        if (OnCloseQuery && !CatchAtBoundary([&] { OnCloseQuery(this, canClose); }))
            canClose = false;
        if (modal_) {
            if (canClose) modalResult_ = mrCancel;
            return 0;
        }
        Hide();
        if (canClose && Application().MainForm() == this) Application().Terminate();
        return 0;
    }
    case WM_KEYDOWN:
        if (OnKeyDown) {
            WORD key = static_cast<WORD>(wp);
            UINT shift = (GetKeyState(VK_SHIFT) < 0 ? MK_SHIFT : 0) |
                         (GetKeyState(VK_CONTROL) < 0 ? MK_CONTROL : 0);
            CatchAtBoundary([&] { OnKeyDown(this, key, shift); });
            if (key == 0) return 0;
        }
        break;
    case WM_HELP:
        // A help request from a control (F1 with the focus on it): context help.
        Application().HelpCommand(HELP_CONTEXT, 0);
        return TRUE;
    case WM_DESTROY:
        Fire(OnDestroy, this);
        return 0;
    default:
        break;
    }
    return TWinContainer::WndProc(msg, wp, lp);
}

// ---- TTimer ---------------------------------------------------------------------------

void TTimer::Create(TForm& owner, UINT interval, bool enabled)
{
    owner_ = &owner;
    interval_ = interval;
    owner.AddTimer(this);
    SetEnabled(enabled);
}

TTimer::~TTimer()
{
    if (enabled_ && owner_ && owner_->Handle()) KillTimer(owner_->Handle(), Id());
}

void TTimer::SetEnabled(bool enabled)
{
    if (enabled == enabled_ || !owner_ || !owner_->Handle()) return;
    enabled_ = enabled;
    if (enabled)
        SetTimer(owner_->Handle(), Id(), interval_, nullptr);
    else
        KillTimer(owner_->Handle(), Id());
}

void TTimer::Tick()
{
    if (enabled_) Fire(OnTimer, this);
}

} // namespace ui
