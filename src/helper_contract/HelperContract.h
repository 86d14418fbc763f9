#pragma once
// Names shared with the browser helper QUELLOR.DLL: the helper finds our window by class
// and caption and sends it the kill notification; both read the same settings key.
namespace contract {

inline constexpr char kMainWindowClass[] = "TfrmMain";
inline constexpr char kMainWindowCaption[] = "Quellor";
inline constexpr char kKillMessageName[] = "WM_POPUP_KILLED";
// Taken by whoever writes the log or the kill counters: browser processes of every
// integrity level and the tray program (win::CreateSharedMutex makes it).
inline constexpr char kWriterMutex[] = "Local\\Quellor.LogWriter";

// Under HKEY_CURRENT_USER. The helper reads the settings and writes the counters, unless
// it runs at low integrity: then the tray program counts for it (KillPolicy.h).
inline constexpr char kSettingsKey[] = "Software\\Tandrel\\Quellor";
inline constexpr char kKillsToDate[] = "KillsToDate";
inline constexpr char kKillsToday[] = "KillsToday";
inline constexpr char kKillDate[] = "KillDate";
inline constexpr char kMaxLogSize[] = "MaxLogSize";
inline constexpr char kLogFile[] = "LogFile";
inline constexpr char kRuleFile[] = "RuleFile";

// Under HKEY_LOCAL_MACHINE: where the helper registers itself as a browser helper object.
inline constexpr char kHelperClsid[] = "{2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}";
inline constexpr char kHelperKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\explorer\\Browser Helper Objects\\"
    "{2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}";

} // namespace contract
