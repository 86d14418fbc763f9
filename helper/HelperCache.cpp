#include "helper/HelperCache.h"

#include <cstring>
#include <mutex>

#include "helper_contract/HelperContract.h"
#include "rules/RuleFile.h"

namespace helper {

namespace {

std::mutex& CacheMutex()
{
    static std::mutex mutex;
    return mutex;
}

// LastChange is compared bit for bit: any save makes a new one.
bool Same(const std::optional<double>& a, const std::optional<double>& b)
{
    if (a.has_value() != b.has_value()) return false;
    return !a || std::memcmp(&*a, &*b, sizeof(double)) == 0;
}

} // namespace

THelperCache::THelperCache() : keyChanged_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

THelperCache& THelperCache::Instance()
{
    static THelperCache cache;
    return cache;
}

std::shared_ptr<const THelperState> THelperCache::Fresh() noexcept
{
    try {
        std::lock_guard<std::mutex> lock(CacheMutex());
        if (!watching_ || WaitForSingleObject(keyChanged_.get(), 0) != WAIT_TIMEOUT) {
            // Watch first, read second: a change made while we read is not missed. The
            // watch also ends, setting the event, when the thread that asked for it ends.
            if (!key_)
                RegOpenKeyExA(HKEY_CURRENT_USER, contract::kSettingsKey, 0, KEY_READ, key_.put());
            watching_ = key_ && keyChanged_ &&
                        RegNotifyChangeKeyValue(key_.get(), FALSE,
                                                REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                                keyChanged_.get(), TRUE) == ERROR_SUCCESS;
            marks_ = TQuellorSettings::ReadChangeMarks(key_);
        }
        const TQuellorSettings::TChangeMarks& marks = marks_;
        std::shared_ptr<THelperState> next;
        auto changing = [&]() -> THelperState& {
            if (!next)
                next = state_ ? std::make_shared<THelperState>(*state_)
                              : std::make_shared<THelperState>();
            return *next;
        };

        bool settingsChanged = !state_ || !Same(marks.lastChange, lastChange_);
        if (settingsChanged) {
            THelperState& s = changing();
            s.settings = TQuellorSettings(false);
            s.settings.LoadTolerant();
            s.policy = {s.settings.DefaultNoPopups, s.settings.IgnoreWhenCtrlKey};
            lastChange_ = marks.lastChange;
        }
        // The paths are stored at every start of the tray program, without a LastChange.
        if (state_ && (marks.logFile != state_->settings.LogFile ||
                       marks.ruleFile != state_->settings.RuleFile)) {
            changing().settings.LogFile = marks.logFile;
            changing().settings.RuleFile = marks.ruleFile;
        }

        // An apply writes LastChange before the rule file, so a new LastChange reads the rules
        // again too: a same-size rewrite within the file system's time resolution (two
        // seconds on FAT) would show no other sign.
        win::FileStamp stamp =
            marks.ruleFile.empty() ? win::FileStamp{} : win::StampOf(marks.ruleFile);
        if (!rulesRead_ || settingsChanged || marks.ruleFile != ruleFile_ ||
            !(stamp == ruleStamp_)) {
            if (!stamp.exists) {
                changing().rules = rules::TRuleSet();
                rulesRead_ = true;
            } else if (auto read = rules::ReadRuleFile(marks.ruleFile)) {
                changing().rules = rules::TRuleSet(std::move(*read));
                rulesRead_ = true;
            } else {
                // Held by someone without shared reading: the last rules stay, and the
                // next event tries again.
                stamp = {};
            }
            ruleFile_ = marks.ruleFile;
            ruleStamp_ = stamp;
        }
        if (next) state_ = std::move(next);
        return state_;
    } catch (...) {
        // Out of memory: the last view, or the defaults.
        std::lock_guard<std::mutex> lock(CacheMutex());
        if (!state_) {
            try {
                state_ = std::make_shared<THelperState>();
            } catch (...) {
            }
        }
        return state_;
    }
}

} // namespace helper
