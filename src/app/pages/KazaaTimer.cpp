// The ad blocker's timer: a pass over the file-sharing client's windows, four times a second.
#include "adblock/KazaaBlocker.h"
#include "app/frmMain.h"

void TfrmMain::tmrKazaaTimer(ui::TObject*)
{
    tmrKazaa.SetEnabled(false);
    // However the pass ends, the timer runs again and its next period counts from here.
    struct EnableOnExit {
        ui::TTimer& timer;
        ~EnableOnExit() { timer.SetEnabled(true); }
    } enableOnExit{tmrKazaa};

    // The box as it stands now, applied or not.
    if (!chkBlockFileSharingAds.Checked()) return;

    KazaaWnd = nullptr;
    EnumWindows(adblock::FindKazaaWindowProc, reinterpret_cast<LPARAM>(&KazaaWnd));
    if (!KazaaWnd) return;

    DWORD pid = 0;
    // Gone since it was found: nothing of it is left to clean.
    if (!GetWindowThreadProcessId(KazaaWnd, &pid)) return;
    EnumWindows(adblock::CloseKazaaBrowsersProc, static_cast<LPARAM>(pid));
    EnumChildWindows(KazaaWnd, adblock::ClearKazaaAdsProc, 0);
}
