// Installation and uninstallation from the command line.
#include "app/frmMain.h"

void TfrmMain::Install() {}

void TfrmMain::Uninstall() {}
