// The "History Log" page.
#include "app/frmMain.h"

void TfrmMain::CreateHistoryPage()
{
    grpKillList.Create(tabHistory, "Extermination List", 0, 8, 513, 249);
    // The log-size box is a setting; the settings page code gives it its behaviour.
    lblMaxLogFileSize.Create(grpKillList, "Maximum Log File Size (KB):", 8, 224, 133, 13);
    txtMaxLogSize.Create(grpKillList, 152, 220, 65, 21, ES_RIGHT);
    txtMaxLogSize.SetMaxLength(12);
    txtMaxLogSize.SetText("1000");
    updnMaxLogSize.Create(grpKillList, txtMaxLogSize, 217, 220, 16, 21);
    updnMaxLogSize.SetRange(0, 10000);
    updnMaxLogSize.SetIncrement(100);
    updnMaxLogSize.SetPosition(1000);
}

void TfrmMain::pageMainChange(ui::TObject*)
{
    if (pageMain.ActivePage() == &tabRules) LoadRules();
}
