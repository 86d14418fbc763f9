#pragma once
// Text boxes, the read-only memo, the drop-down list and the up-down arrows.
#include <windows.h>

#include <string>
#include <vector>

#include "ui/Component.h"

namespace ui {

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

class TUpDown : public TControl {
  public:
    void Create(TWinContainer& parent, TEdit& buddy, int x, int y, int w, int h);
    void SetRange(int low, int high);
    void SetIncrement(int step);
    void SetPosition(int position);
    // Taken from the buddy's text, as the control does when asked.
    int Position() const;
};

} // namespace ui
