// Kill notifications from the browser helper: a kill a Protected Mode helper could not
// count is counted here, then the tray icon flashes and the alert sound plays, and a
// History Log page on the screen shows the kill. What counts is the state of the settings
// page's controls, applied or not.
#include "app/Alerts.h"

#include <string>

#include "app/Paths.h"
#include "app/Sound.h"
#include "app/frmMain.h"
#include "helper_contract/HelperContract.h"
#include "helper_contract/KillPolicy.h"
#include "history/LogWriter.h"
#include "settings/LocalTime.h"
#include "settings/QuellorSettings.h"
#include "win/Integrity.h"

namespace app {
std::optional<win::MessageFilterApi> MessageFilterHook;
}

void TfrmMain::RegisterKillMessage()
{
    KillMessage = RegisterWindowMessageA(contract::kKillMessageName);
    AllowMessageFromBrowsers(KillMessage);
    // Made here, before a browser makes it, with the label that lets every browser take it.
    if (!WritersMutex) WritersMutex = win::CreateSharedMutex(contract::kWriterMutex);
    // Protected Mode kills no tray program took while none ran are counted now (or, while a
    // helper holds the lock, by the timer).
    WritePendingKills(0, false);
}

void TfrmMain::AllowMessageFromBrowsers(UINT msg)
{
    if (msg == 0) return;
    win::AllowMessageFromLowerIntegrity(Handle(), msg,
                                        app::MessageFilterHook ? *app::MessageFilterHook
                                                               : win::SystemMessageFilterApi());
}

void TfrmMain::KillNotification(UINT msg, WPARAM wp)
{
    if (KillMessage == 0 || msg != KillMessage) return;
    // Counted before anything else, so that whatever follows shows the new counts.
    if (wp == contract::kCountThisKill) CountKill();
    if (chkVisualAlert.Checked()) {
        // A running timer keeps its rhythm: the next tick starts the sequence again.
        AnimationStep = 0;
        tmrSysTrayAnimate.SetEnabled(true);
    }
    // Last, whatever the alerts: the History Log shows the kill and the counters as they
    // stand once everything else was done for it.
    RefreshHistory();
}

// The helpers raise the counters under the writers' mutex, so we do too, or two raises at
// once would lose one. The GUI thread never waits for it: a helper may hold it for a trim of
// a long log; the kill is kept and the timer tries again until the mutex is free. Done on
// this thread, not a worker's, so that in the usual case (the mutex free) the counts are
// already stored when the rest of this message's handling reads them.
void TfrmMain::CountKill()
{
    ++PendingKills;
    WritePendingKills(0, false);
}

bool TfrmMain::WritePendingKills(DWORD waitMs, bool evenUnlocked)
{
    const std::string log = app::StoredLogFilePath();
    if (PendingKills == 0 && !history::HasUncountedKills(log) && !history::HasKeptKills(log))
        return true;
    if (!WritersMutex) WritersMutex = win::CreateSharedMutex(contract::kWriterMutex);
    DWORD wait = WritersMutex ? WaitForSingleObject(WritersMutex.get(), waitMs) : WAIT_FAILED;
    // An abandoned mutex is ours all the same; no mutex at all must not stop the counting.
    bool held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (!held && WritersMutex && !evenUnlocked) {
        tmrKillCount.SetEnabled(true);
        return false;
    }
    // The kept ones only under the lock: a helper may be keeping another.
    if (held) {
        PendingKills += static_cast<int>(history::TakeUncountedKills(log));
        // Kills a browser kept and ended before it could log them: logged, counted and
        // alerted now, as the browser would have done. The settings are read only then,
        // not at every count.
        TQuellorSettings settings(false);
        if (history::HasKeptKills(log) && settings.LoadTolerant()) {
            settings.ApplyPolicy(TQuellorPolicy::Read());
            history::TakeKeptKills(log, settings.MaxLogSize, history::TKillRecording{});
        }
    }
    // A counter that cannot be written is given up, as the helper gives it up.
    double now = NowAsOleDate();
    for (; PendingKills > 0; --PendingKills)
        history::RaiseKillCounters(now);
    if (held) ReleaseMutex(WritersMutex.get());
    tmrKillCount.SetEnabled(false);
    return true;
}

void TfrmMain::tmrKillCountTimer(ui::TObject*)
{
    // A count that had to wait shows on the History Log once it is stored.
    if (WritePendingKills(0, false)) RefreshHistory();
}

void TfrmMain::tmrKeptKillsTimer(ui::TObject*)
{
    // A browser that ended while another process held the writers' lock tells no one.
    if (history::HasKeptKills(app::StoredLogFilePath()) && WritePendingKills(0, false))
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
