// The notification-area icon and its menu.
#include <cstring>

#include "app/frmMain.h"

void TfrmMain::TrayIconSetTip()
{
    // The first version of the record, which is what the shell is told it gets, holds 64
    // bytes of tip: 63 characters at most, and the terminating zero.
    std::string tip = ui::Application().Title.substr(0, kTrayTipChars);
    std::memset(TrayIconData.szTip, 0, sizeof TrayIconData.szTip);
    std::memcpy(TrayIconData.szTip, tip.data(), tip.size());
    Shell_NotifyIconA(NIM_MODIFY, &TrayIconData);
}

void TfrmMain::TrayIconAdd()
{
    TrayIconData.cbSize = kTrayRecordSize;
    TrayIconData.hWnd = Handle();
    TrayIconData.uID = static_cast<UINT>(reinterpret_cast<UINT_PTR>(this));
    TrayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    TrayIconData.uCallbackMessage = WM_TRAYMESSAGE;
    TrayIconData.hIcon = TrayMainIcon();
    Shell_NotifyIconA(NIM_ADD, &TrayIconData);
}

void TfrmMain::TrayIconUpdate() { Shell_NotifyIconA(NIM_MODIFY, &TrayIconData); }

void TfrmMain::TrayIconDelete() { Shell_NotifyIconA(NIM_DELETE, &TrayIconData); }

void TfrmMain::WMTrayMessage(WPARAM, LPARAM lp)
{
    switch (lp) {
    case WM_LBUTTONDBLCLK:
        Show();
        ui::Application().BringToFront();
        break;
    case WM_RBUTTONUP: {
        POINT cursor{};
        GetCursorPos(&cursor);
        mnuTrayPopup.Align = ui::TPopupMenu::paRight;
        // Without the foreground the menu would not close when the user clicks elsewhere.
        SetForegroundWindow(Handle());
        mnuTrayPopup.Popup(Handle(), cursor.x, cursor.y);
        PostMessageA(Handle(), WM_NULL, 0, 0);
        break;
    }
    default:
        break;
    }
}

void TfrmMain::mnuTrayItemClick(ui::TObject* sender)
{
    if (sender == &mnuExit) {
        ui::Application().Terminate();
        return;
    }
    ui::TTabSheet* page = sender == &mnuDefaultBehaviour ? &tabDefault
                          : sender == &mnuRulesEngine    ? &tabRules
                          : sender == &mnuHistoryLog     ? &tabHistory
                          : sender == &mnuAbout          ? &tabAbout
                                                         : nullptr;
    if (!page) return;
    Show();
    ui::Application().BringToFront();
    pageMain.SetActivePage(*page);
    pageMainChange(&pageMain);
}
