#pragma once
// The settings and rules of one browser process, shared by the helpers of all its windows
// and threads. Each event asks for a fresh view; the key is re-read only when LastChange
// moved, the rule file only when its size or time of last write did.
#include <memory>
#include <optional>
#include <string>

#include "rules/RuleMatch.h"
#include "settings/QuellorSettings.h"
#include "win/Files.h"

namespace helper {

struct THelperState {
    TQuellorSettings settings{false};
    rules::TRuleSet rules;
    rules::TPopupPolicy policy;
};

class THelperCache {
  public:
    THelperCache();
    static THelperCache& Instance();

    // The current view, checked against the registry and the rule file. Never fails: what
    // cannot be read keeps its last value (or its default).
    std::shared_ptr<const THelperState> Fresh() noexcept;

  private:
    // The settings key, open between checks, and an event that the registry sets when a
    // value of it changes: most events then cost no registry read at all.
    win::RegKey key_;
    win::Kernel keyChanged_;
    bool watching_ = false;
    TQuellorSettings::TChangeMarks marks_;
    std::shared_ptr<const THelperState> state_;
    std::optional<double> lastChange_;
    std::string ruleFile_;
    win::FileStamp ruleStamp_;
    bool rulesRead_ = false;
};

} // namespace helper
