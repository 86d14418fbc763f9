#include "ui/Edits.h"

#include <commctrl.h>

#include <algorithm>

namespace ui {

namespace {

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

} // namespace

// ---- Edit boxes -----------------------------------------------------------------------

void TEdit::Create(TWinContainer& parent, int x, int y, int w, int h, DWORD extraStyle)
{
    CreateWnd(parent, "EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL | extraStyle, WS_EX_CLIENTEDGE, x, y,
              w, h);
    SetWindowSubclass(hwnd_, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK TEdit::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                     DWORD_PTR data)
{
    auto* self = reinterpret_cast<TEdit*>(data);
    if (msg == WM_CHAR && self->OnKeyPress) {
        char key = static_cast<char>(wp);
        CatchAtBoundary([&] { self->OnKeyPress(self, key); });
        if (key == 0) return 0;
        wp = static_cast<unsigned char>(key);
    } else if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, SubclassProc, 1);
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

void TEdit::SetMaxLength(int chars)
{
    SendMessageA(hwnd_, EM_LIMITTEXT, chars, 0);
}

void TEdit::SetColor(int sysColorIndex)
{
    color_ = sysColorIndex;
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void TEdit::Command(WORD code)
{
    if (code == EN_CHANGE) Fire(OnChange, this);
}

HBRUSH TEdit::CtlColor(HDC dc)
{
    SetBkColor(dc, GetSysColor(color_));
    if (!IsWindowEnabled(hwnd_)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    return GetSysColorBrush(color_);
}

void TMemo::Create(TWinContainer& parent, int x, int y, int w, int h)
{
    CreateWnd(parent, "EDIT", "",
              WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_WANTRETURN,
              WS_EX_CLIENTEDGE, x, y, w, h);
    color_ = COLOR_BTNFACE;
}

void TMemo::SetLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) text += "\r\n";
        text += lines[i];
    }
    SetText(text);
}

std::vector<std::string> TMemo::Lines() const
{
    std::string text = Text();
    if (text.empty()) return {};
    return SplitLines(text);
}

void TMemo::InsertLine(size_t index, const std::string& line)
{
    std::vector<std::string> lines = Lines();
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(std::min(index, lines.size())), line);
    SetLines(lines);
}

// ---- TComboBox ------------------------------------------------------------------------

void TComboBox::Create(TWinContainer& parent, int x, int y, int w, int h)
{
    // The window's height is the dropped-down list's; the closed box takes its height
    // from the font.
    CreateWnd(parent, WC_COMBOBOXA, "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, x, y, w,
              h + 160);
}

void TComboBox::AddItem(const std::string& text)
{
    SendMessageA(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int TComboBox::Count() const
{
    return static_cast<int>(SendMessageA(hwnd_, CB_GETCOUNT, 0, 0));
}

std::string TComboBox::Item(int index) const
{
    LRESULT length = SendMessageA(hwnd_, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT copied =
        SendMessageA(hwnd_, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == CB_ERR ? 0 : static_cast<size_t>(copied));
    return text;
}

int TComboBox::ItemIndex() const
{
    return static_cast<int>(SendMessageA(hwnd_, CB_GETCURSEL, 0, 0));
}

void TComboBox::SetItemIndex(int index)
{
    SendMessageA(hwnd_, CB_SETCURSEL, index, 0);
}

// ---- TUpDown --------------------------------------------------------------------------

void TUpDown::Create(TWinContainer& parent, TEdit& buddy, int x, int y, int w, int h)
{
    CreateWnd(parent, UPDOWN_CLASSA, "", UDS_SETBUDDYINT | UDS_NOTHOUSANDS | UDS_ARROWKEYS, 0, x, y,
              w, h);
    SendMessageA(hwnd_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy.Handle()), 0);
}

void TUpDown::SetRange(int low, int high)
{
    SendMessageA(hwnd_, UDM_SETRANGE32, low, high);
}

void TUpDown::SetIncrement(int step)
{
    UDACCEL accel{0, static_cast<UINT>(step)};
    SendMessageA(hwnd_, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));
}

void TUpDown::SetPosition(int position)
{
    SendMessageA(hwnd_, UDM_SETPOS32, 0, position);
}

int TUpDown::Position() const
{
    BOOL error = FALSE;
    return static_cast<int>(SendMessageA(hwnd_, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)));
}

} // namespace ui
