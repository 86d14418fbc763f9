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
    // With ownerData the rows are kept here and the control asks for the texts it shows
    // (a virtual list): tens of thousands of rows go in at once.
    void Create(TWinContainer& parent, int x, int y, int w, int h, bool ownerData = false);
    TListView();
    ~TListView() override;
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
    // Where the rows live, chosen once at Create: in the control (an ordinary list) or
    // here (a virtual list, whose control asks for the texts it shows).
    class TRowStore;
    class TControlRows;
    class TOwnedRows;
    std::unique_ptr<TRowStore> rows_;
    int updating_ = 0;
};

} // namespace ui
