#pragma once
// What Group Policy sets: the values named in helper_contract/PolicyNames.h, read from the
// computer's policy key and the user's. The tray program shows them and the browser helper
// obeys them; neither ever writes them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "helper_contract/PolicyNames.h"
#include "rules/RuleRecord.h"

class TQuellorPolicy {
  public:
    // Where the administrator's rules come from, in the order they are judged.
    enum TScope { psComputer, psUser, kScopeCount };
    // The most rules one list key gives; a larger list is cut there.
    static constexpr std::size_t kMaxListRules = 100'000;

    // Nothing set: a machine without policy.
    TQuellorPolicy() = default;

    // Both keys as they are now, read as the 64-bit Group Policy client writes them. A value
    // of another type counts as not set, a number outside its range as the nearest end of
    // it. Throws only when out of memory.
    static TQuellorPolicy Read();

    // A REG_DWORD policy by its name: the computer's, else the user's; none when neither.
    std::optional<std::uint32_t> Value(std::string_view name) const;
    bool Sets(std::string_view name) const { return Value(name).has_value(); }
    bool OnlyAdministratorRules() const;
    // The administrator has rules, or decides whose rules are used.
    bool HasRules() const;
    bool ManagesRules() const { return HasRules() || OnlyAdministratorRules(); }

    // The administrator's rules of one scope, list by list in the table's order.
    const std::vector<rules::TRule>& Rules(TScope scope) const { return rules_[scope]; }

  private:
    std::array<std::optional<std::uint32_t>, contract::kPolicyCount> values_;
    std::array<std::vector<rules::TRule>, kScopeCount> rules_;
};
