#include "settings/QuellorPolicy.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "win/Handles.h"

using contract::kPolicyNames;
using contract::TPolicyType;

namespace {

// Group Policy writes the 64-bit view on 64-bit Windows; 32-bit Windows ignores the flag.
constexpr REGSAM kRead = KEY_READ | KEY_WOW64_64KEY;

std::optional<std::uint32_t> ReadDword(HKEY key, const contract::TPolicyName& policy)
{
    DWORD value = 0, type = 0, size = sizeof value;
    std::string name(policy.name);
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    if (policy.type == TPolicyType::Switch) return value != 0 ? 1u : 0u;
    return std::clamp<std::uint32_t>(value, policy.minimum, policy.maximum);
}

// Every text value of a list key, in the order the registry gives them; empty ones and
// values of other types are no rules.
void ReadList(HKEY policyKey, const contract::TPolicyName& policy, std::vector<rules::TRule>& out)
{
    win::RegKey key;
    if (RegOpenKeyExA(policyKey, std::string(policy.name).c_str(), 0, kRead, key.put()) !=
        ERROR_SUCCESS)
        return;
    DWORD values = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<char> name(longestName + 1), data(longestData + 1);
    std::size_t taken = 0;
    for (DWORD i = 0; i < values && taken < TQuellorPolicy::kMaxListRules; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = longestData, type = 0;
        std::fill(data.begin(), data.end(), '\0');
        LONG result = RegEnumValueA(key.get(), i, name.data(), &nameSize, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data.data()), &dataSize);
        // Grown since the key was measured: the value is read at the next change.
        if (result == ERROR_MORE_DATA) continue;
        if (result != ERROR_SUCCESS) break;
        if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
        std::string url(data.data(), strnlen(data.data(), dataSize));
        if (url.empty()) continue;
        out.push_back({std::move(url), static_cast<rules::TRuleKind>(policy.ruleKind)});
        ++taken;
    }
}

std::size_t IndexOf(std::string_view name)
{
    for (std::size_t i = 0; i < contract::kPolicyCount; ++i)
        if (kPolicyNames[i].name == name) return i;
    return contract::kPolicyCount;
}

} // namespace

TQuellorPolicy TQuellorPolicy::Read()
{
    TQuellorPolicy policy;
    const HKEY roots[kScopeCount] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    for (int scope = psComputer; scope < kScopeCount; ++scope) {
        win::RegKey key;
        if (RegOpenKeyExA(roots[scope], contract::kPolicyKey, 0, kRead, key.put()) != ERROR_SUCCESS)
            continue;
        for (std::size_t i = 0; i < contract::kPolicyCount; ++i) {
            if (kPolicyNames[i].type == TPolicyType::RuleList)
                ReadList(key.get(), kPolicyNames[i], policy.rules_[scope]);
            else if (!policy.values_[i]) // the computer's stands
                policy.values_[i] = ReadDword(key.get(), kPolicyNames[i]);
        }
    }
    return policy;
}

std::optional<std::uint32_t> TQuellorPolicy::Value(std::string_view name) const
{
    std::size_t index = IndexOf(name);
    return index < values_.size() ? values_[index] : std::nullopt;
}

bool TQuellorPolicy::OnlyAdministratorRules() const
{
    return Value(contract::kOnlyAdministratorRules).value_or(0) != 0;
}

bool TQuellorPolicy::HasRules() const
{
    return std::any_of(rules_.begin(), rules_.end(),
                       [](const auto& list) { return !list.empty(); });
}
