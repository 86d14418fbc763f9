#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "rules/RuleMatch.h"

using namespace rules;

namespace {

bool Matches(const std::string& rule, const std::string& address)
{
    return RuleMatches(NormalizeAddress(rule), NormalizeAddress(address));
}

} // namespace

TEST(RuleMatch, NormalisingSplitsSchemeHostAndRest)
{
    const struct {
        const char* text;
        const char* scheme;
        const char* rest;
        std::size_t hostLength;
        bool openEnded;
    } cases[] = {
        {" HTTP://Us:Pw@WWW.Example.COM:80/Path?Q#F\t", "http", "example.com:80/Path?Q#F", 11,
         false},
        {"Example.com/Ads/", "", "example.com/Ads/", 11, true},
        {"example.com/go?u=http://Evil.net", "", "example.com/go?u=http://Evil.net", 11, false},
        {"http://", "http", "", 0, true},
        {"file:///C:/x", "file", "/C:/x", 0, false},
        {"   ", "", "", 0, false},
    };
    for (const auto& c : cases) {
        TAddress a = NormalizeAddress(c.text);
        EXPECT_EQ(
            std::tie(a.scheme, a.rest, a.hostLength, a.openEnded),
            std::make_tuple(std::string(c.scheme), std::string(c.rest), c.hostLength, c.openEnded))
            << '"' << c.text << '"';
    }
}

TEST(RuleMatch, RuleAgainstAddress)
{
    const struct {
        const char* rule;
        const char* address;
        bool matches;
    } cases[] = {
        {"example.com", "http://www.Example.com/x", true},
        {"example.com", "https://example.com:8080/", true},
        {"example.com", "http://example.com", true},
        {"example.com", "http://example.com?q#f", true},
        {"example.com", "http://example.com.evil.net/", false},
        {"example.com", "ftp://example.com/", false},
        {"example.com", "http://wwwexample.com/", false},
        {"example.com", "example.com/page", true}, // no scheme: taken as http
        {"example.com/ads/", "http://example.com/ads/x.html", true},
        {"example.com/ads/", "http://example.com/ads", false},
        // A site followed by nothing, "?" or "#" is its root page "/".
        {"http://pop.example/", "http://pop.example?id=1", true},
        {"http://pop.example/", "http://www.pop.example", true},
        {"http://pop.example:81/", "http://pop.example:81#x", true},
        {"http://pop.example/?id=1", "http://pop.example?id=1", true},
        {"http://pop.example/", "http://pop.example:81?x", false},
        {"http://pop.example/", "http://pop.examples?x", false},
        {"http://pop.example/x", "http://pop.example?x", false},
        {"http://pop.example/", "https://pop.example", false},
        {"example.com/ad", "http://example.com/adults", false},
        {"example.com/ad", "http://example.com/ad?x=1", true},
        {"example.com/ad", "http://example.com/ad#top", true},
        {"example.com/Ads", "http://example.com/ads", false}, // the path keeps its case
        {"EXAMPLE.COM/Ads", "HTTP://example.com/Ads", true},
        {"example.com:8080", "http://example.com:8080/x", true},
        {"example.com:8080", "http://example.com:80801/", false},
        {"example.com:8080", "http://example.com/x", false},
        {"https://example.com", "http://example.com/", false},
        {"HTTPS://example.com", "https://example.com/", true},
        {"ftp://example.com", "ftp://example.com/x", true},
        {"http://example.com", "example.com/", true},
        {"www.example.com", "http://example.com/", true},
        {"www.example.com", "http://www2.example.com/", false},
        {"evil.net", "http://example.com:x@evil.net/", true},
        {"example.com", "http://example.com:x@evil.net/", false},
        {"user:pw@example.com", "http://example.com/", true},
        {"evil.net", "http://example.com/x@evil.net", false}, // '@' in a path is no user info
        {"example.com", "example.com/go?u=http://evil.net", true},
        {"  example.com \t", " http://example.com/ ", true},
        {"", "http://example.com/", false},
        {"   ", "http://example.com/", false},
        {"www.", "http://example.com/", false},
        {"example.com", "", false},
        {"http://", "", false},
        {"http://", "http://anything.example/x", true},
        {"http://", "https://anything.example/x", false},
        {"https://", "example.com", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Matches(c.rule, c.address), c.matches) << c.rule << " vs " << c.address;
}

TEST(RuleMatch, DecisionOrderAndTieBreaks)
{
    // Setup: d = no pop-ups by default, i = CTRL lets them through, c = CTRL down, u = the user
    // asked. Rules: "kind url", split by '|'; ';' ends a set, judged before the next (the
    // administrator's before the user's own).
    const struct {
        const char* setup;
        const char* rules;
        const char* page;
        const char* popup;
        const char* verdict;
    } cases[] = {
        {"dic", "4 ads.com", "http://news.com/", "http://ads.com/", "allow ctrl"},
        {"dc", "", "http://news.com/", "", "kill default"},
        {"dcu", "", "http://news.com/", "", "allow user"},
        {"iu", "3 news.com", "http://news.com/", "", "allow user"},
        {"i", "", "http://news.com/", "", "allow default"},
        {"di", "1 bank.com", "https://bank.com/x", "", "allow rule 0"},
        {"i", "3 news.com", "http://news.com/", "http://x.com/", "kill rule 0"},
        // Each kind looks at its own address only.
        {"di", "1 bank.com", "http://news.com/", "http://bank.com/", "kill default"},
        {"i", "4 ads.com", "http://ads.com/", "http://x.com/", "allow default"},
        {"i", "4 ads.com", "http://news.com/", "", "allow default"},
        // The longest normalised URL wins, whichever side it tests.
        {"di", "3 x.com|1 x.com/members/", "http://x.com/members/home", "", "allow rule 1"},
        {"di", "2 ads.com|3 news.x.com", "http://news.x.com/", "http://ads.com/", "kill rule 1"},
        {"di", "3 www.x.com|1 x.com/", "http://x.com/", "", "allow rule 1"},
        {"i", "3 http://x.com|1 x.com/page", "http://x.com/page", "", "kill rule 0"},
        {"i", "3 http://|1 x.example", "http://x.example/", "", "allow rule 1"},
        {"i", "3 http://|1 a.b", "http://a.b/", "", "kill rule 0"},
        // Equal length: the pop-up's address beats the page, then allow beats kill, then file
        // order.
        {"i", "1 aaa.com|4 bbb.com", "http://aaa.com/", "http://bbb.com/", "kill rule 1"},
        {"di", "4 x.com|2 x.com", "", "http://x.com/", "allow rule 1"},
        {"i", "3 x.com|1 X.com", "http://x.com/", "", "allow rule 1"},
        {"i", "3 x.com|3 www.X.com", "http://x.com/", "", "kill rule 0"},
        // A kind that is no kind never decides.
        {"i", "7 x.com", "http://x.com/", "http://x.com/", "allow default"},
        // A set decides wherever it has a matching rule, however specific the next set's is.
        {"i", "4 ads.com;2 ads.com", "http://news.com/", "http://ads.com/x", "kill rule 0"},
        {"di", "1 news.com;4 ads.com/special", "http://news.com/", "http://ads.com/special",
         "allow rule 0"},
        {"i", ";3 news.com", "http://news.com/", "", "kill rule 0 of set 1"},
        {"d", "3 other.com;;1 news.com|3 news.com/x", "http://news.com/", "",
         "allow rule 0 of set 2"},
        {"d", "1 x.com;1 y.com", "http://z.com/", "", "kill default"},
        {"dic", "3 news.com;", "http://news.com/", "", "allow ctrl"},
    };
    for (const auto& c : cases) {
        std::vector<std::vector<TRule>> lists(1);
        for (std::string_view rest = c.rules; !rest.empty();) {
            std::string_view item = rest.substr(0, rest.find_first_of("|;"));
            if (!item.empty())
                lists.back().push_back(
                    {std::string(item.substr(2)), static_cast<TRuleKind>(item[0] - '0')});
            if (item.size() < rest.size() && rest[item.size()] == ';') lists.emplace_back();
            rest.remove_prefix(std::min(rest.size(), item.size() + 1));
        }
        std::vector<TRuleSet> sets(lists.begin(), lists.end());
        std::vector<const TRuleSet*> order;
        for (const TRuleSet& set : sets)
            order.push_back(&set);
        std::string setup = c.setup;
        auto has = [&](char flag) { return setup.find(flag) != std::string::npos; };
        TVerdict v = JudgePopup({c.page, c.popup, has('c'), has('u')}, {has('d'), has('i')}, order);
        std::string verdict = std::string(v.kill ? "kill " : "allow ") +
                              std::string(VerdictReasonText(v.reason)) +
                              (v.rule >= 0 ? " " + std::to_string(v.rule) : "") +
                              (v.ruleSet > 0 ? " of set " + std::to_string(v.ruleSet) : "");
        EXPECT_EQ(verdict, c.verdict) << c.setup << " " << c.rules;
    }
}

TEST(RuleMatch, AdvertAddresses)
{
    const struct {
        const char* url;
        bool advert;
    } cases[] = {
        {"http://ad.doubleclick.net/adj/site;sz=468x60", true},
        {"https://www.fastclick.net/", true},
        {"http://ADS.YAHOO.COM/x", true},
        {"http://us.ads.yahoo.com/", true},
        {"view.atdmt.com/x", true},
        {"http://user@zedo.com/", true},
        {"http://news.example/ads/top.gif", true},
        {"http://news.example:8080/AdServer/x", true},
        {"http://news.example/img/banners/1.gif", true},
        {"http://news.example/adclick.php?id=1", true},
        {"http://news.example/Advertising/", true},
        {"http://notdoubleclick.net/", false},
        {"http://doubleclick.net.example/", false},
        {"http://yahoo.com/", false},
        {"http://doubleclick.net@news.example/", false},
        {"ftp://doubleclick.net/", false},
        {"http://news.example/adsorption/", false},
        {"http://news.example/ads", false},
        {"http://news.example/bads/", false},
        {"http://news.example/page?from=/ads/", false},
        {"", false},
        {"  ", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsAdvertAddress(c.url), c.advert) << c.url;
}

// The index must find what checking every rule one by one finds.
TEST(RuleMatch, IndexAgreesWithScanningEveryRule)
{
    const char* schemes[] = {"", "http://", "https://", "HTTP://", "ftp://"};
    const char* hosts[] = {"x.com", "www.x.com", "X.COM", "ads.x.com", "u:p@evil.net", "a.b", ""};
    const char* tails[] = {"", "/", "/ads", "/ads/", "/ads/x", ":8080", "?q", "/x#y", "/Ads/"};
    std::mt19937 random(20240607);
    auto pick = [&](const auto& list) { return list[random() % std::size(list)]; };
    auto text = [&] { return std::string(pick(schemes)) + pick(hosts) + pick(tails); };

    std::vector<TRule> list;
    for (int i = 0; i < 300; ++i)
        list.push_back({text(), static_cast<TRuleKind>(random() % 4 + 1)});
    list.push_back({"http://", rkKillStartsWith});
    list.push_back({"https://", rkAllowWhileVisiting});
    TRuleSet set(list);
    std::vector<TAddress> normalised;
    for (const TRule& rule : list)
        normalised.push_back(NormalizeAddress(rule.url));

    for (int i = 0; i < 2000; ++i) {
        TAddress page = NormalizeAddress(text()), popup = NormalizeAddress(text());
        int expected = -1;
        std::tuple<std::size_t, bool, bool, int> best{};
        for (int r = 0; r < static_cast<int>(list.size()); ++r) {
            bool onPopup = list[r].kind == rkAllowStartsWith || list[r].kind == rkKillStartsWith;
            const TAddress& rule = normalised[r];
            if (!RuleMatches(rule, onPopup ? popup : page)) continue;
            bool allow = list[r].kind == rkAllowWhileVisiting || list[r].kind == rkAllowStartsWith;
            std::tuple<std::size_t, bool, bool, int> key{RuleSpecificity(rule), onPopup, allow, -r};
            if (expected < 0 || key > best) expected = r, best = key;
        }
        ASSERT_EQ(set.Match(page, popup), expected) << page.rest << " / " << popup.rest;
    }
}
