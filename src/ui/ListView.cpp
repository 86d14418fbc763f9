#include "ui/ListView.h"

#include <cstring>

namespace ui {

// What the two kinds of list do differently; all else asks the control.
class TListView::TRowStore {
  public:
    explicit TRowStore(HWND list) : list_(list) {}
    virtual ~TRowStore() = default;
    virtual int Add(std::vector<std::string> texts, LPARAM data, bool updating) = 0;
    virtual void Set(int index, const std::vector<std::string>& texts, LPARAM data) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
    virtual LPARAM Data(int index) const = 0;
    virtual void BeginUpdate() = 0;
    virtual void EndUpdate() = 0;
    // The control's questions about rows it does not hold.
    virtual bool Notify(NMHDR*, LRESULT&) { return false; }

  protected:
    int Count() const { return static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }
    HWND list_;
};

// ---- An ordinary list: the control keeps every row -------------------------------------

class TListView::TControlRows : public TRowStore {
  public:
    using TRowStore::TRowStore;

    int Add(std::vector<std::string> texts, LPARAM data, bool) override
    {
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = Count();
        item.pszText = const_cast<char*>(texts.empty() ? "" : texts[0].c_str());
        item.lParam = data;
        int index = static_cast<int>(
            SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        if (index >= 0) Set(index, texts, data);
        return index;
    }

    void Set(int index, const std::vector<std::string>& texts, LPARAM data) override
    {
        for (size_t column = 0; column < texts.size(); ++column) {
            LVITEMA item{};
            item.iSubItem = static_cast<int>(column);
            item.pszText = const_cast<char*>(texts[column].c_str());
            SendMessageA(list_, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&item));
        }
        LVITEMA item{};
        item.mask = LVIF_PARAM;
        item.iItem = index;
        item.lParam = data;
        SendMessageA(list_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }

    void Delete(int index) override { SendMessageA(list_, LVM_DELETEITEM, index, 0); }
    void Clear() override { SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0); }

    LPARAM Data(int index) const override
    {
        LVITEMA item{};
        item.mask = LVIF_PARAM;
        item.iItem = index;
        SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        return item.lParam;
    }

    void BeginUpdate() override { SendMessageA(list_, WM_SETREDRAW, FALSE, 0); }
    void EndUpdate() override
    {
        SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list_, nullptr, TRUE);
    }
};

// ---- A virtual list: the rows are kept here, tens of thousands go in at once -----------

class TListView::TOwnedRows : public TRowStore {
  public:
    using TRowStore::TRowStore;

    int Add(std::vector<std::string> texts, LPARAM data, bool updating) override
    {
        rows_.push_back({std::move(texts), data});
        if (!updating) SyncCount();
        return static_cast<int>(rows_.size()) - 1;
    }

    void Set(int index, const std::vector<std::string>& texts, LPARAM data) override
    {
        if (!Holds(index)) return;
        rows_[static_cast<size_t>(index)] = {texts, data};
        SendMessageA(list_, LVM_REDRAWITEMS, index, index);
    }

    // The control moves its selection itself; the rows follow.
    void Delete(int index) override
    {
        if (SendMessageA(list_, LVM_DELETEITEM, index, 0) && Holds(index))
            rows_.erase(rows_.begin() + index);
    }

    void Clear() override
    {
        SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
        rows_.clear();
    }

    LPARAM Data(int index) const override
    {
        return Holds(index) ? rows_[static_cast<size_t>(index)].data : 0;
    }

    // Rows added in between are counted when updating ends.
    void BeginUpdate() override {}
    void EndUpdate() override { SyncCount(); }

    bool Notify(NMHDR* header, LRESULT& result) override
    {
        switch (header->code) {
        case LVN_GETDISPINFOA: {
            LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(header)->item;
            if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0)
                lstrcpynA(item.pszText, RowText(item.iItem, item.iSubItem).c_str(),
                          item.cchTextMax);
            if ((item.mask & LVIF_PARAM) && Holds(item.iItem))
                item.lParam = rows_[static_cast<size_t>(item.iItem)].data;
            result = 0;
            return true;
        }
        case LVN_ODFINDITEMA: {
            auto* find = reinterpret_cast<NMLVFINDITEMA*>(header);
            result = FindRow(find->lvfi, find->iStart);
            return true;
        }
        case LVN_ODFINDITEMW: {
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

  private:
    struct Row {
        std::vector<std::string> texts;
        LPARAM data = 0;
    };

    bool Holds(int index) const { return index >= 0 && static_cast<size_t>(index) < rows_.size(); }

    // Only rows added since are new to the control, and it repaints only those in view.
    void SyncCount()
    {
        SendMessageA(list_, LVM_SETITEMCOUNT, rows_.size(),
                     LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    }

    const std::string& RowText(int index, int column) const
    {
        static const std::string none;
        if (!Holds(index) || column < 0) return none;
        const Row& row = rows_[static_cast<size_t>(index)];
        return static_cast<size_t>(column) < row.texts.size()
                   ? row.texts[static_cast<size_t>(column)]
                   : none;
    }

    // Typing in the list: the first row from start on whose first column begins with
    // (or, without LVFI_PARTIAL, is) the typed text, ignoring case.
    int FindRow(const LVFINDINFOA& find, int start) const
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

    std::vector<Row> rows_;
};

// ---- TListView ---------------------------------------------------------------------------

TListView::TListView() = default;
TListView::~TListView()
{
    // A list that outlives this object must not call back into it.
    if (hwnd_ && IsWindow(hwnd_)) RemoveWindowSubclass(hwnd_, SubclassProc, 1);
}

void TListView::Create(TWinContainer& parent, int x, int y, int w, int h, bool ownerData)
{
    CreateWnd(parent, WC_LISTVIEWA, "",
              WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                  (ownerData ? LVS_OWNERDATA : 0),
              WS_EX_CLIENTEDGE, x, y, w, h);
    SendMessageA(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    if (ownerData)
        rows_ = std::make_unique<TOwnedRows>(hwnd_);
    else
        rows_ = std::make_unique<TControlRows>(hwnd_);
    SetWindowSubclass(hwnd_, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK TListView::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                         DWORD_PTR data)
{
    auto* self = reinterpret_cast<TListView*>(data);
    switch (msg) {
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wp) == hwnd && self->OnContextPopup) {
            bool byKeyboard = lp == -1;
            POINT at{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            CatchAtBoundary([&] { self->OnContextPopup(self, at, byKeyboard); });
            return 0;
        }
        break;
    case WM_KEYUP:
        // Windows' default handling asks for the menu when the Applications key is let go,
        // Wine's does not: asked here, once, on both.
        if (wp == VK_APPS) {
            SendMessageA(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), -1);
            return 0;
        }
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, SubclassProc, 1);
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
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

void TListView::DeleteColumn(int index)
{
    SendMessageA(hwnd_, LVM_DELETECOLUMN, index, 0);
}

void TListView::SetColumnWidth(int index, int width)
{
    SendMessageA(hwnd_, LVM_SETCOLUMNWIDTH, index, MAKELPARAM(width, 0));
}

int TListView::AddItem(std::vector<std::string> texts, LPARAM data)
{
    return rows_ ? rows_->Add(std::move(texts), data, updating_ > 0) : -1;
}

void TListView::BeginUpdate()
{
    if (updating_++ == 0 && rows_) rows_->BeginUpdate();
}

void TListView::EndUpdate()
{
    if (updating_ == 0 || --updating_ > 0) return;
    if (rows_) rows_->EndUpdate();
}

void TListView::SetItem(int index, const std::vector<std::string>& texts, LPARAM data)
{
    if (rows_) rows_->Set(index, texts, data);
}

void TListView::DeleteItem(int index)
{
    if (rows_) rows_->Delete(index);
}

void TListView::Clear()
{
    if (rows_) rows_->Clear();
}

int TListView::Count() const
{
    return static_cast<int>(SendMessageA(hwnd_, LVM_GETITEMCOUNT, 0, 0));
}

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
    return rows_ ? rows_->Data(index) : 0;
}

int TListView::SelectedIndex() const
{
    return static_cast<int>(
        SendMessageA(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void TListView::Select(int index)
{
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(hwnd_, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

int TListView::FocusedIndex() const
{
    return static_cast<int>(
        SendMessageA(hwnd_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

void TListView::Focus(int index)
{
    LVITEMA item{};
    item.stateMask = LVIS_FOCUSED;
    item.state = LVIS_FOCUSED;
    SendMessageA(hwnd_, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

int TListView::TopIndex() const
{
    return static_cast<int>(SendMessageA(hwnd_, LVM_GETTOPINDEX, 0, 0));
}

int TListView::RowsPerPage() const
{
    return static_cast<int>(SendMessageA(hwnd_, LVM_GETCOUNTPERPAGE, 0, 0));
}

void TListView::ScrollToTop(int index)
{
    int top = TopIndex();
    RECT row{LVIR_BOUNDS, 0, 0, 0};
    if (Count() == 0 || !SendMessageA(hwnd_, LVM_GETITEMRECT, top, reinterpret_cast<LPARAM>(&row)))
        return;
    // Report views scroll by pixels, in whole rows.
    SendMessageA(hwnd_, LVM_SCROLL, 0, (index - top) * (row.bottom - row.top));
}

void TListView::EnsureVisible(int index)
{
    SendMessageA(hwnd_, LVM_ENSUREVISIBLE, index, FALSE);
}

int TListView::RowAt(POINT screen) const
{
    LVHITTESTINFO hit{};
    hit.pt = screen;
    ScreenToClient(hwnd_, &hit.pt);
    return static_cast<int>(SendMessageA(hwnd_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
}

POINT TListView::MenuPointOf(int index)
{
    EnsureVisible(index);
    RECT label{LVIR_LABEL, 0, 0, 0};
    SendMessageA(hwnd_, LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&label));
    POINT at{label.left + 8, label.bottom};
    ClientToScreen(hwnd_, &at);
    return at;
}

bool TListView::Notify(NMHDR* header, LRESULT& result)
{
    if (header->code == NM_DBLCLK) {
        Fire(OnDblClick, this);
        result = 0;
        return true;
    }
    if (header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<NMLISTVIEW*>(header);
        if ((change->uChanged & LVIF_STATE) &&
            ((change->uNewState ^ change->uOldState) & LVIS_SELECTED))
            Fire(OnChange, this);
    }
    return rows_ && rows_->Notify(header, result);
}

} // namespace ui
