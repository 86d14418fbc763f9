#pragma once
// The pop-up menu and its items, and the file-open dialog.
#include <windows.h>

#include <commdlg.h>

#include <string>
#include <vector>

#include "ui/Component.h"

namespace ui {

class TMenuItem : public TObject {
  public:
    std::string Caption;
    // A disabled item is shown greyed and cannot be chosen.
    bool Enabled = true;
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
