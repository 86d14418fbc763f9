#pragma once
// The one main window. It owns every control of the four pages; the handlers of each
// page live in app/pages/, one file a page, above the storage of its feature.
#include <windows.h>

#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "history/LogEntry.h"
#include "settings/LogSizeText.h"
#include "settings/QuellorPolicy.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "win/Handles.h"

class TQuellorLogFile;
class TQuellorSettings;

inline constexpr UINT WM_TRAYMESSAGE = WM_USER + 1234;
// The first version of the tray record: what every shell accepts.
inline constexpr DWORD kTrayRecordSize = 88;
// The tip that record holds, without its terminating zero.
inline constexpr size_t kTrayTipChars = 63;
// How long the program's end waits for a helper to let go of the writers' mutex before the
// kills it still has to count are written all the same.
inline constexpr DWORD kLastKillCountWaitMs = 2000;

class TfrmMain : public ui::TForm {
  public:
    // Creates the hidden window and all its controls, then runs FormCreate.
    TfrmMain();
    ~TfrmMain() override;

    // ---- shell: frame, About page, tray (app/) ----------------------------------------
    ui::TPageControl pageMain;
    ui::TTabSheet tabDefault, tabRules, tabHistory, tabAbout;
    ui::TButton btnOk, btnCancel, btnApply;
    ui::TLabel lblHelp;
    // Shown while Group Policy sets something on the page in view.
    ui::TLabel lblManaged;
    ui::TGroupBox grpAbout;
    ui::TMemo memAbout;
    ui::TLabel lblVisitWebsite, lblWebsiteHyperlink;
    ui::TPopupMenu mnuTrayPopup;
    ui::TMenuItem mnuDefaultBehaviour, mnuRulesEngine, mnuHistoryLog, N1, mnuAbout, N2, mnuExit;
    ui::TTimer tmrAnimate, tmrSysTrayAnimate, tmrKazaa;
    // Tries again to count kills the browser helper asked us to count (app/Alerts.cpp).
    ui::TTimer tmrKillCount;
    ui::TTimer tmrKeptKills;
    ui::TOpenDialog dlgFileOpen;

    NOTIFYICONDATAA TrayIconData{};
    int VersionMajor = 0, VersionMinor = 0, VersionRelease = 0, VersionBuild = 0;
    bool AllowClose = false;
    bool RulesChanged = false;
    HWND KazaaWnd = nullptr;

    HICON MainIcon() const { return mainIcon_.get(); }
    HICON AlertIcon() const { return alertIcon_.get(); }
    // Small images of the same two icons, for the notification area.
    HICON TrayMainIcon() const { return trayMainIcon_.get(); }
    HICON TrayAlertIcon() const { return trayAlertIcon_.get(); }

    void FormCreate(ui::TObject* sender);
    void FormShow(ui::TObject* sender);
    void FormCloseQuery(ui::TObject* sender, bool& canClose);
    void FormDestroy(ui::TObject* sender);
    void FormKeyDown(ui::TObject* sender, WORD& key, UINT shift);
    bool FormHelp(WORD command, LONG data, bool& callHelp);
    LRESULT WMQueryEndSession();
    void lblHelpClick(ui::TObject* sender);
    void lblWebsiteHyperlinkClick(ui::TObject* sender);
    // Loads the page just chosen (by a tab, the tray menu or showing the window).
    void pageMainChange(ui::TObject* sender);
    // The line that says the page in view is managed, shown or hidden.
    void ShowManaged();
    // Group Policy was applied again: the settings are read again while nobody edits them.
    void WMSettingChange(const char* area);

    // "TaskbarCreated": the shell (re)started and holds none of our icons.
    UINT TaskbarCreatedMessage = 0;

    void TrayIconAdd();
    void TrayIconSetTip();
    void TrayIconUpdate();
    void TrayIconDelete();
    void WMTrayMessage(WPARAM wp, LPARAM lp);
    void mnuTrayItemClick(ui::TObject* sender);

    // ---- kill notification and alerts (app/Alerts.cpp) --------------------------------
    // The number of "WM_POPUP_KILLED"; 0 until start-up registers it, and then no
    // message counts as a kill.
    UINT KillMessage = 0;
    // Step of the tray animation, 0 to 4.
    int AnimationStep = 0;

    // Kills a Protected Mode helper asked us to count that wait for the writers' mutex,
    // which the helpers hold while they write.
    int PendingKills = 0;
    // The writers' mutex, open for the program's life, so that it carries the label that
    // lets low-integrity browsers take it whoever comes after.
    win::Kernel WritersMutex;

    void RegisterKillMessage();
    // Lets the message in from browsers of lower integrity (Protected Mode).
    void AllowMessageFromBrowsers(UINT msg);
    void KillNotification(UINT msg, WPARAM wp);
    // Counts one kill now if no helper holds the writers' mutex, or soon after.
    void CountKill();
    // Raises the counters for the pending kills if the mutex is had within waitMs (or at
    // all events with evenUnlocked); false, with the timer running, when they still wait.
    bool WritePendingKills(DWORD waitMs, bool evenUnlocked);
    void tmrKillCountTimer(ui::TObject* sender);
    void tmrKeptKillsTimer(ui::TObject* sender);
    void tmrSysTrayAnimateTimer(ui::TObject* sender);
    void tmrAnimateTimer(ui::TObject* sender);

    // ---- settings pages (app/pages/SettingsPage.cpp) -----------------------------------
    ui::TGroupBox grpGeneral, grpAlerts, grpBrowserOptions;
    ui::TCheckBox chkKillPopups, chkAllowPopups, chkBlockAds, chkBlockFileSharingAds;
    ui::TLabel lblAlert;
    ui::TImage imgAnimateOn, imgAnimateOff;
    ui::TCheckBox chkVisualAlert, chkAudioAlert;
    ui::TEdit txtAudioAlert;
    ui::TButton btnAudioAlert;
    ui::TCheckBox chkDisableTheaterMode, chkDisableFullScreen, chkRunSilent, chkAllowResizing,
        chkShowToolBar, chkShowStatusBar, chkShowAddressBar, chkShowMenuBar;
    // On the History Log page, but edited as a setting.
    ui::TLabel lblMaxLogFileSize;
    ui::TEdit txtMaxLogSize;
    ui::TUpDown updnMaxLogSize;
    // The last log size the box showed as a valid number: what Apply keeps when the
    // box holds no number at all.
    int LastValidMaxLogSize = settings::kDefaultLogSize;
    // What Group Policy set when the settings were last shown: those controls show its
    // values, greyed, and the Rules Engine page lists its rules.
    TQuellorPolicy Policy;

    void CreateDefaultPage();
    // The log-size box with its label, on the page that shows it.
    void CreateLogSizeBox(ui::TWinContainer& parent);
    void StoreFilePaths(const std::string& logPath, const std::string& rulePath);
    void SettingsRefresh();
    // Start-up's refresh: a load error is shown and the values read before it are used.
    void SettingsRefreshAtStartup();
    void ShowSettings(const TQuellorSettings& own, const TQuellorPolicy& policy);
    // Some box of the Default Behaviour page shows a policy's value.
    bool DefaultBehaviourManaged() const;
    void SettingsApply();
    void SettingChanged(ui::TObject* sender);
    void AllowNumbersOnly(ui::TObject* sender, char& key);
    void btnAudioAlertClick(ui::TObject* sender);
    void btnOkClick(ui::TObject* sender);
    void btnCancelClick(ui::TObject* sender);
    void btnApplyClick(ui::TObject* sender);

    // ---- rules (app/pages/RulesPage.cpp) -----------------------------------------------
    ui::TGroupBox grpRules;
    ui::TListView lvwRules;
    ui::TButton btnDeleteRule, btnEditRule, btnAddRule;
    // Marks the rows of the administrator's rules in the list's item data, beside the kind:
    // listed first, never edited, deleted or saved.
    static constexpr LPARAM kAdministratorRule = 0x100;

    // True while the last load of the rule file failed: the list is then not the file's
    // content and must not be saved over it.
    bool RulesLoadFailed = false;
    // True when the History Log's menu made the rule file while the list held unapplied
    // changes: the file holds nothing the list lacks, and until the list is saved, entering
    // the page keeps it as it did while there was no file.
    bool RulesFileInList = false;
    // False while the administrator's rules are the only ones used: the list then holds
    // none of the user's, and nothing of it is saved.
    bool OwnRulesListed = true;

    void CreateRulesPage();
    void LoadRules();
    void SaveRules();
    void btnAddRuleClick(ui::TObject* sender);
    void btnEditRuleClick(ui::TObject* sender);
    void btnDeleteRuleClick(ui::TObject* sender);
    void lvwRulesDblClick(ui::TObject* sender);
    // The selection moved: the administrator's rules cannot be edited or deleted.
    void lvwRulesChange(ui::TObject* sender);
    bool IsAdministratorRule(int row) const;

    // ---- history (app/pages/HistoryPage.cpp) -------------------------------------------
    ui::TGroupBox grpKillList;
    ui::TLabel lblKillsToday, lblKillsTotal;
    ui::TListView lvwLog;
    ui::TLabel lblLoadingHistory, lblOlderNotRead;
    ui::TButton btnClearLogFile;
    ui::TPopupMenu mnuLogPopup;
    ui::TMenuItem mnuOpenPopupWindow, mnuCopyAddress, N3, mnuAllowWhileVisiting, mnuAllowStartsWith;

    void CreateHistoryPage();
    void LoadHistory();
    // A kill was reported: while the page is shown, the list takes the records appended
    // since it was read, and the counters are read again. Called last by the kill handler.
    void RefreshHistory();
    void lvwLogDblClick(ui::TObject* sender);
    void lvwLogContextPopup(ui::TObject* sender, POINT at, bool byKeyboard);
    void mnuOpenPopupWindowClick(ui::TObject* sender);
    void mnuCopyAddressClick(ui::TObject* sender);
    // Both "Allow" items; the sender tells which kind of rule.
    void mnuAllowClick(ui::TObject* sender);
    void btnClearLogFileClick(ui::TObject* sender);

    // ---- file-sharing client ad blocker (app/pages/KazaaTimer.cpp) ---------------------
    void tmrKazaaTimer(ui::TObject* sender);

    // ---- setup (app/pages/Setup.cpp) ---------------------------------------------------
    // From Windows Vista on, setup is the machine's, done once elevated, and the tray
    // program does each user's part at that user's start. Before Vista, all is the user's.
    void Install();
    void Uninstall();
    // The machine's part of an uninstallation (it runs elevated): what the exit code of an
    // elevated run reports. 0 done, 1 done but for keys it named, 2 no rights, nothing done.
    int UninstallForMachine();
    // At each start: an older version's shortcuts of this user go once the machine's exist.
    void RemoveOldUserShortcuts();

  protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

  private:
    void CreateShell();
    void CreateAboutPage();
    void ReadVersion();
    // Setup's steps (app/pages/Setup.cpp): registration, shortcuts and the entry, with their
    // failures shown; the program folder's files; the helpers' registration, the entry and
    // the deletions at restart, with what is left shown (false then); the final box.
    bool InstallForMachine(bool machineWide);
    // Quellor installed by the Windows Installer package (into `folder`): the Windows
    // Installer removes the machine's part, then the user's part goes as ever.
    void UninstallPackage(const std::string& productCode, const std::string& folder);
    void RemoveProductFiles();
    bool RemoveRegistrationAndProgram();
    void ShowUninstalled();

    // History: the counters into their labels; the log's records from the reader's place
    // to its end into the list; the whole log read again, each row's selection, focus and
    // place in view kept on its record where the record is still there.
    void ShowKillCounters();
    void ReadLogRows(TQuellorLogFile& log, bool fromStart);
    // From the first record the page reads (the newest ones of a log too large to read
    // whole, which the page then says) to the end.
    void ReadNewestLogRows(TQuellorLogFile& log);
    void ReloadLogRows(TQuellorLogFile& log);
    // Adds a rule of that kind unless one with the same kind and address is there: in the
    // rule file at once, and on the Rules Engine page.
    void AddRuleFromHistory(int kind, const std::string& url);

    // The first record of the log the list holds (a row for each record, in order), and
    // its number in the log.
    history::TLogEntry logFirst_;
    uint64_t firstRecordShown_ = 0;
    // The entry the history menu was opened on, as the list shows it.
    std::string menuUrl_, menuSource_;

    // Each row's URL as the file held it, with the text the list showed for it: written
    // back byte for byte while the row still shows that text, since the list's own text
    // can differ (cut at a NUL, bytes the code page does not decode). Empty for new rows.
    struct StoredUrl {
        std::string bytes;
        std::string shown;
    };
    std::vector<std::optional<StoredUrl>> storedUrls_;

    win::Icon mainIcon_, alertIcon_, trayMainIcon_, trayAlertIcon_;

    friend class TfrmMainAccess;
};
