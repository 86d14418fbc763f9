// Kill notifications from the browser helper and the tray animation.
#include "app/frmMain.h"

void TfrmMain::RegisterKillMessage() {}

void TfrmMain::KillNotification(UINT) {}

void TfrmMain::tmrSysTrayAnimateTimer(ui::TObject*) {}

void TfrmMain::tmrAnimateTimer(ui::TObject*) {}
