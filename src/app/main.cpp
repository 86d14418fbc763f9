// Process entry.
#include <windows.h>

#include "app/frmMain.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    ui::TApplication& application = ui::Application();
    application.Title = "Quellor";
    application.HelpFile = "quellor.chm";
    application.Initialize();

    TfrmMain frmMain;
    application.SetMainForm(&frmMain);
    application.ShowMainForm = false;
    application.Run();
    return 0;
}
