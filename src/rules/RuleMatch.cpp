#include "rules/RuleMatch.h"

#include <algorithm>

#include "rules/UrlText.h"

namespace rules {

using namespace text;

namespace {

// The advertising servers whose frames "block ads" cancels, and any host under them.
constexpr std::string_view kAdvertHosts[] = {
    "doubleclick.net", "fastclick.net",    "advertising.com", "atdmt.com",
    "valueclick.com",  "tribalfusion.com", "zedo.com",        "adbrite.com",
    "falkag.net",      "ads.yahoo.com",    "burstnet.com",    "casalemedia.com",
};
// Path pieces that mark an advert on any server, compared in lower case.
constexpr std::string_view kAdvertPaths[] = {
    "/ads/", "/adserver/", "/banners/", "/adclick", "/advert",
};

bool IsWebScheme(std::string_view scheme)
{
    return scheme == "http" || scheme == "https";
}

bool TestsPopup(TRuleKind kind)
{
    return kind == rkAllowStartsWith || kind == rkKillStartsWith;
}

bool Allows(TRuleKind kind)
{
    return kind == rkAllowWhileVisiting || kind == rkAllowStartsWith;
}

} // namespace

TAddress NormalizeAddress(std::string_view text)
{
    text = Trim(text);
    TAddress address;
    address.openEnded = !text.empty() && text.back() == '/';

    std::size_t separator = text.find("://");
    if (separator != std::string_view::npos && IsSchemeName(text.substr(0, separator))) {
        address.scheme = LowerAscii(text.substr(0, separator));
        text.remove_prefix(separator + 3);
    }
    // User info may hide the real host: "http://bank.example:x@evil.net/" goes to evil.net.
    std::string_view authority = text.substr(0, text.find_first_of("/?#"));
    std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) text.remove_prefix(at + 1);

    std::size_t hostEnd = std::min(text.find_first_of("/?#:"), text.size());
    std::string host = LowerAscii(text.substr(0, hostEnd));
    if (host.starts_with("www.")) host.erase(0, 4);
    address.hostLength = host.size();
    address.rest = std::move(host);
    address.rest.append(text.substr(hostEnd));
    return address;
}

bool RuleMatches(const TAddress& rule, const TAddress& address)
{
    if (rule.empty() || address.empty()) return false;
    // An address typed without a scheme is what the browser would fetch over http.
    std::string_view scheme =
        address.scheme.empty() ? std::string_view("http") : std::string_view(address.scheme);
    if (rule.scheme.empty() ? !IsWebScheme(scheme) : rule.scheme != scheme) return false;
    std::string_view rest = address.rest, want = rule.rest;
    // A site followed by nothing, "?" or "#" is its root page, as a browser fetches it: the
    // rule "http://pop.example/" made from "http://pop.example?id=1" must match that address.
    std::size_t site = std::min(rest.find_first_of("/?#", address.hostLength), rest.size());
    if ((site == rest.size() || rest[site] != '/') && want.size() > site && want[site] == '/' &&
        want.substr(0, site) == rest.substr(0, site)) {
        rest.remove_prefix(site);
        want.remove_prefix(site + 1);
    }
    if (!rest.starts_with(want)) return false;
    if (rule.openEnded || rest.size() == want.size()) return true;
    // "example.com/ad" must not take in "example.com/adults".
    char next = rest[want.size()];
    return next == '/' || next == '?' || next == '#' || next == ':';
}

std::size_t RuleSpecificity(const TAddress& rule)
{
    return (rule.scheme.empty() ? 0 : rule.scheme.size() + 3) + rule.rest.size();
}

TRuleSet::TRuleSet(std::vector<TRule> rules) : rules_(std::move(rules))
{
    urls_.reserve(rules_.size());
    specificity_.reserve(rules_.size());
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        urls_.push_back(NormalizeAddress(rules_[i].url));
        specificity_.push_back(RuleSpecificity(urls_[i]));
        const TAddress& url = urls_[i];
        // A rule that can match nothing is kept for its index but never looked at.
        if (url.empty() || !IsRuleKind(rules_[i].kind)) continue;
        TSide& side = TestsPopup(rules_[i].kind) ? popup_ : site_;
        // A rule with a host can only match addresses with exactly that host, since the host
        // ends where the first "/?#:" is; only scheme-only rules must be tried everywhere.
        if (url.rest.empty())
            side.schemeOnly.push_back(static_cast<int>(i));
        else
            side.byHost[std::string(url.host())].push_back(static_cast<int>(i));
    }
    auto better = [this](int a, int b) { return Better(a, b); };
    for (TSide* side : {&site_, &popup_}) {
        std::sort(side->schemeOnly.begin(), side->schemeOnly.end(), better);
        for (auto& entry : side->byHost)
            std::sort(entry.second.begin(), entry.second.end(), better);
    }
}

std::size_t TRuleSet::size() const
{
    return rules_.size();
}

const TRule& TRuleSet::at(std::size_t index) const
{
    return rules_.at(index);
}

bool TRuleSet::Better(int a, int b) const
{
    if (specificity_[a] != specificity_[b]) return specificity_[a] > specificity_[b];
    TRuleKind kindA = rules_[a].kind, kindB = rules_[b].kind;
    // On equal length the pop-up's own address says more than the page that opened it.
    if (TestsPopup(kindA) != TestsPopup(kindB)) return TestsPopup(kindA);
    if (Allows(kindA) != Allows(kindB)) return Allows(kindA);
    return a < b;
}

int TRuleSet::BestOf(const TSide& side, const TAddress& address) const
{
    if (address.empty()) return -1;
    int best = -1;
    if (auto found = side.byHost.find(address.host()); found != side.byHost.end()) {
        for (int i : found->second)
            if (RuleMatches(urls_[i], address)) {
                best = i;
                break;
            }
    }
    for (int i : side.schemeOnly)
        if (RuleMatches(urls_[i], address)) {
            if (best < 0 || Better(i, best)) best = i;
            break;
        }
    return best;
}

int TRuleSet::Match(const TAddress& openingPage, const TAddress& popup) const
{
    int site = BestOf(site_, openingPage);
    int own = BestOf(popup_, popup);
    if (site < 0 || own < 0) return std::max(site, own);
    return Better(site, own) ? site : own;
}

TVerdict JudgePopup(const TPopupRequest& request, const TPopupPolicy& policy,
                    std::span<const TRuleSet* const> ruleSets)
{
    if (request.ctrlDown && policy.ignoreWhenCtrlKey) return {false, TVerdictReason::CtrlKey};
    if (request.userRequested) return {false, TVerdictReason::UserRequested};
    const TAddress page = NormalizeAddress(request.openingPage),
                   popup = NormalizeAddress(request.popupUrl);
    for (std::size_t set = 0; set < ruleSets.size(); ++set) {
        if (!ruleSets[set]) continue;
        const TRuleSet& rules = *ruleSets[set];
        int rule = rules.Match(page, popup);
        if (rule >= 0)
            return {!Allows(rules.at(static_cast<std::size_t>(rule)).kind), TVerdictReason::Rule,
                    rule, static_cast<int>(set)};
    }
    return {policy.defaultNoPopups, TVerdictReason::Default};
}

TVerdict JudgePopup(const TPopupRequest& request, const TPopupPolicy& policy, const TRuleSet& rules)
{
    const TRuleSet* one[] = {&rules};
    return JudgePopup(request, policy, one);
}

std::string_view VerdictReasonText(TVerdictReason reason)
{
    switch (reason) {
    case TVerdictReason::CtrlKey:
        return "ctrl";
    case TVerdictReason::UserRequested:
        return "user";
    case TVerdictReason::Rule:
        return "rule";
    case TVerdictReason::Default:
        break;
    }
    return "default";
}

bool IsAdvertAddress(std::string_view url)
{
    TAddress address = NormalizeAddress(url);
    if (address.rest.empty()) return false;
    if (!address.scheme.empty() && !IsWebScheme(address.scheme)) return false;

    std::string_view host = address.host();
    for (std::string_view advert : kAdvertHosts)
        if (host == advert || (host.size() > advert.size() && host.ends_with(advert) &&
                               host[host.size() - advert.size() - 1] == '.'))
            return true;

    // The path only: a query may quote any address at all.
    std::string_view after = std::string_view(address.rest).substr(address.hostLength);
    std::string path = LowerAscii(after.substr(0, after.find_first_of("?#")));
    for (std::string_view piece : kAdvertPaths)
        if (path.find(piece) != std::string::npos) return true;
    return false;
}

} // namespace rules
