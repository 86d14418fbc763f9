#include "rules/RuleRecord.h"

#include <algorithm>
#include <cstring>

namespace rules {

namespace {

constexpr std::string_view kKindTexts[kRuleKindCount] = {
    "Allow pop-up windows while visiting this URL",
    "Allow pop-up windows that start with this URL",
    "Always kill pop-up windows while visiting this URL",
    "Always kill pop-up windows that start with this URL",
};

} // namespace

bool IsRuleKind(int code)
{
    return code >= 1 && code <= kRuleKindCount;
}

std::string_view RuleKindText(int code)
{
    return IsRuleKind(code) ? kKindTexts[code - 1] : "";
}

TRuleRecord EncodeRule(std::string_view url, int kind)
{
    TRuleRecord record;
    std::memset(&record, 0, sizeof record);
    std::size_t length = std::min(url.size(), kMaxRuleUrl);
    record.urlLength = static_cast<std::uint8_t>(length);
    std::memcpy(record.url, url.data(), length);
    record.kind = static_cast<std::uint8_t>(kind);
    return record;
}

std::optional<TRule> DecodeRule(const TRuleRecord& record)
{
    if (!IsRuleKind(record.kind)) return std::nullopt;
    return TRule{std::string(record.url, record.urlLength), static_cast<TRuleKind>(record.kind)};
}

} // namespace rules
