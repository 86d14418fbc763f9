#pragma once
// The Group Policy values that the tray program and the browser helper obey, under
// kPolicyKey in HKEY_LOCAL_MACHINE (the computer's, which win) and in HKEY_CURRENT_USER.
// Administrators script these names and the templates in data/policy describe them: this
// is the one list of them. Platform-free: the templates' test reads it natively.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rules/RuleRecord.h"
#include "settings/LogSizeText.h"

namespace contract {

inline constexpr char kPolicyKey[] = "Software\\Policies\\Tandrel\\Quellor";

enum class TPolicyType : std::uint8_t {
    Switch,   // REG_DWORD, 0 or 1
    Number,   // REG_DWORD within [minimum, maximum]
    RuleList, // a key below kPolicyKey; each value of it (REG_SZ) is one rule's address
};

struct TPolicyName {
    std::string_view name;
    TPolicyType type;
    // The value of the settings key of the same name, which the policy replaces.
    bool setting;
    int ruleKind;
    std::uint32_t minimum, maximum;
};

constexpr TPolicyName PolicySetting(std::string_view name)
{
    return {name, TPolicyType::Switch, true, 0, 0, 1};
}

inline constexpr TPolicyName kPolicyNames[] = {
    // The Default Behaviour page, in its order.
    PolicySetting("DefaultNoPopups"),
    PolicySetting("IgnoreWhenCtrlKey"),
    PolicySetting("BlockAds"),
    PolicySetting("BlockFileSharingAds"),
    PolicySetting("TrayAnimate"),
    PolicySetting("PlaySound"),
    PolicySetting("DisableTheater"),
    PolicySetting("DisableFullScreen"),
    PolicySetting("SilentMode"),
    PolicySetting("AlwaysAllowRezize"),
    PolicySetting("AlwaysShowToolBar"),
    PolicySetting("AlwaysShowStatusBar"),
    PolicySetting("AlwaysShowAddressBar"),
    PolicySetting("AlwaysShowMenuBar"),
    {"MaxLogSize", TPolicyType::Number, true, 0, settings::kMinLogSize, settings::kMaxLogSize},
    // 1: the user's own rule file is not used.
    {"OnlyAdministratorRules", TPolicyType::Switch, false, 0, 0, 1},
    {"AllowWhileVisiting", TPolicyType::RuleList, false, rules::rkAllowWhileVisiting, 0, 0},
    {"AllowStartingWith", TPolicyType::RuleList, false, rules::rkAllowStartsWith, 0, 0},
    {"CloseWhileVisiting", TPolicyType::RuleList, false, rules::rkKillWhileVisiting, 0, 0},
    {"CloseStartingWith", TPolicyType::RuleList, false, rules::rkKillStartsWith, 0, 0},
};
inline constexpr std::size_t kPolicyCount = std::size(kPolicyNames);
inline constexpr std::string_view kOnlyAdministratorRules = "OnlyAdministratorRules";

} // namespace contract
