// What judging one new window costs the browser with 10,000 rules loaded and nothing
// changed, against a bare scan of the same 10,000 decoded rules (each rule's URL tested
// as a prefix of both addresses); and what the freshness check alone costs. Figures are
// printed, never judged: run it with `make bench-helper`.
//
// The helper is the real QUELLOR.DLL, sited on the stand-in browser of IEHOST.EXE, and
// every event goes through IDispatch::Invoke as the browser's would.
#include <windows.h>

#include <exdispid.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "SettingsKey.h"
#include "TestSupport.h"
#include "helper_contract/HelperContract.h"
#include "rules/RuleFile.h"
#include "rules/RuleRecord.h"
#include "tools/iehost/Browser.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kRules = 10000;
const std::string kOpening = "http://www.news.example/world/today.html";
const std::string kPopup = "http://offers.example.net/deal?id=42";

// Ten thousand rules over a thousand sites; the visited site has ten of its own, none of
// which matches, so every judgement ends at the default (allowed: nothing is logged).
std::string RuleFileBytes()
{
    std::string bytes;
    for (int i = 0; i < kRules; ++i) {
        std::string url = i % 1000 == 7 ? "news.example/sport/" + std::to_string(i)
                                        : "site" + std::to_string(i % 1000) + ".example.com/p" +
                                              std::to_string(i);
        rules::TRuleRecord r = rules::EncodeRule(url, 1 + i % 4);
        bytes.append(reinterpret_cast<const char*>(&r), sizeof r);
    }
    return bytes;
}

// Microseconds per call: the median of batch means.
template <typename Work> double MicrosecondsPerCall(int batches, int perBatch, Work work)
{
    std::vector<double> means;
    for (int b = 0; b < batches; ++b) {
        double start = bench::Seconds();
        for (int i = 0; i < perBatch; ++i)
            work();
        means.push_back((bench::Seconds() - start) / perBatch * 1e6);
    }
    return bench::Median(means);
}

} // namespace

int main()
{
    CoInitialize(nullptr);
    std::string folder = testsupport::FreshFolder("helper bench");
    std::string rulePath = folder + "QUELLOR.rul";
    testsupport::WriteFileBytes(rulePath, RuleFileBytes());
    settingskey::Clear();
    settingskey::SetDword("DefaultNoPopups", 0);
    settingskey::SetString("RuleFile", rulePath);
    settingskey::SetString("LogFile", folder + "QUELLOR.log");
    settingskey::Set("LastChange", REG_BINARY, settingskey::Double(46000.5));

    std::string dll = testsupport::StageDir() + "QUELLOR.DLL";
    HMODULE library = LoadLibraryA(dll.c_str());
    auto getClass = library
                        ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
                              reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")))
                        : nullptr;
    CLSID clsid{};
    std::wstring clsidText(contract::kHelperClsid, contract::kHelperClsid + 38);
    CLSIDFromString(clsidText.c_str(), &clsid);
    ComPtr<IClassFactory> factory;
    ComPtr<IObjectWithSite> helper;
    if (!getClass || FAILED(getClass(clsid, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&helper)))) {
        std::fprintf(stderr, "cannot load the browser helper %s\n", dll.c_str());
        return 1;
    }
    iehost::Browser browser;
    browser.SetLocation(kOpening);
    if (FAILED(helper->SetSite(browser.Site()))) {
        std::fprintf(stderr, "SetSite failed\n");
        return 1;
    }
    if (browser.FireNewWindow3(kPopup, 0x2)) {
        std::fprintf(stderr, "the window was killed: the benchmark's rules are wrong\n");
        return 1;
    }

    std::vector<rules::TRule> decoded = *rules::ReadRuleFile(rulePath);
    volatile int sink = 0;
    auto bareScan = [&] {
        int matches = 0;
        for (const rules::TRule& rule : decoded)
            matches += kPopup.compare(0, rule.url.size(), rule.url) == 0 ||
                       kOpening.compare(0, rule.url.size(), rule.url) == 0;
        sink = sink + matches;
    };
    double judge = 0, bare = 0, fresh = 0;
    // Alternating rounds, so that a busy moment of the machine falls on both sides.
    std::vector<double> judges, bares, freshes;
    for (int round = 0; round < 5; ++round) {
        judges.push_back(MicrosecondsPerCall(5, 200, [&] { browser.FireNewWindow3(kPopup, 0x2); }));
        bares.push_back(MicrosecondsPerCall(5, 200, bareScan));
        freshes.push_back(
            MicrosecondsPerCall(5, 200, [&] { browser.FireBool(DISPID_ONTOOLBAR, true); }));
    }
    judge = bench::Median(judges);
    bare = bench::Median(bares);
    fresh = bench::Median(freshes);

    std::printf("rules loaded:                         %zu\n", decoded.size());
    std::printf("judging one new window (NewWindow3):  %8.1f us\n", judge);
    std::printf("bare scan of the decoded rules:       %8.1f us\n", bare);
    std::printf("ratio (goal: within 2x):              %8.2f\n", judge / bare);
    std::printf("freshness check alone (goal < 1 ms):  %8.1f us\n", fresh);

    helper->SetSite(nullptr);
    helper.Reset();
    factory.Reset();
    settingskey::Clear();
    return 0;
}
