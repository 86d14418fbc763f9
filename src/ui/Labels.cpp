#include "ui/Labels.h"

#include <commctrl.h>

namespace ui {

// ---- TLabel ---------------------------------------------------------------------------

void TLabel::Create(TWinContainer& parent, const std::string& caption, int x, int y, int w, int h)
{
    // Sized to the caption, as the design's sizes were: other fonts must not clip it.
    autoWidth_ = autoHeight_ = true;
    CreateWnd(parent, "STATIC", caption, SS_LEFT | SS_NOTIFY | SS_NOPREFIX, 0, x, y, w ? w : 1,
              h ? h : 1);
    SetWindowSubclass(hwnd_, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
    AutoSize();
}

void TLabel::AutoSize()
{
    if (!autoWidth_ && !autoHeight_) return;
    HDC dc = GetDC(hwnd_);
    HFONT font = font_ ? font_.get() : Application().DefaultFont();
    HGDIOBJ old = SelectObject(dc, font);
    std::string text = Text();
    RECT r{0, 0, 0, 0};
    DrawTextA(dc, text.empty() ? " " : text.c_str(), -1, &r, DT_CALCRECT | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    RECT cur = Bounds();
    int w = autoWidth_ ? r.right : cur.right - cur.left;
    int h = autoHeight_ ? r.bottom : cur.bottom - cur.top;
    SetWindowPos(hwnd_, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TLabel::SetFontColor(COLORREF color)
{
    color_ = color;
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void TLabel::SetFont(int height, bool underline)
{
    font_.reset(CreateDialogFont(height, underline));
    SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
    AutoSize();
}

void TLabel::SetHandCursor()
{
    handCursor_ = true;
}

LRESULT CALLBACK TLabel::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                      DWORD_PTR data)
{
    auto* self = reinterpret_cast<TLabel*>(data);
    switch (msg) {
    case WM_SETCURSOR:
        if (self->handCursor_) {
            SetCursor(LoadCursorA(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_SETTEXT: {
        LRESULT result = DefSubclassProc(hwnd, msg, wp, lp);
        self->AutoSize();
        return result;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, SubclassProc, 1);
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

void TLabel::Command(WORD code)
{
    if (code == STN_CLICKED) Fire(OnClick, this);
}

HBRUSH TLabel::CtlColor(HDC dc)
{
    if (color_ != CLR_INVALID) SetTextColor(dc, color_);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return GetSysColorBrush(COLOR_BTNFACE);
}

// ---- TImage ---------------------------------------------------------------------------

void TImage::Create(TWinContainer& parent, int x, int y, int w, int h, HICON icon)
{
    CreateWnd(parent, "STATIC", "", SS_ICON | SS_REALSIZEIMAGE, 0, x, y, w, h);
    SendMessageA(hwnd_, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    SetWindowPos(hwnd_, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

HICON TImage::Icon() const
{
    return reinterpret_cast<HICON>(SendMessageA(hwnd_, STM_GETICON, 0, 0));
}

} // namespace ui
