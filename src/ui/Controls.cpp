#include "ui/Controls.h"

#include <commdlg.h>

#include <algorithm>
#include <cstring>

#include "ui/Application.h"

namespace ui {

namespace {

const char kControlProp[] = "Quellor.Control";

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

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

void Fire(const TNotifyEvent& handler, TObject* sender)
{
    if (!handler) return;
    try {
        handler(sender);
    } catch (...) {
        Application().HandleCurrentException();
    }
}

// ---- TControl -------------------------------------------------------------------------

TControl::~TControl() { Detach(); }

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
    HWND hwnd = CreateWindowExA(exStyle, windowClass, text.c_str(), style | WS_CHILD | WS_VISIBLE,
                                x, y, w, h, parent.Handle(), nullptr, Instance(), nullptr);
    if (!hwnd) throw win::EQuellorError("Unable to create a window of class " + std::string(windowClass));
    Attach(hwnd);
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Application().DefaultFont()), FALSE);
}

bool TControl::Visible() const { return hwnd_ && (GetWindowLongA(hwnd_, GWL_STYLE) & WS_VISIBLE); }

void TControl::SetVisible(bool visible)
{
    if (hwnd_) ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
}

bool TControl::Enabled() const { return hwnd_ && IsWindowEnabled(hwnd_); }

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
    if (hwnd_) RedrawWindow(hwnd_, nullptr, nullptr,
                            RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

HBRUSH TControl::CtlColor(HDC) { return nullptr; }

// ---- TWinContainer --------------------------------------------------------------------

TWinContainer::~TWinContainer()
{
    if (hwnd_ && IsWindow(hwnd_)) SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
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
    HWND hwnd = CreateWindowExA(exStyle, className, text.c_str(), style, x, y, w, h, parent,
                                nullptr, Instance(), this);
    if (!hwnd) throw win::EQuellorError("Unable to create a window of class " + std::string(className));
    Attach(hwnd);
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Application().DefaultFont()), FALSE);
}

LRESULT CALLBACK TWinContainer::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    TWinContainer* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<TWinContainer*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        if (self) self->hwnd_ = hwnd;
    } else {
        self = reinterpret_cast<TWinContainer*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcA(hwnd, msg, wp, lp);

    LRESULT result = 0;
    try {
        result = self->WndProc(msg, wp, lp);
    } catch (...) {
        Application().HandleCurrentException();
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        RemovePropA(hwnd, kControlProp);
        self->hwnd_ = nullptr;
    }
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
        if (OnCloseQuery) {
            try {
                OnCloseQuery(this, canClose);
            } catch (...) {
                canClose = false;
                Application().HandleCurrentException();
            }
        }
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
            try {
                OnKeyDown(this, key, shift);
            } catch (...) {
                Application().HandleCurrentException();
            }
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

// ---- TGroupBox ------------------------------------------------------------------------

void TGroupBox::Create(TWinContainer& parent, const std::string& caption, int x, int y, int w,
                       int h)
{
    RegisterClassOnce("TGroupBox", 0, nullptr);
    CreateContainer("TGroupBox", parent.Handle(), caption,
                    WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                    WS_EX_CONTROLPARENT, x, y, w, h);
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

// ---- Buttons and check boxes ----------------------------------------------------------

void TButton::Create(TWinContainer& parent, const std::string& caption, int x, int y, int w, int h)
{
    CreateWnd(parent, "BUTTON", caption, WS_TABSTOP | BS_PUSHBUTTON, 0, x, y, w, h);
}

void TButton::Click() { Command(BN_CLICKED); }

void TButton::Command(WORD code)
{
    if (code != BN_CLICKED) return;
    Fire(OnClick, this);
    if (ModalResult != mrNone && hwnd_)
        if (auto* form = dynamic_cast<TForm*>(TWinContainer::ControlOf(GetAncestor(hwnd_, GA_ROOT))))
            form->SetModalResult(ModalResult);
}

void TCheckBox::Create(TWinContainer& parent, const std::string& caption, int x, int y, int w,
                       int h)
{
    CreateWnd(parent, "BUTTON", caption, WS_TABSTOP | BS_AUTOCHECKBOX, 0, x, y, w, h);
}

bool TCheckBox::Checked() const
{
    return SendMessageA(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool checked)
{
    if (checked == Checked()) return;
    SendMessageA(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    Fire(OnClick, this);
}

void TCheckBox::Command(WORD code)
{
    if (code == BN_CLICKED) Fire(OnClick, this);
}

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
        try {
            self->OnKeyPress(self, key);
        } catch (...) {
            Application().HandleCurrentException();
        }
        if (key == 0) return 0;
        wp = static_cast<unsigned char>(key);
    } else if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, SubclassProc, 1);
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

void TEdit::SetMaxLength(int chars) { SendMessageA(hwnd_, EM_LIMITTEXT, chars, 0); }

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

int TComboBox::Count() const { return static_cast<int>(SendMessageA(hwnd_, CB_GETCOUNT, 0, 0)); }

std::string TComboBox::Item(int index) const
{
    LRESULT length = SendMessageA(hwnd_, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT copied = SendMessageA(hwnd_, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == CB_ERR ? 0 : static_cast<size_t>(copied));
    return text;
}

int TComboBox::ItemIndex() const
{
    return static_cast<int>(SendMessageA(hwnd_, CB_GETCURSEL, 0, 0));
}

void TComboBox::SetItemIndex(int index) { SendMessageA(hwnd_, CB_SETCURSEL, index, 0); }

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
    font_.reset(CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, underline, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));
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

// ---- TListView ------------------------------------------------------------------------

void TListView::Create(TWinContainer& parent, int x, int y, int w, int h, bool ownerData)
{
    ownerData_ = ownerData;
    CreateWnd(parent, WC_LISTVIEWA, "",
              WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                  (ownerData ? LVS_OWNERDATA : 0),
              WS_EX_CLIENTEDGE, x, y, w, h);
    SendMessageA(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
}

int TListView::ColumnCount() const
{
    HWND header = reinterpret_cast<HWND>(SendMessageA(hwnd_, LVM_GETHEADER, 0, 0));
    return header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

void TListView::AddColumn(const std::string& caption, int width)
{
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<char*>(caption.c_str());
    column.iSubItem = ColumnCount();
    SendMessageA(hwnd_, LVM_INSERTCOLUMNA, column.iSubItem, reinterpret_cast<LPARAM>(&column));
}

int TListView::AddItem(std::vector<std::string> texts, LPARAM data)
{
    if (ownerData_) {
        rows_.push_back({std::move(texts), data});
        if (!updating_) SyncCount();
        return static_cast<int>(rows_.size()) - 1;
    }
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = Count();
    item.pszText = const_cast<char*>(texts.empty() ? "" : texts[0].c_str());
    item.lParam = data;
    int index = static_cast<int>(SendMessageA(hwnd_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (index >= 0) SetItem(index, texts, data);
    return index;
}

void TListView::BeginUpdate()
{
    if (updating_++ == 0 && !ownerData_) SendMessageA(hwnd_, WM_SETREDRAW, FALSE, 0);
}

void TListView::EndUpdate()
{
    if (updating_ == 0 || --updating_ > 0) return;
    if (ownerData_) {
        SyncCount();
    } else {
        SendMessageA(hwnd_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(hwnd_, nullptr, TRUE);
    }
}

void TListView::SyncCount()
{
    SendMessageA(hwnd_, LVM_SETITEMCOUNT, rows_.size(), LVSICF_NOSCROLL);
}

void TListView::SetItem(int index, const std::vector<std::string>& texts, LPARAM data)
{
    if (ownerData_) {
        if (index < 0 || static_cast<size_t>(index) >= rows_.size()) return;
        rows_[static_cast<size_t>(index)] = {texts, data};
        SendMessageA(hwnd_, LVM_REDRAWITEMS, index, index);
        return;
    }
    for (size_t column = 0; column < texts.size(); ++column) {
        LVITEMA item{};
        item.iSubItem = static_cast<int>(column);
        item.pszText = const_cast<char*>(texts[column].c_str());
        SendMessageA(hwnd_, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&item));
    }
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    item.lParam = data;
    SendMessageA(hwnd_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void TListView::DeleteItem(int index)
{
    // A virtual list moves its selection itself; its rows follow.
    if (SendMessageA(hwnd_, LVM_DELETEITEM, index, 0) && ownerData_ && index >= 0 &&
        static_cast<size_t>(index) < rows_.size())
        rows_.erase(rows_.begin() + index);
}

void TListView::Clear()
{
    SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
    rows_.clear();
}

int TListView::Count() const { return static_cast<int>(SendMessageA(hwnd_, LVM_GETITEMCOUNT, 0, 0)); }

std::string TListView::ItemText(int index, int column) const
{
    // The control copies what fits: grow the buffer until the whole text did.
    for (int size = 1024;; size *= 4) {
        std::string buffer(static_cast<size_t>(size), '\0');
        LVITEMA item{};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = size;
        int copied = static_cast<int>(
            SendMessageA(hwnd_, LVM_GETITEMTEXTA, index, reinterpret_cast<LPARAM>(&item)));
        if (copied < size - 1 || size >= (1 << 20)) {
            buffer.resize(std::strlen(buffer.c_str()));
            return buffer;
        }
    }
}

LPARAM TListView::ItemData(int index) const
{
    if (ownerData_)
        return index >= 0 && static_cast<size_t>(index) < rows_.size()
                   ? rows_[static_cast<size_t>(index)].data
                   : 0;
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    SendMessageA(hwnd_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

int TListView::SelectedIndex() const
{
    return static_cast<int>(SendMessageA(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void TListView::Select(int index)
{
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(hwnd_, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

const std::string& TListView::RowText(int index, int column) const
{
    static const std::string none;
    if (index < 0 || static_cast<size_t>(index) >= rows_.size() || column < 0) return none;
    const Row& row = rows_[static_cast<size_t>(index)];
    return static_cast<size_t>(column) < row.texts.size() ? row.texts[static_cast<size_t>(column)]
                                                          : none;
}

// Typing in a virtual list: the first row from start on whose first column begins with
// (or, without LVFI_PARTIAL, is) the typed text, ignoring case.
int TListView::FindRow(const LVFINDINFOA& find, int start) const
{
    if (!(find.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.psz || rows_.empty()) return -1;
    std::string wanted = find.psz;
    int count = static_cast<int>(rows_.size());
    if (start < 0 || start >= count) start = 0;
    int steps = find.flags & LVFI_WRAP ? count : count - start;
    for (int step = 0; step < steps; ++step) {
        int index = (start + step) % count;
        std::string text = RowText(index, 0);
        if (find.flags & LVFI_PARTIAL) text = text.substr(0, wanted.size());
        if (lstrcmpiA(text.c_str(), wanted.c_str()) == 0) return index;
    }
    return -1;
}

bool TListView::Notify(NMHDR* header, LRESULT& result)
{
    switch (header->code) {
    case NM_DBLCLK:
        Fire(OnDblClick, this);
        result = 0;
        return true;
    case LVN_GETDISPINFOA: {
        if (!ownerData_) return false;
        LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(header)->item;
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0)
            lstrcpynA(item.pszText, RowText(item.iItem, item.iSubItem).c_str(), item.cchTextMax);
        if ((item.mask & LVIF_PARAM) && item.iItem >= 0 &&
            static_cast<size_t>(item.iItem) < rows_.size())
            item.lParam = rows_[static_cast<size_t>(item.iItem)].data;
        result = 0;
        return true;
    }
    case LVN_ODFINDITEMA: {
        if (!ownerData_) return false;
        auto* find = reinterpret_cast<NMLVFINDITEMA*>(header);
        result = FindRow(find->lvfi, find->iStart);
        return true;
    }
    case LVN_ODFINDITEMW: {
        if (!ownerData_) return false;
        auto* find = reinterpret_cast<NMLVFINDITEMW*>(header);
        char text[256] = {};
        if (find->lvfi.psz)
            WideCharToMultiByte(CP_ACP, 0, find->lvfi.psz, -1, text, sizeof text - 1, nullptr,
                                nullptr);
        LVFINDINFOA ansi{};
        ansi.flags = find->lvfi.flags;
        ansi.psz = find->lvfi.psz ? text : nullptr;
        result = FindRow(ansi, find->iStart);
        return true;
    }
    default:
        return false;
    }
}

// ---- TUpDown --------------------------------------------------------------------------

void TUpDown::Create(TWinContainer& parent, TEdit& buddy, int x, int y, int w, int h)
{
    CreateWnd(parent, UPDOWN_CLASSA, "", UDS_SETBUDDYINT | UDS_NOTHOUSANDS | UDS_ARROWKEYS, 0, x,
              y, w, h);
    SendMessageA(hwnd_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy.Handle()), 0);
}

void TUpDown::SetRange(int low, int high) { SendMessageA(hwnd_, UDM_SETRANGE32, low, high); }

void TUpDown::SetIncrement(int step)
{
    UDACCEL accel{0, static_cast<UINT>(step)};
    SendMessageA(hwnd_, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));
}

void TUpDown::SetPosition(int position) { SendMessageA(hwnd_, UDM_SETPOS32, 0, position); }

int TUpDown::Position() const
{
    BOOL error = FALSE;
    return static_cast<int>(SendMessageA(hwnd_, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)));
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

// ---- TPopupMenu -----------------------------------------------------------------------

void TPopupMenu::Popup(HWND owner, int x, int y)
{
    win::Menu menu(CreatePopupMenu());
    for (size_t i = 0; i < Items.size(); ++i) {
        if (Items[i]->IsSeparator())
            AppendMenuA(menu.get(), MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuA(menu.get(), MF_STRING, i + 1, Items[i]->Caption.c_str());
    }
    UINT flags = TPM_RETURNCMD | TPM_RIGHTBUTTON;
    flags |= Align == paRight ? TPM_RIGHTALIGN : Align == paCenter ? TPM_CENTERALIGN : TPM_LEFTALIGN;
    int chosen = TrackPopupMenu(menu.get(), flags, x, y, 0, owner, nullptr);
    if (chosen > 0 && static_cast<size_t>(chosen) <= Items.size()) Items[chosen - 1]->Click();
}

// ---- TOpenDialog ----------------------------------------------------------------------

bool TOpenDialog::Execute(HWND owner)
{
    std::string filter = Filter;
    std::replace(filter.begin(), filter.end(), '|', '\0');
    filter.append(2, '\0');
    char file[MAX_PATH * 4] = {};
    FileName.copy(file, sizeof file - 1);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    ofn.Flags = Options | OFN_EXPLORER;
    if (!GetOpenFileNameA(&ofn)) return false;
    FileName = file;
    return true;
}

} // namespace ui
