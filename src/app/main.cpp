// Process entry.
#include <windows.h>

#include "app/frmMain.h"
#include "setup/FolderLocations.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    setup::FolderLocations(); // looked up once, before anything else, in every mode
    ui::TApplication& application = ui::Application();
    application.Title = "Quellor";
    application.HelpFile = "quellor.chm";
    application.Initialize();

    TfrmMain frmMain;
    application.SetMainForm(&frmMain);
    application.ShowMainForm = false;
    application.Run();
    return application.ExitCode;
}
