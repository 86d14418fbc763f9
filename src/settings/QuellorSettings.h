#pragma once
// The in-memory image of the settings key, made fresh for each operation. The browser
// helper reads the same key: every value name is part of that contract, misspelling
// (AlwaysAllowRezize) included.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "settings/LogSizeText.h"
#include "settings/QuellorPolicy.h"
#include "win/Handles.h"

// <mmsystem.h> makes PlaySound a macro; here it is the name of a setting.
#ifdef PlaySound
#undef PlaySound
#endif

class TQuellorSettings {
  public:
    // Every member at its default; with load set, Load() runs and its error is the
    // construction's.
    explicit TQuellorSettings(bool load);

    bool DefaultNoPopups = true;
    bool IgnoreWhenCtrlKey = true;
    bool BlockAds = false;
    bool BlockFileSharingAds = true;
    bool TrayAnimate = true;
    bool PlaySound = false;
    std::string SoundFile;
    bool DisableTheater = false;
    bool DisableFullScreen = false;
    bool SilentMode = false;
    bool AlwaysAllowRezize = false;
    bool AlwaysShowToolBar = false;
    bool AlwaysShowStatusBar = false;
    bool AlwaysShowAddressBar = false;
    bool AlwaysShowMenuBar = false;
    int32_t KillsToDate = 0;
    int32_t KillsToday = 0;
    double KillDate = 0;
    int32_t MaxLogSize = settings::kDefaultLogSize;
    std::string LogFile;
    std::string RuleFile;
    // When the last successful Load finished (local time); 0 before.
    double LoadedAt = 0;

    // Reads every value present; a missing key or value keeps the defaults.
    void Load();
    // The same, but a broken value keeps its default and the reading goes on: for the
    // browser helper, which must never fail a browser's event over a setting. False when
    // it ran out of memory part way, so that what was read is not taken for the key.
    bool LoadTolerant() noexcept;
    // What tells a reader of the key that it changed: LastChange (nothing when missing or
    // broken) and the two paths, which every start stores without a LastChange. The key is
    // kept open in key between calls (opened when empty, reopened when it was deleted).
    // Throws only when out of memory.
    struct TChangeMarks {
        std::optional<double> lastChange;
        std::string logFile, ruleFile;
    };
    static TChangeMarks ReadChangeMarks(win::RegKey& key);
    void LoadKillCounters();
    // Every value a policy sets replaces the user's own; the others stay as they are.
    void ApplyPolicy(const TQuellorPolicy& policy);
    // Whether a policy sets the value a member holds.
    static bool SetByPolicy(const TQuellorPolicy& policy, bool TQuellorSettings::*member);
    static bool SetByPolicy(const TQuellorPolicy& policy, int32_t TQuellorSettings::*member);
    // LastChange, then the sixteen settings values but those the policy sets, which keep
    // the user's own; never the counters or the paths.
    void Save(const TQuellorPolicy& managed = {});
    // LastChange alone, renewed before a rule file saved outside Apply is written, so that
    // a browser that read the file meanwhile reads it again.
    static void RenewLastChange();
    void StoreFilePaths(const std::string& logFile, const std::string& ruleFile);
};
