#include "ui/Menus.h"

#include <algorithm>

#include "win/Handles.h"

namespace ui {

// ---- TPopupMenu -----------------------------------------------------------------------

void TPopupMenu::Popup(HWND owner, int x, int y)
{
    win::Menu menu(CreatePopupMenu());
    for (size_t i = 0; i < Items.size(); ++i) {
        if (Items[i]->IsSeparator())
            AppendMenuA(menu.get(), MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuA(menu.get(), MF_STRING | (Items[i]->Enabled ? 0 : MF_GRAYED), i + 1,
                        Items[i]->Caption.c_str());
    }
    UINT flags = TPM_RETURNCMD | TPM_RIGHTBUTTON;
    flags |= Align == paRight    ? TPM_RIGHTALIGN
             : Align == paCenter ? TPM_CENTERALIGN
                                 : TPM_LEFTALIGN;
    int chosen = TrackPopupMenu(menu.get(), flags, x, y, 0, owner, nullptr);
    if (chosen > 0 && static_cast<size_t>(chosen) <= Items.size() && Items[chosen - 1]->Enabled)
        Items[chosen - 1]->Click();
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
