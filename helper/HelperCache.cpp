#include "helper/HelperCache.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "helper/Module.h"
#include "helper_contract/HelperContract.h"
#include "helper_contract/PolicyNames.h"
#include "rules/RuleFile.h"

namespace helper {

namespace {

// After a view could not be built, the last one serves this long before the next try.
constexpr DWORD kRetryMs = 1000;

// LastChange is compared bit for bit: any save makes a new one.
bool Same(const std::optional<double>& a, const std::optional<double>& b)
{
    if (a.has_value() != b.has_value()) return false;
    return !a || std::memcmp(&*a, &*b, sizeof(double)) == 0;
}

// The changes seen on the watches, of the settings key and of the policy keys.
struct TChanges {
    std::uint64_t settings = 0, policy = 0;
};

// The next view from the current one: the settings read again when they or the policy are
// stale, the policy when it is, the rules when wanted and out of date. Nothing when nothing
// changed; throws when a part that changed cannot be read (out of memory, a rule file held
// without shared reading).
std::shared_ptr<THelperState> Build(const THelperState& current, TChanges changes, bool withRules)
{
    std::shared_ptr<THelperState> next;
    if (current.settingsSeen != changes.settings || current.policySeen != changes.policy) {
        next = std::make_shared<THelperState>(current);
        if (current.policySeen != changes.policy) {
            auto policy = std::make_shared<const TQuellorPolicy>(TQuellorPolicy::Read());
            for (int scope = 0; scope < TQuellorPolicy::kScopeCount; ++scope)
                next->policyRules[scope] = std::make_shared<const rules::TRuleSet>(
                    policy->Rules(static_cast<TQuellorPolicy::TScope>(scope)));
            next->groupPolicy = std::move(policy);
            next->policySeen = changes.policy;
        }
        win::RegKey key;
        next->lastChange = TQuellorSettings::ReadChangeMarks(key).lastChange;
        TQuellorSettings settings(false);
        if (!settings.LoadTolerant()) throw std::bad_alloc();
        settings.ApplyPolicy(*next->groupPolicy);
        next->settings = std::move(settings);
        next->policy = {next->settings.DefaultNoPopups, next->settings.IgnoreWhenCtrlKey};
        next->settingsSeen = changes.settings;
    }
    if (!withRules) return next;

    const THelperState& now = next ? *next : current;
    // While the administrator's rules are the only ones used, the user's file is not read.
    const std::string path =
        now.groupPolicy->OnlyAdministratorRules() ? std::string() : now.settings.RuleFile;
    win::FileStamp stamp = path.empty() ? win::FileStamp{} : win::StampOf(path);
    // An apply writes LastChange before the rule file, so a new LastChange reads the rules
    // again too: a same-size rewrite within the file system's time resolution (two seconds
    // on FAT) would show no other sign.
    if (now.rulesRead && path == now.rulesPath && stamp == now.rulesStamp &&
        Same(now.lastChange, now.rulesLastChange))
        return next;

    std::shared_ptr<const rules::TRuleSet> ruleSet;
    if (!stamp.exists) {
        ruleSet = std::make_shared<const rules::TRuleSet>();
    } else {
        auto read = rules::ReadRuleFile(path, kMaxHelperRules);
        if (!read) throw std::runtime_error("the rule file cannot be read");
        ruleSet = std::make_shared<const rules::TRuleSet>(std::move(*read));
    }
    if (!next) next = std::make_shared<THelperState>(current);
    next->rules = std::move(ruleSet);
    next->rulesRead = true;
    next->rulesPath = path;
    next->rulesStamp = stamp;
    next->rulesLastChange = next->lastChange;
    return next;
}

} // namespace

THelperCache::THelperCache()
    : keyChanged_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      policyWatches_{TKeyWatch(HKEY_LOCAL_MACHINE, contract::kPolicyKey, KEY_WOW64_64KEY),
                     TKeyWatch(HKEY_CURRENT_USER, contract::kPolicyKey, KEY_WOW64_64KEY)}
{
}

THelperCache& THelperCache::Instance()
{
    return TLibraryObject<THelperCache>::Get();
}

// Called with the lock held. Watch first, read later: a change made while a view is being
// read is not missed. A watch also ends, setting its event, when the thread that asked for
// it ends.
void THelperCache::NoticeChanges()
{
    NoticeSettingsChanges();
    for (TKeyWatch& watch : policyWatches_)
        if (!watch.Quiet() && watch.Renew()) ++policyChanges_;
}

void THelperCache::NoticeSettingsChanges()
{
    if (watching_ && WaitForSingleObject(keyChanged_.get(), 0) == WAIT_TIMEOUT) return;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!watchKey_)
            RegOpenKeyExA(HKEY_CURRENT_USER, contract::kSettingsKey, 0, KEY_READ, watchKey_.put());
        watching_ = watchKey_ && keyChanged_ &&
                    RegNotifyChangeKeyValue(watchKey_.get(), FALSE,
                                            REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                            keyChanged_.get(), TRUE) == ERROR_SUCCESS;
        if (watching_ || !watchKey_) break;
        watchKey_.reset(); // deleted (and perhaps made anew) since it was opened
    }
    // No key: the defaults, read once until it appears.
    if (!watchKey_) {
        if (keyMissingSeen_) return;
        keyMissingSeen_ = true;
    } else {
        keyMissingSeen_ = false;
    }
    ++settingsChanges_;
}

std::shared_ptr<const THelperState> THelperCache::Refresh(bool withRules)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!state_) state_ = std::make_shared<const THelperState>();
    NoticeChanges();
    const std::shared_ptr<const THelperState> current = state_;
    const TChanges changes{settingsChanges_, policyChanges_};
    if (current->settingsSeen == changes.settings && current->policySeen == changes.policy &&
        !withRules)
        return current;
    // While one thread reads a new view, the others go on with the last. Before its first
    // view a process has nothing to judge by: a thread that needs it then reads it itself
    // rather than wait on another's reading.
    const bool firstView = current->settingsSeen == 0 || (withRules && !current->rulesRead);
    if (loading_ && !firstView) return current;
    if (failed_ && GetTickCount() - failedAt_ < kRetryMs) return current;

    const bool reader = !loading_;
    loading_ = true;
    lock.unlock();
    std::shared_ptr<THelperState> next;
    bool built = false;
    try {
        next = Build(*current, changes, withRules);
        built = true;
    } catch (...) {
    }
    lock.lock();
    if (reader) {
        loading_ = false;
        failed_ = !built;
        if (!built) failedAt_ = GetTickCount();
    }
    if (!next) return state_;
    // A view another thread swapped in meanwhile stands; this event goes by its own.
    if (state_ == current) state_ = next;
    return next;
}

std::shared_ptr<const THelperState> THelperCache::Fresh(bool withRules) noexcept
{
    try {
        return Refresh(withRules);
    } catch (...) {
        // Out of memory before a view could be built: the last one, if any.
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            return state_;
        } catch (...) {
            return {};
        }
    }
}

} // namespace helper
