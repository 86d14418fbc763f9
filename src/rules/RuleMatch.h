#pragma once
// How the browser helper judges a new window: address matching, the decision order and the
// built-in advert table. Platform-free: built natively for the sanitizer and fuzz tests.
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rules/RuleRecord.h"

namespace rules {

// An address or a rule's URL made ready for matching.
struct TAddress {
    std::string scheme; // lower case; empty when the text names none ("scheme://" absent)
    std::string rest;   // host (lower case, without user info and without a leading "www."),
                        // then everything after the host exactly as written
    std::size_t hostLength = 0; // rest[0, hostLength) is the host
    bool openEnded = false; // the text ends with '/' (a rule so written matches any continuation)

    std::string_view host() const { return std::string_view(rest).substr(0, hostLength); }
    bool empty() const { return scheme.empty() && rest.empty(); }
};
TAddress NormalizeAddress(std::string_view text);
// Whether a rule (normalised) matches an address (normalised).
bool RuleMatches(const TAddress& rule, const TAddress& address);
// How specific a rule is: the length of its normalised URL, "scheme://" included.
std::size_t RuleSpecificity(const TAddress& rule);

// The rules of a rule file, prepared once; judging looks at only the rules that can match.
class TRuleSet {
  public:
    TRuleSet() = default;
    explicit TRuleSet(std::vector<TRule> rules);
    std::size_t size() const;
    const TRule& at(std::size_t index) const;
    // Index of the rule that decides for a pop-up opened from openingPage with the address popup,
    // or -1 when none matches. Kinds 1 and 3 are tested against openingPage, kinds 2 and 4 against
    // popup.
    int Match(const TAddress& openingPage, const TAddress& popup) const;

  private:
    // Heterogeneous look-up, so that judging builds no key string.
    struct THostHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view host) const
        {
            return std::hash<std::string_view>{}(host);
        }
    };
    // Rule indexes by host, each list sorted best first so the first match is its best.
    using THostIndex =
        std::unordered_map<std::string, std::vector<int>, THostHash, std::equal_to<>>;
    struct TSide {
        THostIndex byHost;
        std::vector<int> schemeOnly; // "http://" and the like: the only rules without a host key
    };

    bool Better(int a, int b) const;
    int BestOf(const TSide& side, const TAddress& address) const;

    std::vector<TRule> rules_;
    std::vector<TAddress> urls_;           // rules_[i].url normalised
    std::vector<std::size_t> specificity_; // RuleSpecificity(urls_[i])
    TSide site_;                           // kinds 1 and 3, tested against the opening page
    TSide popup_;                          // kinds 2 and 4, tested against the pop-up's address
};

struct TPopupPolicy {
    bool defaultNoPopups = true;
    bool ignoreWhenCtrlKey = true;
};
struct TPopupRequest {
    std::string_view openingPage; // the page that opens the window
    std::string_view popupUrl;    // the new window's address; may be empty (not known)
    bool ctrlDown = false;        // CTRL held down while it opened
    bool userRequested = false;   // the user asked for this window (e.g. "Open in New Window")
};
enum class TVerdictReason { CtrlKey, UserRequested, Rule, Default };
struct TVerdict {
    bool kill = false;
    TVerdictReason reason = TVerdictReason::Default;
    int rule = -1;    // the deciding rule's index in its set
    int ruleSet = -1; // and that set's place in the list judged
};
// The rule sets in the order they are judged: a set decides only where none before it has a
// matching rule (the administrator's before the user's own). Null sets are skipped.
TVerdict JudgePopup(const TPopupRequest& request, const TPopupPolicy& policy,
                    std::span<const TRuleSet* const> ruleSets);
TVerdict JudgePopup(const TPopupRequest& request, const TPopupPolicy& policy,
                    const TRuleSet& rules);
std::string_view VerdictReasonText(TVerdictReason reason); // "ctrl", "user", "rule", "default"

// Sub-frame addresses that the "block ads" setting cancels: a small built-in table of
// advertising hosts and paths, kept as data in one place in RuleMatch.cpp.
bool IsAdvertAddress(std::string_view url);

} // namespace rules
