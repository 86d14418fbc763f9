// Any address: a site stays a short "scheme://host/" text, and a rule made from it covers the
// address whenever a path, a query, a fragment or nothing follows the site, as the browser
// helper matches; an address handed to the browser has a site and holds no blank, quote or
// control character.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "history/LogAddress.h"
#include "rules/RuleMatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string address(reinterpret_cast<const char*>(data), size);
    if (auto site = history::SiteOf(address)) {
        if (site->size() > 255 || site->back() != '/' || site->find("://") == std::string::npos)
            __builtin_trap();
        rules::TAddress rule = rules::NormalizeAddress(*site);
        rules::TAddress seen = rules::NormalizeAddress(address);
        std::string_view siteRest(rule.rest.data(), rule.rest.size() - 1);
        bool siteEnds =
            seen.rest.starts_with(siteRest) &&
            (seen.rest.size() == siteRest.size() ||
             std::string_view("/?#").find(seen.rest[siteRest.size()]) != std::string_view::npos);
        if (siteEnds && !rules::RuleMatches(rule, seen)) __builtin_trap();
        if (history::SiteOf(*site) != site) __builtin_trap();
    }
    if (auto browsable = history::BrowsableAddress(address)) {
        for (char c : *browsable)
            if (static_cast<unsigned char>(c) <= ' ' || c == '"' || c == 127) __builtin_trap();
        if (!history::SiteOf(*browsable)) __builtin_trap();
    }
    return 0;
}
