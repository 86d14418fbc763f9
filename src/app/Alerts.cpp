// Kill notifications from the browser helper: the tray icon flashes and the alert sound
// plays, and a History Log page on the screen shows the kill. What counts is the state of
// the settings page's controls, applied or not.
#include <string>

#include "app/Sound.h"
#include "app/frmMain.h"
#include "helper_contract/HelperContract.h"

void TfrmMain::RegisterKillMessage()
{
    KillMessage = RegisterWindowMessageA(contract::kKillMessageName);
}

void TfrmMain::KillNotification(UINT msg)
{
    if (KillMessage == 0 || msg != KillMessage) return;
    if (chkVisualAlert.Checked()) {
        // A running timer keeps its rhythm: the next tick starts the sequence again.
        AnimationStep = 0;
        tmrSysTrayAnimate.SetEnabled(true);
    }
    // Last, whatever the alerts: the History Log shows the kill and the counters as they
    // stand once everything else was done for it.
    RefreshHistory();
}

void TfrmMain::tmrSysTrayAnimateTimer(ui::TObject*)
{
    switch (AnimationStep) {
    case 0: {
        TrayIconData.hIcon = TrayAlertIcon();
        std::string sound = txtAudioAlert.Text();
        // Asynchronous: the GUI thread never waits for a sound.
        if (!sound.empty()) app::PlaySoundFile(sound, SND_FILENAME | SND_ASYNC);
        break;
    }
    case 1:
    case 3:
        TrayIconData.hIcon = TrayMainIcon();
        break;
    case 2:
        TrayIconData.hIcon = TrayAlertIcon();
        break;
    default:
        break;
    }
    if (AnimationStep <= 3) {
        ++AnimationStep;
    } else {
        AnimationStep = 0;
        tmrSysTrayAnimate.SetEnabled(false);
    }
    TrayIconUpdate();
}

void TfrmMain::tmrAnimateTimer(ui::TObject*)
{
    bool onShown = imgAnimateOn.Visible();
    imgAnimateOn.SetVisible(!onShown);
    imgAnimateOff.SetVisible(onShown);
}
