#pragma once
// Controls that hold others: the group box and the page control with its sheets.
#include <windows.h>

#include <string>
#include <vector>

#include "ui/Component.h"

namespace ui {

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

} // namespace ui
