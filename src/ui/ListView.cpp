#include "ui/ListView.h"

#include <cstring>

namespace ui {

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

} // namespace ui
