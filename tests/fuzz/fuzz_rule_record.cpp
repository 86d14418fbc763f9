// Any bytes as a rule file: every whole record decodes to a kind 1 to 4 and exactly its
// length byte's worth of URL, or is skipped; re-encoding a rule gives its record back with
// the bytes after the URL zeroed.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "rules/RuleRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace rules;
    for (size_t i = 0; i < RuleCount(size); ++i) {
        TRuleRecord record;
        std::memcpy(&record, data + i * kRuleRecordSize, kRuleRecordSize);
        std::optional<TRule> rule = DecodeRule(record);
        if (!rule) {
            if (IsRuleKind(record.kind)) __builtin_trap();
            continue;
        }
        if (rule->url.size() != record.urlLength || RuleKindText(rule->kind).empty())
            __builtin_trap();
        std::memset(record.url + record.urlLength, 0, kMaxRuleUrl - record.urlLength);
        TRuleRecord again = EncodeRule(rule->url, rule->kind);
        if (std::memcmp(&again, &record, kRuleRecordSize) != 0) __builtin_trap();
    }

    // The same bytes as a URL typed into the editor: cut to 255, nothing else changed.
    std::string_view url(reinterpret_cast<const char*>(data), size);
    std::optional<TRule> back = DecodeRule(EncodeRule(url, rkKillStartsWith));
    if (!back || back->url != url.substr(0, kMaxRuleUrl) || back->kind != rkKillStartsWith)
        __builtin_trap();
    return 0;
}
