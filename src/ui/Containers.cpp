#include "ui/Containers.h"

#include <commctrl.h>

namespace ui {

// ---- TGroupBox ------------------------------------------------------------------------

void TGroupBox::Create(TWinContainer& parent, const std::string& caption, int x, int y, int w,
                       int h)
{
    RegisterClassOnce("TGroupBox", 0, nullptr);
    CreateContainer("TGroupBox", parent.Handle(), caption,
                    WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT,
                    x, y, w, h);
}

LRESULT TGroupBox::WndProc(UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        HGDIOBJ oldFont = SelectObject(dc, Application().DefaultFont());
        TEXTMETRICA tm{};
        GetTextMetricsA(dc, &tm);
        RECT r;
        GetClientRect(hwnd_, &r);
        r.top = tm.tmHeight / 2;
        DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
        std::string caption = Text();
        if (!caption.empty()) {
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
            SetBkMode(dc, OPAQUE);
            TextOutA(dc, 8, 0, caption.c_str(), static_cast<int>(caption.size()));
        }
        SelectObject(dc, oldFont);
        EndPaint(hwnd_, &ps);
        return 0;
    }
    if (msg == WM_SETTEXT) {
        LRESULT result = TWinContainer::WndProc(msg, wp, lp);
        InvalidateRect(hwnd_, nullptr, TRUE);
        return result;
    }
    return TWinContainer::WndProc(msg, wp, lp);
}

// ---- TPageControl and TTabSheet -------------------------------------------------------

void TPageControl::Create(TWinContainer& parent, int x, int y, int w, int h, int tabWidth)
{
    parent_ = &parent;
    CreateWnd(parent, WC_TABCONTROLA, "",
              WS_TABSTOP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TCS_BUTTONS | TCS_FIXEDWIDTH,
              WS_EX_CONTROLPARENT, x, y, w, h);
    // Height of one row of tabs as the control makes it for the font.
    TCITEMA probe{};
    probe.mask = TCIF_TEXT;
    probe.pszText = const_cast<char*>("X");
    SendMessageA(hwnd_, TCM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&probe));
    RECT item{};
    SendMessageA(hwnd_, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    SendMessageA(hwnd_, TCM_DELETEITEM, 0, 0);
    SendMessageA(hwnd_, TCM_SETITEMSIZE, 0, MAKELPARAM(tabWidth, item.bottom - item.top));
}

void TTabSheet::Create(TPageControl& pages, const std::string& caption)
{
    RegisterClassOnce("TTabSheet", 0, nullptr);
    CreateContainer("TTabSheet", pages.Handle(), caption,
                    WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT, 0, 0, 0, 0);
    pages.AddSheet(*this, caption);
}

void TPageControl::AddSheet(TTabSheet& sheet, const std::string& caption)
{
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(caption.c_str());
    sheet.index_ = static_cast<int>(sheets_.size());
    SendMessageA(hwnd_, TCM_INSERTITEMA, sheets_.size(), reinterpret_cast<LPARAM>(&item));
    sheets_.push_back(&sheet);
    RECT display;
    GetClientRect(hwnd_, &display);
    SendMessageA(hwnd_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    for (TTabSheet* s : sheets_)
        SetWindowPos(s->Handle(), nullptr, display.left, display.top, display.right - display.left,
                     display.bottom - display.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowSelected();
}

TTabSheet* TPageControl::ActivePage() const
{
    int index = static_cast<int>(SendMessageA(hwnd_, TCM_GETCURSEL, 0, 0));
    return index >= 0 && index < static_cast<int>(sheets_.size()) ? sheets_[index] : nullptr;
}

void TPageControl::SetActivePage(TTabSheet& page)
{
    SendMessageA(hwnd_, TCM_SETCURSEL, page.index_, 0);
    ShowSelected();
}

void TPageControl::ShowSelected()
{
    TTabSheet* active = ActivePage();
    for (TTabSheet* sheet : sheets_)
        if (sheet != active) sheet->SetVisible(false);
    if (active) active->SetVisible(true);
}

bool TPageControl::Notify(NMHDR* header, LRESULT& result)
{
    if (header->code == TCN_SELCHANGE) {
        ShowSelected();
        Fire(OnChange, this);
        result = 0;
        return true;
    }
    return false;
}

} // namespace ui
