// QUELLOR.EXE running as a process against stand-in file-sharing clients: the user
// ticks the box on the settings page and the client's ads go, seen from the client.
#include <algorithm>

#include "E2eSupport.h"
#include "KazaaClient.h"

using e2e::FreshProgramFolder;
using e2e::WaitFor;
using robot::Process;
using testsupport::KazaaClient;

namespace {

constexpr char kBoxCaption[] = "Block ads while using file sharing program programs";

BOOL CALLBACK MatchBox(HWND wnd, LPARAM lp)
{
    char text[128] = {};
    char className[32] = {};
    GetClassNameA(wnd, className, sizeof className);
    GetWindowTextA(wnd, text, sizeof text);
    if (lstrcmpiA(className, "Button") != 0 || lstrcmpA(text, kBoxCaption) != 0) return TRUE;
    *reinterpret_cast<HWND*>(lp) = wnd;
    return FALSE;
}

struct RunningQuellor {
    std::string folder = FreshProgramFolder("kazaa");
    Process process = Process::Start(folder + "QUELLOR.EXE", "", folder);
    HWND main = robot::FindTopWindow(process.Pid(), "TfrmMain", "Quellor", 10000);
    // The window is found as soon as it exists; its controls follow.
    bool ready = main && WaitFor([this] { return Box() != nullptr; }, 10000);

    RunningQuellor() = default;
    RunningQuellor(const RunningQuellor&) = delete;
    RunningQuellor& operator=(const RunningQuellor&) = delete;
    // Ended as the end of the session ends it, so that its tray icon goes too.
    ~RunningQuellor()
    {
        DWORD_PTR answer = 0;
        if (main)
            SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
        process.WaitExit(10000, nullptr);
    }

    HWND Box() const
    {
        HWND box = nullptr;
        if (main) EnumChildWindows(main, MatchBox, reinterpret_cast<LPARAM>(&box));
        return box;
    }

    bool Ticked() const
    {
        DWORD_PTR state = 0;
        SendMessageTimeoutA(Box(), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
        return state == BST_CHECKED;
    }

    // What a click on the box amounts to: its new state and the notification to its
    // parent. Apply is never pressed.
    bool SetBox(bool ticked) const
    {
        HWND box = Box();
        if (!box) return false;
        if (Ticked() != ticked) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(box, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0,
                                SMTO_ABORTIFHUNG, 5000, &ignored);
            PostMessageA(GetParent(box), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(box), BN_CLICKED),
                         reinterpret_cast<LPARAM>(box));
        }
        return Ticked() == ticked;
    }
};

} // namespace

TEST(KazaaBlocker, ClosesTheClientsAdsAndEmptiesItsPageOnEveryPass)
{
    KazaaClient client, foreign("--title \"Music Player\"");
    ASSERT_TRUE(client.Started() && foreign.Started());
    RunningQuellor quellor;
    ASSERT_TRUE(quellor.ready);
    ASSERT_TRUE(quellor.SetBox(true));

    EXPECT_TRUE(WaitFor([&] { return client.Count("emptied", "page") >= 3; }, 10000))
        << client.Count("emptied", "page") << " pages emptied";
    EXPECT_EQ(client.Closed(), KazaaClient::kAdWindows);
    EXPECT_EQ(client.Count("syscommand-close", "IEFrame"), 1);
    EXPECT_NE(client.EmbeddedBrowser(), nullptr);
    for (const char* className : KazaaClient::kOtherWindows)
        EXPECT_NE(client.Find(className), nullptr) << className;
    EXPECT_TRUE(IsWindow(client.Main()));
    // Another program's browser frame and banners, while the client runs.
    EXPECT_EQ(foreign.Events().size(), 1u) << "only its start is reported";
    EXPECT_NE(foreign.Find("IEFrame"), nullptr);
    EXPECT_NE(foreign.Find("AdBanner"), nullptr);

    // Ads that come back go at the next pass.
    client.ReopenAds();
    EXPECT_TRUE(WaitFor(
        [&] { return client.Closed().size() == 2 * KazaaClient::kAdWindows.size(); }, 5000));
    EXPECT_EQ(client.Count("syscommand-close", "IEFrame"), 2);

    // Once passes stop, nothing of the client's pages is held any more.
    ASSERT_TRUE(quellor.SetBox(false));
    EXPECT_TRUE(WaitFor([&] { return client.OutstandingReferences() == 0; }, 3000))
        << client.OutstandingReferences() << " references held";
    EXPECT_EQ(client.Count("unexpected"), 0);
    EXPECT_EQ(foreign.Events().size(), 1u);
}

TEST(KazaaBlocker, UntickingStopsAllWorkFromTheNextPassAndTickingResumesIt)
{
    KazaaClient client;
    ASSERT_TRUE(client.Started());
    RunningQuellor quellor;
    ASSERT_TRUE(quellor.ready);
    ASSERT_TRUE(quellor.SetBox(true));
    ASSERT_TRUE(WaitFor([&] { return client.Count("emptied", "page") >= 1; }, 10000));

    ASSERT_TRUE(quellor.SetBox(false));
    // A pass already under way finishes: wait until the client has been left alone a while.
    for (size_t seen = 0, now = client.Events().size(); seen != now && now < 1000;
         now = client.Events().size()) {
        seen = now;
        robot::Pump(1000);
    }
    int emptied = client.Count("emptied", "page");
    size_t closed = client.Closed().size();
    client.ReopenAds();
    robot::Pump(1500);
    EXPECT_EQ(client.Count("emptied", "page"), emptied);
    EXPECT_EQ(client.Closed().size(), closed);
    EXPECT_NE(client.Find("IEFrame"), nullptr);
    EXPECT_NE(client.Find("AdBanner"), nullptr);

    ASSERT_TRUE(quellor.SetBox(true));
    EXPECT_TRUE(WaitFor(
        [&] {
            return client.Count("emptied", "page") > emptied &&
                   client.Closed().size() == closed + KazaaClient::kAdWindows.size();
        },
        3000));
}

TEST(KazaaBlocker, ASilentEmbeddedBrowserDelaysAPassByAtMostAboutASecond)
{
    KazaaClient client("--mute-browser");
    ASSERT_TRUE(client.Started());
    RunningQuellor quellor;
    ASSERT_TRUE(quellor.ready);
    ASSERT_TRUE(quellor.SetBox(true));

    // The timer keeps running: the answering page is emptied pass after pass.
    EXPECT_TRUE(WaitFor([&] { return client.Count("emptied", "page") >= 4; }, 20000))
        << client.Count("emptied", "page") << " pages emptied";
    std::vector<testsupport::ClientEvent> events = client.Events();
    auto silent = std::find_if(events.begin(), events.end(), [](const auto& e) {
        return e.event == "getobject" && e.detail == "silent";
    });
    ASSERT_NE(silent, events.end());
    // The banners enumerated after it in the same pass: the wait is what it cost.
    ASSERT_NE(silent + 1, events.end()) << "the pass went on after the silent window";
    EXPECT_LE(silent[1].tick - silent->tick, 1000u + 700u) << "then " << silent[1].event;
    EXPECT_GE(
        std::count_if(silent, events.end(), [](const auto& e) { return e.event == "emptied"; }), 3);
}
