// The "History Log" page.
#include "app/Paths.h"
#include "app/frmMain.h"
#include "history/LogText.h"
#include "history/QuellorLogFile.h"
#include "settings/KillLabels.h"
#include "settings/QuellorSettings.h"
#include "win/Error.h"

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);

} // namespace

void TfrmMain::CreateHistoryPage()
{
    grpKillList.Create(tabHistory, "Extermination List", 0, 8, 513, 249);
    // On the frame line: their background hides the line behind the text.
    lblKillsToday.Create(grpKillList, "0 Kills Today", 168, 0);
    lblKillsToday.SetFontColor(kRed);
    lblKillsTotal.Create(grpKillList, "0 Kills Total", 328, 0);
    lblKillsTotal.SetFontColor(kRed);

    lvwLog.Create(grpKillList, 8, 24, 497, 185, true);
    lvwLog.AddColumn("Time", 138);
    lvwLog.AddColumn("URL", 180);
    lvwLog.AddColumn("Source", 150);
    lvwLog.OnDblClick = [this](ui::TObject* s) { lvwLogDblClick(s); };

    // Behind the list: seen only while the list is hidden for loading.
    lblLoadingHistory.Create(grpKillList, "Loading History ...", 180, 100, 150, 24);
    lblLoadingHistory.SetFont(-19, false);
    lblLoadingHistory.SetFontColor(kRed);
    lblLoadingHistory.SetVisible(false);
    SetWindowPos(lblLoadingHistory.Handle(), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // A setting shown here; the settings page code makes it and gives it its behaviour.
    CreateLogSizeBox(grpKillList);

    btnClearLogFile.Create(grpKillList, "Clear Log File", 384, 220, 105, 21);
    btnClearLogFile.OnClick = [this](ui::TObject* s) { btnClearLogFileClick(s); };
}

void TfrmMain::LoadHistory()
{
    lvwLog.SetVisible(false);
    lblLoadingHistory.SetVisible(true);
    // Whatever fails below, the list comes back: a counter of the wrong type must not
    // leave the page showing "Loading" for good.
    struct ShowListAgain {
        TfrmMain& form;
        ~ShowListAgain()
        {
            form.lvwLog.EndUpdate();
            form.lvwLog.SetVisible(true);
            form.lblLoadingHistory.SetVisible(false);
        }
    } showListAgain{*this};
    lvwLog.BeginUpdate();

    {
        TQuellorSettings settings(false);
        settings.LoadKillCounters();
        lblKillsTotal.SetText(KillLabelText(settings.KillsToDate, "  Kills Total"));
        lblKillsToday.SetText(KillLabelText(settings.KillsToday, "  Kills Today"));
    }
    // The loading label and the new counts go on the screen before the file is read.
    Repaint();

    lvwLog.Clear();
    TQuellorLogFile log(app::LogFilePath());
    history::TLogEntry entry;
    while (log.ReadNext(entry))
        lvwLog.AddItem(history::LogRowTexts(entry));
}

void TfrmMain::lvwLogDblClick(ui::TObject*)
{
    int row = lvwLog.SelectedIndex();
    if (row < 0) return;
    std::string text = "TIME:  " + lvwLog.ItemText(row, 0) + "\r\n" +
                       "URL:   " + lvwLog.ItemText(row, 1) + "\r\n" +
                       "SRC:   " + lvwLog.ItemText(row, 2) + "\r\n";
    ui::Application().ShowMessageBox(text, ui::Application().Title, MB_OK, Handle());
}

void TfrmMain::btnClearLogFileClick(ui::TObject*)
{
    if (ui::Application().ShowMessageBox("Delete the entire history log file?", "Confirm",
                                         MB_YESNO | MB_ICONQUESTION, Handle()) != IDYES)
        return;
    // A file already gone is what was asked for; any other failure leaves the entries in
    // the file, so the list keeps them too and the user is told why.
    const std::string path = app::LogFilePath();
    if (!DeleteFileA(path.c_str())) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            throw win::EQuellorError("The history log file \"" + path +
                                     "\" could not be deleted: " + win::SystemErrorText(error));
    }
    lvwLog.Clear();
}
