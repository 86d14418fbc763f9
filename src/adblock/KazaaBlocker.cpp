// Removes the advertising of the Kazaa file-sharing client.
#include "app/frmMain.h"

void TfrmMain::tmrKazaaTimer(ui::TObject*) {}
