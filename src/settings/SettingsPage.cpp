// The "Default Behaviour" page and the window's Ok, Cancel and Apply buttons.
#include "app/frmMain.h"
#include "settings/QuellorSettings.h"

void TfrmMain::CreateDefaultPage()
{
    grpGeneral.Create(tabDefault, "General", 0, 8, 329, 113);
    chkKillPopups.Create(grpGeneral, "Do not allow pop-up windows unless a rule says otherwise", 8,
                         24, 313, 17);
    chkAllowPopups.Create(grpGeneral, "Allow pop-up windows when the CTRL key is pressed", 8, 44,
                          313, 17);
    chkBlockAds.Create(grpGeneral, "Block ads while visiting web sites", 8, 64, 289, 17);
    chkBlockAds.SetVisible(false);
    chkBlockFileSharingAds.Create(grpGeneral, "Block ads while using file sharing program programs",
                                  8, 84, 317, 17);

    grpAlerts.Create(tabDefault, "Audio / Visual Alerts", 0, 136, 329, 121);
    lblAlert.Create(grpAlerts, "Do the following when a pop-up window has been exterminated:", 8, 24,
                    302, 13);
    imgAnimateOn.Create(grpAlerts, 256, 40, 32, 32, MainIcon());
    imgAnimateOff.Create(grpAlerts, 257, 40, 32, 32, AlertIcon());
    imgAnimateOff.SetVisible(false);
    chkVisualAlert.Create(grpAlerts, "Display extermination animation in system tray", 8, 48, 241,
                          17);
    chkAudioAlert.Create(grpAlerts, "Use an audio alert", 8, 72, 233, 17);
    txtAudioAlert.Create(grpAlerts, 24, 92, 273, 21);
    btnAudioAlert.Create(grpAlerts, "...", 296, 92, 25, 21);

    grpBrowserOptions.Create(tabDefault, "Browser Options", 344, 8, 169, 249);
    chkDisableTheaterMode.Create(grpBrowserOptions, "Disable Theater Mode", 8, 24, 129, 17);
    chkDisableFullScreen.Create(grpBrowserOptions, "Disable Full Screen Mode", 8, 48, 145, 17);
    chkRunSilent.Create(grpBrowserOptions, "Run Silent Mode", 8, 72, 129, 17);
    chkAllowResizing.Create(grpBrowserOptions, "Always Allow Resizing", 8, 96, 129, 17);
    chkShowToolBar.Create(grpBrowserOptions, "Always Show Tool Bar", 8, 120, 145, 17);
    chkShowStatusBar.Create(grpBrowserOptions, "Always Show Status Bar", 8, 144, 145, 17);
    chkShowAddressBar.Create(grpBrowserOptions, "Always Show Address Bar", 8, 168, 150, 17);
    chkShowMenuBar.Create(grpBrowserOptions, "Always Show Menu Bar", 8, 192, 129, 17);
}

void TfrmMain::StoreFilePaths(const std::string& logPath, const std::string& rulePath)
{
    TQuellorSettings settings(true);
    settings.StoreFilePaths(logPath, rulePath);
}

void TfrmMain::SettingsRefresh()
{
    TrayIconSetTip();
    btnApply.SetEnabled(false);
}

void TfrmMain::SettingsApply() { btnApply.SetEnabled(false); }

void TfrmMain::btnApplyClick(ui::TObject*)
{
    SettingsApply();
    if (RulesChanged) SaveRules();
}

void TfrmMain::btnOkClick(ui::TObject* sender)
{
    if (btnApply.Enabled()) btnApplyClick(sender);
    Hide();
}

void TfrmMain::btnCancelClick(ui::TObject*)
{
    RulesChanged = false;
    SettingsRefresh();
    Hide();
}
