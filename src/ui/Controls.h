#pragma once
// A thin component layer over Win32: forms, controls with named events, timers, a pop-up
// menu and the file-open dialog. Controls are non-owning views of windows that their
// parent destroys; events fire through Fire(), which never lets an exception escape.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "win/Handles.h"

namespace ui {

class TObject {
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;
using TKeyPressEvent = std::function<void(TObject* sender, char& key)>;

// Runs an event handler; an error ends the handler and goes to the application's
// error handler, as every event dispatch must.
void Fire(const TNotifyEvent& handler, TObject* sender);

class TWinContainer;

class TControl : public TObject {
public:
    TControl() = default;
    ~TControl() override;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    HWND Handle() const { return hwnd_; }
    bool Visible() const;
    void SetVisible(bool visible);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    std::string Text() const;
    void SetText(const std::string& text);
    RECT Bounds() const; // relative to the parent's client area
    void SetFocus();
    void Repaint();

    // Notifications reflected from the parent window.
    virtual void Command(WORD /*code*/) {}
    virtual bool Notify(NMHDR* /*header*/, LRESULT& /*result*/) { return false; }
    virtual HBRUSH CtlColor(HDC dc);

protected:
    void CreateWnd(TWinContainer& parent, const char* windowClass, const std::string& text,
                   DWORD style, DWORD exStyle, int x, int y, int w, int h);
    void Attach(HWND hwnd);
    void Detach();

    HWND hwnd_ = nullptr;
};

// A window of our own class that hosts controls and reflects their notifications.
class TWinContainer : public TControl {
public:
    ~TWinContainer() override;
    static TControl* ControlOf(HWND hwnd);

protected:
    static void RegisterClassOnce(const char* className, UINT classStyle, HICON icon);
    void CreateContainer(const char* className, HWND parent, const std::string& text, DWORD style,
                         DWORD exStyle, int x, int y, int w, int h);
    virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Default(UINT msg, WPARAM wp, LPARAM lp);

private:
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
};

class TTimer;

enum TModalResult { mrNone = 0, mrOk = IDOK, mrCancel = IDCANCEL };

class TForm : public TWinContainer {
public:
    TNotifyEvent OnShow, OnDestroy;
    std::function<void(TObject* sender, bool& canClose)> OnCloseQuery;
    std::function<void(TObject* sender, WORD& key, UINT shift)> OnKeyDown;

    // Creates the top-level window: fixed border, caption, client size, centred on the
    // screen (owner == nullptr or centreOnOwner false) or over the owner window.
    void CreateForm(const char* className, const std::string& caption, int clientWidth,
                    int clientHeight, HWND owner, bool dialogFrame, bool centreOnOwner);
    void Show();
    void Hide();
    bool Showing() const { return Visible(); }
    int ShowModal();
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }
    void Destroy();

    void AddTimer(TTimer* timer) { timers_.push_back(timer); }

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    std::vector<TTimer*> timers_;
    int modalResult_ = mrNone;
    bool modal_ = false;
};

class TGroupBox : public TWinContainer {
public:
    void Create(TWinContainer& parent, const std::string& caption, int x, int y, int w, int h);

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
};

class TPageControl;

class TTabSheet : public TWinContainer {
public:
    void Create(TPageControl& pages, const std::string& caption);
    int PageIndex() const { return index_; }

private:
    friend class TPageControl;
    int index_ = -1;
};

class TPageControl : public TControl {
public:
    TNotifyEvent OnChange;
    // Tabs drawn as buttons, each tabWidth pixels wide.
    void Create(TWinContainer& parent, int x, int y, int w, int h, int tabWidth);
    TTabSheet* ActivePage() const;
    // From code: no change event, as with a user's choice only.
    void SetActivePage(TTabSheet& page);
    bool Notify(NMHDR* header, LRESULT& result) override;

private:
    friend class TTabSheet;
    void AddSheet(TTabSheet& sheet, const std::string& caption);
    void ShowSelected();
    std::vector<TTabSheet*> sheets_;
    TWinContainer* parent_ = nullptr;
};

class TButton : public TControl {
public:
    TNotifyEvent OnClick;
    int ModalResult = mrNone; // closes its form with this result when clicked
    void Create(TWinContainer& parent, const std::string& caption, int x, int y, int w, int h);
    void Click();
    void Command(WORD code) override;
};

class TCheckBox : public TControl {
public:
    TNotifyEvent OnClick;
    void Create(TWinContainer& parent, const std::string& caption, int x, int y, int w, int h);
    bool Checked() const;
    // Raises OnClick when the state changes, as a user's click does.
    void SetChecked(bool checked);
    void Command(WORD code) override;
};

class TEdit : public TControl {
public:
    TNotifyEvent OnChange;
    TKeyPressEvent OnKeyPress;
    void Create(TWinContainer& parent, int x, int y, int w, int h, DWORD extraStyle = 0);
    void SetMaxLength(int chars);
    void SetColor(int sysColorIndex); // COLOR_WINDOW or COLOR_BTNFACE
    int Color() const { return color_; }
    void Command(WORD code) override;
    HBRUSH CtlColor(HDC dc) override;

protected:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    int color_ = COLOR_WINDOW;
};

class TMemo : public TEdit {
public:
    void Create(TWinContainer& parent, int x, int y, int w, int h);
    void SetLines(const std::vector<std::string>& lines);
    std::vector<std::string> Lines() const;
    void InsertLine(size_t index, const std::string& line);
};

// A drop-down list: choice only, no typing, items kept in the order added.
class TComboBox : public TControl {
public:
    // h is the closed height; the list drops below it.
    void Create(TWinContainer& parent, int x, int y, int w, int h);
    void AddItem(const std::string& text);
    int Count() const;
    std::string Item(int index) const;
    int ItemIndex() const; // -1 when nothing is chosen
    void SetItemIndex(int index);
};

class TLabel : public TControl {
public:
    TNotifyEvent OnClick;
    // Always sized to the caption; the width and height given are the design's.
    void Create(TWinContainer& parent, const std::string& caption, int x, int y, int w = 0,
                int h = 0);
    void SetFontColor(COLORREF color);
    void SetFont(int height, bool underline);
    void SetHandCursor();
    void Command(WORD code) override;
    HBRUSH CtlColor(HDC dc) override;
    COLORREF FontColor() const { return color_; }

private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void AutoSize();
    COLORREF color_ = CLR_INVALID;
    win::Font font_;
    bool autoWidth_ = false, autoHeight_ = false;
    // Kept here, not in the control ID: the dialog manager takes ID 1 for the OK button
    // and would click the label on Enter.
    bool handCursor_ = false;
};

class TListView : public TControl {
public:
    TNotifyEvent OnDblClick;
    // With ownerData the rows are kept here and the control asks for the texts it shows
    // (a virtual list): tens of thousands of rows go in at once.
    void Create(TWinContainer& parent, int x, int y, int w, int h, bool ownerData = false);
    void AddColumn(const std::string& caption, int width);
    int AddItem(std::vector<std::string> texts, LPARAM data = 0);
    // Rows added in between are drawn, and in a virtual list counted, when updating ends.
    void BeginUpdate();
    void EndUpdate();
    void SetItem(int index, const std::vector<std::string>& texts, LPARAM data);
    void DeleteItem(int index);
    void Clear();
    int Count() const;
    int ColumnCount() const;
    std::string ItemText(int index, int column) const;
    LPARAM ItemData(int index) const;
    int SelectedIndex() const;
    void Select(int index);
    bool Notify(NMHDR* header, LRESULT& result) override;

private:
    struct Row {
        std::vector<std::string> texts;
        LPARAM data = 0;
    };
    const std::string& RowText(int index, int column) const;
    int FindRow(const LVFINDINFOA& find, int start) const;
    void SyncCount();
    bool ownerData_ = false;
    int updating_ = 0;
    std::vector<Row> rows_; // a virtual list's rows
};

class TUpDown : public TControl {
public:
    void Create(TWinContainer& parent, TEdit& buddy, int x, int y, int w, int h);
    void SetRange(int low, int high);
    void SetIncrement(int step);
    void SetPosition(int position);
    // Taken from the buddy's text, as the control does when asked.
    int Position() const;
};

class TImage : public TControl {
public:
    void Create(TWinContainer& parent, int x, int y, int w, int h, HICON icon);
    HICON Icon() const;
};

class TTimer : public TObject {
public:
    TNotifyEvent OnTimer;
    void Create(TForm& owner, UINT interval, bool enabled);
    ~TTimer() override;
    bool Enabled() const { return enabled_; }
    // Enabling a running timer changes nothing; its period is not restarted.
    void SetEnabled(bool enabled);
    UINT Interval() const { return interval_; }
    UINT_PTR Id() const { return reinterpret_cast<UINT_PTR>(this); }
    void Tick();

private:
    TForm* owner_ = nullptr;
    UINT interval_ = 1000;
    bool enabled_ = false;
};

class TMenuItem : public TObject {
public:
    std::string Caption;
    TNotifyEvent OnClick;
    void Click() { Fire(OnClick, this); }
    bool IsSeparator() const { return Caption == "-"; }
};

class TPopupMenu : public TObject {
public:
    enum Alignment { paLeft, paRight, paCenter };
    Alignment Align = paLeft;
    std::vector<TMenuItem*> Items;
    // Tracks the menu until an item is chosen (whose OnClick then runs) or it is dismissed.
    void Popup(HWND owner, int x, int y);
};

class TOpenDialog : public TObject {
public:
    std::string Filter; // "Description|pattern|..."
    std::string Title;
    std::string InitialDir;
    std::string FileName;
    // The current folder stays: nothing of ours may depend on where the user browsed.
    DWORD Options = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    bool Execute(HWND owner);
};

} // namespace ui
