#pragma once
// The report list.
#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/Component.h"

namespace ui {

class TListView : public TControl {
  public:
    TNotifyEvent OnDblClick;
    // The selection moved to another row or to none.
    TNotifyEvent OnChange;
    // A right click on the rows (the control has selected the row under the pointer by
    // then), Shift+F10 or the Applications key; the header's right click is not one.
    TContextPopupEvent OnContextPopup;
    // With ownerData the rows are kept here and the control asks for the texts it shows
    // (a virtual list): tens of thousands of rows go in at once.
    void Create(TWinContainer& parent, int x, int y, int w, int h, bool ownerData = false);
    TListView();
    ~TListView() override;
    void AddColumn(const std::string& caption, int width);
    void DeleteColumn(int index);
    void SetColumnWidth(int index, int width);
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
    // Selects the row and gives it the focus.
    void Select(int index);
    // The row with the focus rectangle, which need not be the selected one; -1 for none.
    int FocusedIndex() const;
    void Focus(int index);
    // The first row in view, and how many whole rows the view shows.
    int TopIndex() const;
    int RowsPerPage() const;
    // Scrolls the rows so that this one is the first in view, as far as the list goes.
    void ScrollToTop(int index);
    void EnsureVisible(int index);
    // The row under a point of the screen; -1 when there is none.
    int RowAt(POINT screen) const;
    // Where a menu for the row opens from the keyboard: below the start of its text, on the
    // screen, with the row scrolled into view first.
    POINT MenuPointOf(int index);
    bool Notify(NMHDR* header, LRESULT& result) override;

  private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    // Where the rows live, chosen once at Create: in the control (an ordinary list) or
    // here (a virtual list, whose control asks for the texts it shows).
    class TRowStore;
    class TControlRows;
    class TOwnedRows;
    std::unique_ptr<TRowStore> rows_;
    int updating_ = 0;
};

// An update of the list that ends when this goes out of scope, however the scope is left:
// an update left open keeps a virtual list's count where it was for good.
class TListUpdate {
  public:
    explicit TListUpdate(TListView& list) : list_(list) { list_.BeginUpdate(); }
    ~TListUpdate() { list_.EndUpdate(); }
    TListUpdate(const TListUpdate&) = delete;
    TListUpdate& operator=(const TListUpdate&) = delete;

  private:
    TListView& list_;
};

} // namespace ui
