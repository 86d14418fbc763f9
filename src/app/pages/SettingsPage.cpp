// The "Default Behaviour" page, the log-size box (shown on the History Log page) and the
// window's Ok, Cancel and Apply buttons. The controls are the working copy of the settings
// that this program acts on; the registry, which the browser helper reads, changes only on
// Apply or Ok. A setting that Group Policy sets shows the policy's value and is greyed, and
// Apply leaves the user's own value of it as it was.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "app/Paths.h"
#include "app/Sound.h"
#include "app/frmMain.h"
#include "settings/KillLabels.h"
#include "settings/LogSizeText.h"
#include "settings/QuellorSettings.h"

namespace {

using settings::kMaxLogSize;
using settings::kMinLogSize;

// A disabled text box is greyed like the dialog behind it.
void EnableBox(ui::TEdit& box, bool enabled)
{
    box.SetEnabled(enabled);
    box.SetColor(enabled ? COLOR_WINDOW : COLOR_BTNFACE);
}

void EnableSoundFile(TfrmMain& form, bool enabled)
{
    EnableBox(form.txtAudioAlert, enabled);
    form.btnAudioAlert.SetEnabled(enabled);
}

// The preview runs exactly while the visual alert is ticked and rests on the normal icon.
void SetPreview(TfrmMain& form, bool running)
{
    form.tmrAnimate.SetEnabled(running);
    form.imgAnimateOn.SetVisible(true);
    form.imgAnimateOff.SetVisible(false);
}

// Each check box of the page and the setting it edits, in the page's order. The value
// names live with the settings store; this is the one list of which box is which.
struct TSettingBox {
    bool TQuellorSettings::*setting;
    ui::TCheckBox TfrmMain::*box;
};
const TSettingBox kSettingBoxes[] = {
    {&TQuellorSettings::DefaultNoPopups, &TfrmMain::chkKillPopups},
    {&TQuellorSettings::IgnoreWhenCtrlKey, &TfrmMain::chkAllowPopups},
    {&TQuellorSettings::BlockAds, &TfrmMain::chkBlockAds},
    {&TQuellorSettings::BlockFileSharingAds, &TfrmMain::chkBlockFileSharingAds},
    {&TQuellorSettings::TrayAnimate, &TfrmMain::chkVisualAlert},
    {&TQuellorSettings::PlaySound, &TfrmMain::chkAudioAlert},
    {&TQuellorSettings::DisableTheater, &TfrmMain::chkDisableTheaterMode},
    {&TQuellorSettings::DisableFullScreen, &TfrmMain::chkDisableFullScreen},
    {&TQuellorSettings::SilentMode, &TfrmMain::chkRunSilent},
    {&TQuellorSettings::AlwaysAllowRezize, &TfrmMain::chkAllowResizing},
    {&TQuellorSettings::AlwaysShowToolBar, &TfrmMain::chkShowToolBar},
    {&TQuellorSettings::AlwaysShowStatusBar, &TfrmMain::chkShowStatusBar},
    {&TQuellorSettings::AlwaysShowAddressBar, &TfrmMain::chkShowAddressBar},
    {&TQuellorSettings::AlwaysShowMenuBar, &TfrmMain::chkShowMenuBar},
};

// Everything up to and including the last backslash or colon.
std::string FolderOf(const std::string& path)
{
    size_t end = path.find_last_of("\\:");
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

} // namespace

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
    lblAlert.Create(grpAlerts, "Do the following when a pop-up window has been exterminated:", 8,
                    24, 302, 13);
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

    auto changed = [this](ui::TObject* sender) { SettingChanged(sender); };
    for (const TSettingBox& pair : kSettingBoxes)
        (this->*pair.box).OnClick = changed;
    txtAudioAlert.OnChange = changed;
    btnAudioAlert.OnClick = [this](ui::TObject* sender) { btnAudioAlertClick(sender); };
}

void TfrmMain::CreateLogSizeBox(ui::TWinContainer& parent)
{
    txtMaxLogSize.OnChange = [this](ui::TObject* sender) { SettingChanged(sender); };
    txtMaxLogSize.OnKeyPress = [this](ui::TObject* sender, char& key) {
        AllowNumbersOnly(sender, key);
    };
    lblMaxLogFileSize.Create(parent, "Maximum Log File Size (KB):", 8, 224, 133, 13);
    txtMaxLogSize.Create(parent, 152, 220, 65, 21, ES_RIGHT);
    txtMaxLogSize.SetMaxLength(12);
    txtMaxLogSize.SetText(std::to_string(settings::kDefaultLogSize));
    updnMaxLogSize.Create(parent, txtMaxLogSize, 217, 220, 16, 21);
    updnMaxLogSize.SetRange(kMinLogSize, kMaxLogSize);
    updnMaxLogSize.SetIncrement(100);
    updnMaxLogSize.SetPosition(settings::kDefaultLogSize);
}

void TfrmMain::StoreFilePaths(const std::string& logPath, const std::string& rulePath)
{
    // Not loaded first: a bad value elsewhere in the key must not keep the browser helper
    // from finding the files.
    TQuellorSettings settings(false);
    settings.StoreFilePaths(logPath, rulePath);
}

void TfrmMain::SettingsRefresh()
{
    // A load error ends the refresh here, before any control is touched.
    TQuellorSettings settings(true);
    ShowSettings(settings, TQuellorPolicy::Read());
}

void TfrmMain::SettingsRefreshAtStartup()
{
    // The error is shown and start-up goes on with what was read before the bad value;
    // that value and the ones after it keep their defaults.
    TQuellorSettings settings(false);
    try {
        settings.Load();
    } catch (...) {
        ui::Application().HandleCurrentException();
    }
    ShowSettings(settings, TQuellorPolicy::Read());
}

void TfrmMain::ShowSettings(const TQuellorSettings& own, const TQuellorPolicy& policy)
{
    TrayIconSetTip();
    Policy = policy;
    TQuellorSettings settings = own;
    settings.ApplyPolicy(policy);

    for (const TSettingBox& pair : kSettingBoxes) {
        (this->*pair.box).SetChecked(settings.*pair.setting);
        (this->*pair.box).SetEnabled(!TQuellorSettings::SetByPolicy(policy, pair.setting));
    }
    EnableSoundFile(*this, settings.PlaySound);
    txtAudioAlert.SetText(settings.SoundFile);
    const bool sizeManaged = TQuellorSettings::SetByPolicy(policy, &TQuellorSettings::MaxLogSize);
    EnableBox(txtMaxLogSize, !sizeManaged);
    updnMaxLogSize.SetEnabled(!sizeManaged);

    updnMaxLogSize.SetPosition(static_cast<int16_t>(settings.MaxLogSize));
    txtMaxLogSize.SetText(std::to_string(settings.MaxLogSize));
    LastValidMaxLogSize = std::clamp<int>(settings.MaxLogSize, kMinLogSize, kMaxLogSize);

    lblKillsTotal.SetText(KillLabelText(settings.KillsToDate, "  Kills Total"));
    lblKillsToday.SetText(KillLabelText(settings.KillsToday, "  Kills Today"));

    // Setting a box to the state it already has raises no click, so the preview is put
    // in step with the box here as well.
    SetPreview(*this, chkVisualAlert.Checked());
    ShowManaged();
    btnApply.SetEnabled(false);
}

bool TfrmMain::DefaultBehaviourManaged() const
{
    for (const TSettingBox& pair : kSettingBoxes)
        if (TQuellorSettings::SetByPolicy(Policy, pair.setting)) return true;
    return false;
}

void TfrmMain::SettingsApply()
{
    TQuellorSettings settings(false);
    for (const TSettingBox& pair : kSettingBoxes)
        settings.*pair.setting = (this->*pair.box).Checked();
    settings.SoundFile = txtAudioAlert.Text();
    // A number outside the arrows' range is clamped into it; a box that holds no number
    // keeps the last size it showed, rather than the 0 the arrows would report for it.
    settings.MaxLogSize = settings::LogSizeFromText(txtMaxLogSize.Text(), kMinLogSize, kMaxLogSize)
                              .value_or(LastValidMaxLogSize);
    // What the policy sets was shown, not chosen: the user's own values of it stay.
    settings.Save(Policy);

    // Show what was stored.
    std::string stored = std::to_string(settings.MaxLogSize);
    if (txtMaxLogSize.Text() != stored) {
        updnMaxLogSize.SetPosition(settings.MaxLogSize);
        txtMaxLogSize.SetText(stored);
    }
    LastValidMaxLogSize = settings.MaxLogSize;
    btnApply.SetEnabled(false);
}

void TfrmMain::SettingChanged(ui::TObject* sender)
{
    btnApply.SetEnabled(true);
    if (sender == &chkAudioAlert) {
        EnableSoundFile(*this, chkAudioAlert.Checked());
    } else if (sender == &chkVisualAlert) {
        SetPreview(*this, chkVisualAlert.Checked());
    } else if (sender == &txtMaxLogSize) {
        std::optional<int> size =
            settings::LogSizeFromText(txtMaxLogSize.Text(), INT32_MIN, INT32_MAX);
        if (size && *size >= kMinLogSize && *size <= kMaxLogSize) LastValidMaxLogSize = *size;
    }
}

void TfrmMain::AllowNumbersOnly(ui::TObject*, char& key)
{
    if (key != '\b' && (key < '0' || key > '9')) key = 0;
}

void TfrmMain::btnAudioAlertClick(ui::TObject*)
{
    std::string current = txtAudioAlert.Text();
    std::string folder = FolderOf(current);
    dlgFileOpen.InitialDir = folder.empty() ? app::ProgramFolder() : folder;
    dlgFileOpen.Filter = "Sound files (*.wav)|*.WAV";
    dlgFileOpen.Title = "Select Audio Alert File";
    // A name left from the last pick would take the dialog to its folder instead.
    dlgFileOpen.FileName.clear();
    if (!dlgFileOpen.Execute(Handle())) return;

    txtAudioAlert.SetText(dlgFileOpen.FileName);
    btnApply.SetEnabled(true);
    app::PlaySoundFile(dlgFileOpen.FileName, SND_FILENAME | SND_ASYNC);
}

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
    // The list is read from the file again, also when the History Log made the file.
    RulesChanged = false;
    RulesFileInList = false;
    SettingsRefresh();
    Hide();
}
