// Any rule text and address (split at the first newline): normalising stays inside the text,
// a rule matches only addresses with its own host (what the rule set's index relies on), and
// the rule set agrees with matching the rule by hand.
#include <cstddef>
#include <cstdint>
#include <string>

#include "rules/RuleMatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t split = text.find('\n');
    std::string ruleText = text.substr(0, split);
    std::string addressText = split == std::string::npos ? std::string() : text.substr(split + 1);

    rules::TAddress rule = rules::NormalizeAddress(ruleText);
    rules::TAddress address = rules::NormalizeAddress(addressText);
    for (const rules::TAddress* a : {&rule, &address}) {
        if (a->hostLength > a->rest.size()) __builtin_trap();
        if (a->host().find_first_of("/?#:@") != std::string_view::npos) __builtin_trap();
        if (a->rest.size() > size) __builtin_trap();
        // Every address is its own most exact rule.
        if (rules::RuleMatches(*a, *a) != !a->empty()) __builtin_trap();
    }

    bool matches = rules::RuleMatches(rule, address);
    if (matches && !rule.rest.empty() && rule.host() != address.host()) __builtin_trap();
    for (int kind = 1; kind <= 4; ++kind) {
        rules::TRuleSet set({{ruleText, static_cast<rules::TRuleKind>(kind)}});
        int found = kind % 2 == 0 ? set.Match({}, address) : set.Match(address, {});
        if ((found == 0) != matches) __builtin_trap();
    }
    (void)rules::IsAdvertAddress(addressText);
    return 0;
}
