#pragma once
// The settings and rules of one browser process, shared by the helpers of all its windows
// and threads. Every change seen on the settings key's watch reads the settings again, and
// every change of a policy key the policy with them; the rule file is read again when its
// path, size or time of last write changed, or LastChange did. A new view is built apart,
// outside the lock, by one thread at a time, and swapped in whole; meanwhile the other
// threads go on with the last one. Only the process's first view, which has no last one, is
// read by each thread that needs it: none waits on another.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "helper/KeyWatch.h"
#include "rules/RuleMatch.h"
#include "settings/QuellorPolicy.h"
#include "settings/QuellorSettings.h"
#include "win/Files.h"

namespace helper {

// The most rule records a browser process reads; the rest of a larger file is ignored.
inline constexpr std::uint64_t kMaxHelperRules = 100'000;

struct THelperState {
    // The user's own settings with what Group Policy sets put over them.
    TQuellorSettings settings{false};
    rules::TPopupPolicy policy;
    // The user's own rules: none while the administrator's are the only ones used.
    std::shared_ptr<const rules::TRuleSet> rules = std::make_shared<const rules::TRuleSet>();
    std::shared_ptr<const TQuellorPolicy> groupPolicy = std::make_shared<const TQuellorPolicy>();
    // The administrator's rules by scope, judged before the user's own.
    std::shared_ptr<const rules::TRuleSet> policyRules[TQuellorPolicy::kScopeCount] = {rules,
                                                                                       rules};

    // What each part was read from, to tell when it is out of date.
    std::uint64_t settingsSeen = 0;   // the key's changes taken in (see THelperCache)
    std::uint64_t policySeen = 0;     // the policy keys' changes taken in
    std::optional<double> lastChange; // as the settings were read
    bool rulesRead = false;
    std::string rulesPath;
    win::FileStamp rulesStamp;
    std::optional<double> rulesLastChange;
};

class THelperCache {
  public:
    THelperCache();
    static THelperCache& Instance();

    // The view for one event, brought up to date first; withRules for an event that judges a
    // new window, the only one that needs the rules. Never fails: what cannot be read keeps
    // its last value (or its default) and is tried again after a short pause. Empty only when
    // not even the defaults could be had.
    std::shared_ptr<const THelperState> Fresh(bool withRules) noexcept;

  private:
    std::shared_ptr<const THelperState> Refresh(bool withRules);
    void NoticeChanges();
    void NoticeSettingsChanges();

    std::mutex mutex_;
    std::shared_ptr<const THelperState> state_;
    bool loading_ = false;
    bool failed_ = false;
    DWORD failedAt_ = 0;
    // The settings key, open for its watch: an event that the registry sets when a value of
    // it changes, so that most events cost no registry read at all.
    win::RegKey watchKey_;
    win::Kernel keyChanged_;
    bool watching_ = false;
    bool keyMissingSeen_ = false;
    std::uint64_t settingsChanges_ = 0; // changes seen on the watch
    // The computer's and the user's policy keys, made or not.
    TKeyWatch policyWatches_[TQuellorPolicy::kScopeCount];
    std::uint64_t policyChanges_ = 0;
};

} // namespace helper
