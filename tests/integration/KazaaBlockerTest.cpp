// The ad blocker in a real TfrmMain, against stand-in clients running in their own
// processes. Passes are run one at a time, without pumping in between, so that each
// test knows exactly how many ran; the timer's own behaviour is tested on its own.
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>
#include <thread>
#include <vector>

#include "KazaaClient.h"
#include "MainFormFixture.h"
#include "adblock/KazaaBlocker.h"

using Microsoft::WRL::ComPtr;
using testsupport::KazaaClient;

namespace {

struct Order {
    HWND a, b, first;
};

BOOL CALLBACK FirstOfTwo(HWND wnd, LPARAM lp)
{
    auto* order = reinterpret_cast<Order*>(lp);
    if (wnd != order->a && wnd != order->b) return TRUE;
    order->first = wnd;
    return FALSE;
}

bool OleaccLoaded()
{
    return GetModuleHandleA("oleacc.dll") != nullptr;
}

// Top-level windows of this process with a title, and what their pass does to them.
struct TopWindow {
    HWND wnd;
    explicit TopWindow(const std::string& title, const char* className = "Static")
        : wnd(CreateWindowExA(0, className, title.c_str(), WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr))
    {
    }
    ~TopWindow() { DestroyWindow(wnd); }
    TopWindow(const TopWindow&) = delete;
    TopWindow& operator=(const TopWindow&) = delete;
};

} // namespace

class KazaaBlockerTest : public MainFormTest {
protected:
    // Whatever the settings say, no pass works until a test ticks the box: starting a
    // client pumps messages, and the form's own timer must not handle it meanwhile.
    void SetUp() override
    {
        MainFormTest::SetUp();
        SetBox(false);
    }

    void TearDown() override
    {
        adblock::SetObjectFromLresultNameForTests(nullptr);
        MainFormTest::TearDown();
    }

    // As the user ticks or unticks the box: the state changes, nothing is applied.
    void SetBox(bool ticked)
    {
        HWND box = form->chkBlockFileSharingAds.Handle();
        if (form->chkBlockFileSharingAds.Checked() != ticked) SendMessageA(box, BM_CLICK, 0, 0);
        ASSERT_EQ(form->chkBlockFileSharingAds.Checked(), ticked);
    }

    void Pass() { form->tmrKazaaTimer(&form->tmrKazaa); }
};

TEST_F(KazaaBlockerTest, TheClientIsATopLevelWindowTitledKazaaFirstInAnyCase)
{
    const struct {
        const char* title;
        bool client;
    } cases[] = {{"KaZaA", true},  {"kazaa Media Desktop", true}, {"KAZAA - Search", true},
                 {"Kaza", false},  {"My Kazaa", false},           {"", false},
                 {" kazaa", false}};
    for (const auto& c : cases) {
        TopWindow window(c.title);
        HWND found = nullptr;
        EnumWindows(adblock::FindKazaaWindowProc, reinterpret_cast<LPARAM>(&found));
        EXPECT_EQ(found == window.wnd, c.client) << '"' << c.title << '"';
    }
    // The user's own browser and folder windows are passed over, whatever their titles.
    for (const char* own : {"IEFrame", "CabinetWClass", "ExploreWClass"}) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = own;
        RegisterClassA(&wc); // may exist already
        // Made last, so it comes first in the enumeration.
        TopWindow client("KaZaA");
        TopWindow users("Kazaa - page or folder", own);
        ASSERT_TRUE(users.wnd) << own;
        HWND found = nullptr;
        EnumWindows(adblock::FindKazaaWindowProc, reinterpret_cast<LPARAM>(&found));
        EXPECT_EQ(found, client.wnd) << own;
    }
}

TEST_F(KazaaBlockerTest, APassHandlesOnlyTheFirstClientAndEmptiesItsPageEveryTime)
{
    KazaaClient one, two("--title \"kazaa two\""), foreign("--title \"Music Player\"");
    ASSERT_TRUE(one.Started() && two.Started() && foreign.Started());
    SetBox(true);

    Pass();
    Order order{one.Main(), two.Main(), nullptr};
    EnumWindows(FirstOfTwo, reinterpret_cast<LPARAM>(&order));
    const KazaaClient& first = order.first == one.Main() ? one : two;
    const KazaaClient& second = order.first == one.Main() ? two : one;
    EXPECT_EQ(form->KazaaWnd, first.Main());
    EXPECT_EQ(first.Closed(), KazaaClient::kAdWindows);
    EXPECT_EQ(first.Count("syscommand-close", "IEFrame"), 1);
    EXPECT_EQ(first.Count("syscommand-close", "Internet Explorer_Server"), 1);
    EXPECT_EQ(first.Count("emptied", "page"), 1);
    EXPECT_EQ(first.OutstandingReferences(), 0) << "every interface released with its window";
    EXPECT_NE(first.EmbeddedBrowser(), nullptr);
    for (const char* className : KazaaClient::kOtherWindows)
        EXPECT_NE(first.Find(className), nullptr) << className;
    for (const KazaaClient* untouched : {&second, static_cast<const KazaaClient*>(&foreign)}) {
        EXPECT_EQ(untouched->Events().size(), 1u) << "only its start is reported";
        EXPECT_NE(untouched->Find("IEFrame"), nullptr);
        EXPECT_NE(untouched->Find("AdBanner"), nullptr);
    }

    // The page is emptied again on every pass; what was closed stays closed.
    Pass();
    Pass();
    EXPECT_EQ(first.Count("emptied", "page"), 3);
    EXPECT_EQ(first.Closed(), KazaaClient::kAdWindows);
    EXPECT_EQ(first.Count("unexpected"), 0);

    // Ads that come back go again, and an unticked box leaves them.
    first.ReopenAds();
    SetBox(false);
    Pass();
    EXPECT_EQ(first.Count("emptied", "page"), 3);
    EXPECT_NE(first.Find("IEFrame"), nullptr);
    SetBox(true);
    Pass();
    EXPECT_EQ(first.Count("emptied", "page"), 4);
    EXPECT_EQ(first.Closed().size(), 2 * KazaaClient::kAdWindows.size());
}

TEST_F(KazaaBlockerTest, BrowserFromDisplayWindowIsSOkSFalseOrTheFailure)
{
    KazaaClient client;
    ASSERT_TRUE(client.Started());
    HWND gone = CreateWindowExA(0, "Static", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    // A window whose thread never reads its messages: the send times out.
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND silent = nullptr;
    std::thread hung([&] {
        silent = CreateWindowExA(0, "Static", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        WaitForSingleObject(release, INFINITE);
        DestroyWindow(silent);
    });
    ASSERT_TRUE(testsupport::PumpUntil([&] { return silent != nullptr; }, 5000));
    ASSERT_FALSE(OleaccLoaded());

    enum Outcome { Browser, NoEntryPoint, Failure };
    const struct {
        const char* what;
        HWND wnd;
        const char* entryPoint;
        Outcome outcome;
    } cases[] = {
        {"embedded browser", client.EmbeddedBrowser(), nullptr, Browser},
        {"entry point missing", client.EmbeddedBrowser(), "ObjectFromLresultGone", NoEntryPoint},
        {"window that does not know the message", client.Find("Button"), nullptr, Failure},
        {"stray display window that answers 0", client.Find("Internet Explorer_Server"), nullptr,
         Failure},
        {"destroyed window", gone, nullptr, Failure},
        {"window that never answers", silent, nullptr, Failure},
    };
    for (const auto& c : cases) {
        ASSERT_NE(c.wnd, nullptr) << c.what;
        adblock::SetObjectFromLresultNameForTests(c.entryPoint);
        int asked = client.Count("getobject");
        ComPtr<IWebBrowser2> browser;
        HRESULT hr = adblock::GetWebBrowserFromWnd(c.wnd, browser.GetAddressOf());
        switch (c.outcome) {
        case Browser:
            EXPECT_EQ(hr, S_OK) << c.what;
            EXPECT_NE(browser, nullptr) << c.what;
            break;
        case NoEntryPoint:
            EXPECT_EQ(hr, S_FALSE) << c.what;
            EXPECT_EQ(browser, nullptr) << c.what;
            EXPECT_EQ(client.Count("getobject"), asked)
                << "nothing is asked without the entry point";
            break;
        case Failure:
            EXPECT_TRUE(FAILED(hr)) << c.what << ": " << std::hex << hr;
            EXPECT_EQ(browser, nullptr) << c.what;
            break;
        }
        browser.Reset();
        EXPECT_FALSE(OleaccLoaded()) << c.what << ": the library is freed by the call";
    }
    SetEvent(release);
    hung.join();
    CloseHandle(release);
    EXPECT_EQ(client.OutstandingReferences(), 0);
}

TEST_F(KazaaBlockerTest, WithoutTheEntryPointTheCloseRequestsStillGoOut)
{
    KazaaClient client;
    ASSERT_TRUE(client.Started());
    adblock::SetObjectFromLresultNameForTests("ObjectFromLresultGone");
    SetBox(true);
    Pass();
    EXPECT_EQ(client.Closed(), KazaaClient::kAdWindows);
    EXPECT_EQ(client.Count("getobject"), 0);
    EXPECT_EQ(client.Count("emptied"), 0);
    EXPECT_TRUE(form->tmrKazaa.Enabled());
}

namespace {

// A banner of this process that records each close request and takes its time over it.
struct SlowBanner {
    struct Call {
        DWORD start, end;
        bool timerEnabled;
    };
    static inline std::vector<Call> calls;
    static inline const ui::TTimer* timer = nullptr;

    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        if (msg != WM_CLOSE) return DefWindowProcA(wnd, msg, wp, lp);
        Call call{GetTickCount(), 0, timer->Enabled()};
        Sleep(400); // longer than the period
        call.end = GetTickCount();
        calls.push_back(call);
        return 0; // stays open, so every pass asks again
    }
};

} // namespace

TEST_F(KazaaBlockerTest, TimerIsOffForThePassAndItsPeriodCountsFromTheEnd)
{
    WNDCLASSA wc{};
    wc.lpfnWndProc = SlowBanner::Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QuellorTestSlowBanner";
    RegisterClassA(&wc);
    SlowBanner::calls.clear();
    SlowBanner::timer = &form->tmrKazaa;
    TopWindow client("Kazaa in this process");
    CreateWindowExA(0, wc.lpszClassName, "", WS_CHILD, 0, 0, 10, 10, client.wnd, nullptr,
                    wc.hInstance, nullptr);

    SetBox(true);
    EXPECT_TRUE(testsupport::PumpUntil([] { return SlowBanner::calls.size() >= 3; }, 10000));
    SetBox(false);
    std::vector<SlowBanner::Call> calls = SlowBanner::calls;
    ASSERT_GE(calls.size(), 2u);
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_FALSE(calls[i].timerEnabled) << "pass " << i;
        // A timer left running through the pass would fire as soon as the pass ended.
        if (i > 0) EXPECT_GE(calls[i].start - calls[i - 1].end, 200u) << "pass " << i;
    }
    EXPECT_TRUE(form->tmrKazaa.Enabled());

    // Unticked: nothing from the next pass on, though the timer keeps running.
    Pump(100);
    size_t before = SlowBanner::calls.size();
    Pump(1000);
    EXPECT_EQ(SlowBanner::calls.size(), before);
    EXPECT_TRUE(form->tmrKazaa.Enabled());
    SetBox(true);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return SlowBanner::calls.size() > before; }, 3000));
    SetBox(false);
}

TEST_F(KazaaBlockerTest, AClientWhoseThreadStopsAnsweringDoesNotStopOurs)
{
    // Asleep for longer than any pass may take; its close requests must give up.
    robot::Process client =
        robot::Process::Start(testsupport::HostPath(HUNG_CLIENT_EXE), "8000", "");
    ASSERT_TRUE(client);
    ASSERT_TRUE(robot::FindTopWindow(client.Pid(), "HungClientMain", nullptr, 10000));
    ASSERT_TRUE(robot::FindTopWindow(client.Pid(), "IEFrame", nullptr, 10000));
    SetBox(true);
    DWORD start = GetTickCount();
    Pass();
    DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 5000u) << "a frame and a banner, a second each at most";
    EXPECT_TRUE(form->tmrKazaa.Enabled());
    SetBox(false);
}
