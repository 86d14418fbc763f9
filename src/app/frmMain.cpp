#include "app/frmMain.h"

#include <htmlhelp.h>

#include <cstring>
#include <vector>

#include "app/CommandLine.h"
#include "app/Paths.h"
#include "app/ShellOpen.h"
#include "app/UserData.h"
#include "helper_contract/HelperContract.h"
#include "helper_contract/KillPolicy.h"
#include "settings/QuellorSettings.h"
#include "setup/SetupSystem.h"
#include "win/Error.h"
#include "win/Modules.h"

namespace {

const std::vector<std::string> kAboutLines = {
    "",
    "The Quellor prevents those pesky pop-up windows from appearing while you're surfing ",
    "the web. Pop-up windows are quickly closed and don't have a chance to display their "
    "contents. The ",
    "Quellor can be temporarily disabled by holding down the CTRL key while a pop-up ",
    "window appears.",
    "",
    "The Quellor is very intelligent and customizable. By default, it closes all pop-up ",
    "windows. ",
    "This default behaviour can be overwritten. It also allows the user to setup rules that are "
    "applied to ",
    "pop-up windows. Some rules can be used to allow or prevent all pop-up windows while "
    "visiting ",
    "specific ",
    "web sites or URL's. Other rules can be setup to allow or prevent popup windows that start "
    "with a ",
    "specific URL while visiting any web site.",
    "",
    "The Quellor provides audio and visual alerts to notify the user when a pop-up window ",
    "has been closed. Three sound files are included, but any .WAV file can be used as an audio "
    "alert. ",
    "",
    "The Quellor allows Internet Explorer to be further customized. This allows the user to ",
    "override certain behaviours such as full screen and theater modes. The user can also make "
    "sure ",
    "certain toolbars are always visible. This settings apply to all Internet Explorer windows, "
    "not just ",
    "pop-up ",
    "ones.",
};

const char kWebsite[] = "http://quellor.example.com/";

using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

// hhctrl.ocx stays loaded once used: its help windows live in it.
win::Module& HelpLibrary()
{
    static win::Module module;
    return module;
}

HWND CallHtmlHelp(HWND owner, const char* file, UINT command, DWORD_PTR data, bool loadIfNeeded)
{
    win::Module& library = HelpLibrary();
    if (!library && loadIfNeeded) library.reset(win::LoadSystemLibrary("hhctrl.ocx"));
    if (!library) return nullptr;
    auto fn = win::ProcAddress<HtmlHelpFn>(library.get(), "HtmlHelpA");
    return fn ? fn(owner, file, command, data) : nullptr;
}

HICON LoadIconSized(const char* name, int size)
{
    return static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_ICON, size, size, 0));
}

} // namespace

TfrmMain::TfrmMain()
{
    mainIcon_.reset(LoadIconSized("MAINICON", 32));
    alertIcon_.reset(LoadIconSized("ALERTICON", 32));
    trayMainIcon_.reset(LoadIconSized("MAINICON", GetSystemMetrics(SM_CXSMICON)));
    trayAlertIcon_.reset(LoadIconSized("ALERTICON", GetSystemMetrics(SM_CXSMICON)));

    CreateForm(contract::kMainWindowClass, contract::kMainWindowCaption, 536, 348,
               ui::Application().Handle(), false, false);
    CreateShell();
    CreateDefaultPage();
    CreateRulesPage();
    CreateHistoryPage();
    CreateAboutPage();

    try {
        FormCreate(this);
    } catch (...) {
        ui::Application().HandleCurrentException();
    }
}

TfrmMain::~TfrmMain()
{
    // The window goes first, so FormDestroy still finds every control alive.
    Destroy();
}

void TfrmMain::CreateShell()
{
    OnShow = [this](ui::TObject* s) { FormShow(s); };
    OnDestroy = [this](ui::TObject* s) { FormDestroy(s); };
    OnCloseQuery = [this](ui::TObject* s, bool& canClose) { FormCloseQuery(s, canClose); };
    OnKeyDown = [this](ui::TObject* s, WORD& key, UINT shift) { FormKeyDown(s, key, shift); };

    pageMain.Create(*this, 8, 12, 521, 289, 100);
    pageMain.OnChange = [this](ui::TObject* s) { pageMainChange(s); };
    tabDefault.Create(pageMain, "Default Behaviour");
    tabRules.Create(pageMain, "Rules Engine");
    tabHistory.Create(pageMain, "History Log");
    tabAbout.Create(pageMain, "About");

    btnOk.Create(*this, "&Ok", 296, 312, 65, 25);
    btnCancel.Create(*this, "&Cancel", 376, 312, 65, 25);
    btnApply.Create(*this, "&Apply", 456, 312, 65, 25);
    btnOk.OnClick = [this](ui::TObject* s) { btnOkClick(s); };
    btnCancel.OnClick = [this](ui::TObject* s) { btnCancelClick(s); };
    btnApply.OnClick = [this](ui::TObject* s) { btnApplyClick(s); };

    lblHelp.Create(*this, "Need Help?", 14, 320);
    lblHelp.SetFont(-11, true);
    lblHelp.SetFontColor(RGB(0, 0, 255));
    lblHelp.SetHandCursor();
    lblHelp.OnClick = [this](ui::TObject* s) { lblHelpClick(s); };
    lblManaged.Create(*this, "Some settings are managed\nby your organisation.", 104, 312);
    lblManaged.SetVisible(false);

    auto item = [this](ui::TMenuItem& menuItem, const char* caption) {
        menuItem.Caption = caption;
        if (!menuItem.IsSeparator())
            menuItem.OnClick = [this](ui::TObject* s) { mnuTrayItemClick(s); };
        mnuTrayPopup.Items.push_back(&menuItem);
    };
    item(mnuDefaultBehaviour, "Default Behaviour");
    item(mnuRulesEngine, "Rules Engine");
    item(mnuHistoryLog, "History Log");
    item(N1, "-");
    item(mnuAbout, "About");
    item(N2, "-");
    item(mnuExit, "Exit");

    tmrAnimate.OnTimer = [this](ui::TObject* s) { tmrAnimateTimer(s); };
    tmrSysTrayAnimate.OnTimer = [this](ui::TObject* s) { tmrSysTrayAnimateTimer(s); };
    tmrKazaa.OnTimer = [this](ui::TObject* s) { tmrKazaaTimer(s); };
    tmrKillCount.OnTimer = [this](ui::TObject* s) { tmrKillCountTimer(s); };
    tmrKeptKills.OnTimer = [this](ui::TObject* s) { tmrKeptKillsTimer(s); };
    tmrAnimate.Create(*this, 250, true);
    tmrSysTrayAnimate.Create(*this, 200, false);
    tmrKazaa.Create(*this, 250, true);
    tmrKillCount.Create(*this, 100, false);
    tmrKeptKills.Create(*this, 2000, true);
}

void TfrmMain::CreateAboutPage()
{
    grpAbout.Create(tabAbout, "About Quellor", 0, 8, 513, 249);
    memAbout.Create(grpAbout, 8, 24, 497, 185);
    memAbout.SetLines(kAboutLines);
    lblVisitWebsite.Create(grpAbout, "Visit our website at", 8, 224);
    lblWebsiteHyperlink.Create(grpAbout, kWebsite, 100, 224);
    lblWebsiteHyperlink.SetFont(-11, true);
    lblWebsiteHyperlink.SetFontColor(RGB(0, 0, 255));
    lblWebsiteHyperlink.SetHandCursor();
    lblWebsiteHyperlink.OnClick = [this](ui::TObject* s) { lblWebsiteHyperlinkClick(s); };
}

void TfrmMain::FormCreate(ui::TObject*)
{
    std::string programPath = app::ProgramPath();
    switch (app::FindStartSwitch(app::CommandArguments(GetCommandLineA(), programPath))) {
    case app::StartSwitch::Uninstall:
        Uninstall();
        ui::Application().Terminate();
        return;
    case app::StartSwitch::Install:
        Install();
        // From Vista on this process is setup's, maybe elevated, maybe another account's:
        // the tray program was handed to the desktop's user.
        if (setup::SetupSystem().machineWide()) {
            ui::Application().Terminate();
            return;
        }
        break;
    case app::StartSwitch::None:
        break;
    }

    Sleep(200);
    AllowClose = false;
    RulesChanged = false;
    ui::Application().OnHelp = [this](WORD command, LONG data, bool& callHelp) {
        return FormHelp(command, data, callHelp);
    };
    pageMain.SetActivePage(tabDefault);
    ReadVersion();
    memAbout.InsertLine(0, "Quellor Version " + std::to_string(VersionMajor) + "." +
                               std::to_string(VersionMinor) + "." + std::to_string(VersionRelease) +
                               "." + std::to_string(VersionBuild));

    RemoveOldUserShortcuts();
    // Each failure is shown and start-up goes on: stopping here would leave a hidden
    // process with no tray icon, which nobody could reach or end.
    app::PrepareUserData();
    try {
        // A folder that cannot be used is stored as no path: the browser helper then keeps
        // nothing rather than write somewhere else.
        StoreFilePaths(app::StoredLogFilePath(),
                       app::RuleFolder().empty() ? std::string() : app::RuleFilePath());
    } catch (...) {
        ui::Application().HandleCurrentException();
    }
    SettingsRefreshAtStartup();
    TaskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    // Run elevated (started by the installer), the shell's restart must still reach us.
    AllowMessageFromBrowsers(TaskbarCreatedMessage);
    TrayIconAdd();
    RegisterKillMessage();
    KazaaWnd = nullptr;
    // Told once, when the paths are stored and the kills are counted: neither waits for
    // the user to read it.
    std::string unusable;
    for (const std::string& folder : app::UnusableDataFolders())
        unusable += (unusable.empty() ? "" : "\n\n") + folder;
    if (!unusable.empty())
        ui::Application().ShowMessageBox(unusable, ui::Application().Title, MB_OK | MB_ICONERROR);
}

void TfrmMain::ReadVersion()
{
    std::string path = app::ModuleFileName();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return; // no version resource: the line reads 0.0.0.0
    std::vector<char> buffer(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, buffer.data())) return;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(buffer.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info)
        return;
    VersionMajor = HIWORD(info->dwFileVersionMS);
    VersionMinor = LOWORD(info->dwFileVersionMS);
    VersionRelease = HIWORD(info->dwFileVersionLS);
    VersionBuild = LOWORD(info->dwFileVersionLS);
}

void TfrmMain::FormShow(ui::TObject*)
{
    SettingsRefresh();
    pageMainChange(&pageMain);
}

void TfrmMain::pageMainChange(ui::TObject*)
{
    ShowManaged();
    if (pageMain.ActivePage() == &tabRules)
        LoadRules();
    else if (pageMain.ActivePage() == &tabHistory)
        LoadHistory();
}

void TfrmMain::ShowManaged()
{
    const ui::TTabSheet* page = pageMain.ActivePage();
    bool managed = false;
    if (page == &tabDefault)
        managed = DefaultBehaviourManaged();
    else if (page == &tabRules)
        managed = Policy.ManagesRules();
    else if (page == &tabHistory)
        managed = Policy.OnlyAdministratorRules() ||
                  TQuellorSettings::SetByPolicy(Policy, &TQuellorSettings::MaxLogSize);
    lblManaged.SetVisible(managed);
}

void TfrmMain::WMSettingChange(const char* area)
{
    // Windows says "Policy" when Group Policy was applied. The alerts and the file-sharing
    // ad blocker act on the controls, so they take the new values now; a window in use
    // takes them when it is shown next, as it takes the user's own.
    if (!area || std::strcmp(area, "Policy") != 0 || Visible()) return;
    try {
        SettingsRefresh();
    } catch (const win::EQuellorError&) {
        // A broken value of the user's: said at start and when the window is shown.
    }
}

void TfrmMain::FormCloseQuery(ui::TObject*, bool& canClose)
{
    RulesChanged = false;
    RulesFileInList = false;
    canClose = AllowClose;
}

LRESULT TfrmMain::WMQueryEndSession()
{
    AllowClose = true;
    ui::Application().Terminate();
    return 1;
}

void TfrmMain::FormDestroy(ui::TObject*)
{
    // Kills to count that came after the loop ended, or the helpers would keep none for later.
    MSG msg;
    while (KillMessage && PeekMessageA(&msg, Handle(), KillMessage, KillMessage, PM_REMOVE))
        if (msg.wParam == contract::kCountThisKill) ++PendingKills;
    WritePendingKills(kLastKillCountWaitMs, true);
    ui::Application().OnHelp = nullptr;
    CallHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0, false);
    TrayIconDelete();
}

void TfrmMain::FormKeyDown(ui::TObject*, WORD& key, UINT)
{
    if (key == VK_F1) {
        key = 0;
        ui::Application().HelpCommand(HELP_CONTENTS, 0);
    }
}

bool TfrmMain::FormHelp(WORD command, LONG, bool& callHelp)
{
    if (command == HELP_CONTENTS) {
        // By its full path: the current folder is wherever the program was started from.
        const std::string file = app::HelpFilePath();
        CallHtmlHelp(ui::Application().Handle(), file.c_str(), HH_DISPLAY_TOC, 0, true);
    }
    callHelp = false;
    return true;
}

void TfrmMain::lblHelpClick(ui::TObject*)
{
    ui::Application().HelpCommand(HELP_CONTENTS, 0);
}

void TfrmMain::lblWebsiteHyperlinkClick(ui::TObject*)
{
    app::ShellOpen(Handle(), lblWebsiteHyperlink.Text(), SW_SHOWMAXIMIZED);
}

LRESULT TfrmMain::WndProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_TRAYMESSAGE:
        WMTrayMessage(wp, lp);
        return 0;
    case WM_QUERYENDSESSION:
        return WMQueryEndSession();
    case WM_SETTINGCHANGE:
        WMSettingChange(reinterpret_cast<const char*>(lp));
        break;
    default:
        // A restarted Explorer: without this the icon, and the only way in, stays gone.
        if (TaskbarCreatedMessage && msg == TaskbarCreatedMessage) {
            TrayIconAdd();
            return 0;
        }
        KillNotification(msg, wp);
        break;
    }
    return TForm::WndProc(msg, wp, lp);
}
