#include "ui/Component.h"

#include <algorithm>

namespace ui {

HINSTANCE Instance()
{
    return GetModuleHandleA(nullptr);
}

namespace {
// The one map from a window to its object, for controls and containers alike.
const char kControlProp[] = "Quellor.Control";
} // namespace

void Fire(const TNotifyEvent& handler, TObject* sender)
{
    if (handler) CatchAtBoundary([&] { handler(sender); });
}

// ---- TControl -------------------------------------------------------------------------

TControl::~TControl()
{
    Detach();
}

void TControl::Attach(HWND hwnd)
{
    hwnd_ = hwnd;
    if (hwnd_) SetPropA(hwnd_, kControlProp, this);
}

void TControl::Detach()
{
    if (hwnd_ && IsWindow(hwnd_) && GetPropA(hwnd_, kControlProp) == this)
        RemovePropA(hwnd_, kControlProp);
    hwnd_ = nullptr;
}

void TControl::CreateWnd(TWinContainer& parent, const char* windowClass, const std::string& text,
                         DWORD style, DWORD exStyle, int x, int y, int w, int h)
{
    CreateAttached(windowClass, parent.Handle(), text, style | WS_CHILD | WS_VISIBLE, exStyle,
                   x, y, w, h, nullptr);
}

void TControl::CreateAttached(const char* windowClass, HWND parent, const std::string& text,
                              DWORD style, DWORD exStyle, int x, int y, int w, int h, void* param)
{
    HWND hwnd = CreateWindowExA(exStyle, windowClass, text.c_str(), style, x, y, w, h, parent,
                                nullptr, Instance(), param);
    if (!hwnd)
        throw win::EQuellorError("Unable to create a window of class " + std::string(windowClass));
    Attach(hwnd);
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Application().DefaultFont()), FALSE);
}

bool TControl::Visible() const
{
    return hwnd_ && (GetWindowLongA(hwnd_, GWL_STYLE) & WS_VISIBLE);
}

void TControl::SetVisible(bool visible)
{
    if (hwnd_) ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
}

bool TControl::Enabled() const
{
    return hwnd_ && IsWindowEnabled(hwnd_);
}

void TControl::SetEnabled(bool enabled)
{
    if (hwnd_) EnableWindow(hwnd_, enabled);
}

std::string TControl::Text() const
{
    if (!hwnd_) return {};
    int length = GetWindowTextLengthA(hwnd_);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int copied = GetWindowTextA(hwnd_, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return text;
}

void TControl::SetText(const std::string& text)
{
    if (hwnd_) SetWindowTextA(hwnd_, text.c_str());
}

RECT TControl::Bounds() const
{
    RECT r{};
    if (!hwnd_) return r;
    GetWindowRect(hwnd_, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(hwnd_), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void TControl::SetFocus()
{
    if (hwnd_) ::SetFocus(hwnd_);
}

void TControl::Repaint()
{
    if (hwnd_)
        RedrawWindow(hwnd_, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

HBRUSH TControl::CtlColor(HDC)
{
    return nullptr;
}

// ---- TWinContainer --------------------------------------------------------------------

// Messages that come while the object is half destroyed go to the default procedure.
TWinContainer::~TWinContainer()
{
    Detach();
}

TControl* TWinContainer::ControlOf(HWND hwnd)
{
    return hwnd ? static_cast<TControl*>(GetPropA(hwnd, kControlProp)) : nullptr;
}

void TWinContainer::RegisterClassOnce(const char* className, UINT classStyle, HICON icon)
{
    WNDCLASSA existing{};
    if (GetClassInfoA(Instance(), className, &existing)) return;
    WNDCLASSA wc{};
    wc.style = classStyle;
    wc.lpfnWndProc = StaticWndProc;
    wc.hInstance = Instance();
    wc.hIcon = icon;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
}

void TWinContainer::CreateContainer(const char* className, HWND parent, const std::string& text,
                                    DWORD style, DWORD exStyle, int x, int y, int w, int h)
{
    // This object goes with the window, so the window procedure finds it at WM_NCCREATE.
    CreateAttached(className, parent, text, style, exStyle, x, y, w, h, this);
}

LRESULT CALLBACK TWinContainer::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    // Found through the same property as every control; messages before WM_NCCREATE
    // (WM_GETMINMAXINFO comes first) have no object yet.
    TWinContainer* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<TWinContainer*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
        if (self) self->Attach(hwnd);
    } else {
        self = static_cast<TWinContainer*>(ControlOf(hwnd));
    }
    if (!self) return DefWindowProcA(hwnd, msg, wp, lp);

    LRESULT result = 0;
    CatchAtBoundary([&] { result = self->WndProc(msg, wp, lp); });
    if (msg == WM_NCDESTROY) self->Detach();
    return result;
}

LRESULT TWinContainer::Default(UINT msg, WPARAM wp, LPARAM lp)
{
    return DefWindowProcA(hwnd_, msg, wp, lp);
}

LRESULT TWinContainer::WndProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_COMMAND:
        // Menus and the dialog manager's IDOK/IDCANCEL come with no control: ignored.
        if (TControl* control = ControlOf(reinterpret_cast<HWND>(lp))) {
            control->Command(HIWORD(wp));
            return 0;
        }
        if (lp == 0) return 0;
        break;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lp);
        if (TControl* control = ControlOf(header->hwndFrom)) {
            LRESULT result = 0;
            if (control->Notify(header, result)) return result;
        }
        break;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wp);
        if (TControl* control = ControlOf(reinterpret_cast<HWND>(lp)))
            if (HBRUSH brush = control->CtlColor(dc)) return reinterpret_cast<LRESULT>(brush);
        if (msg == WM_CTLCOLOREDIT) break;
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    default:
        break;
    }
    return Default(msg, wp, lp);
}

} // namespace ui
