// What one pass of the file-sharing client ad blocker costs, against the bare cost of the
// same work: one EnumWindows that reads every top-level window's title into the same
// six-character buffer. Figures are printed, never judged: run it with `make bench-kazaa`.
//
// The windows that make up N live in a helper process (this program started again with
// --hold-windows), as they would in other programs: reading their titles then goes
// through the system, not through our own window procedures.
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "KazaaClient.h"
#include "Robot.h"
#include "TestSupport.h"
#include "adblock/KazaaBlocker.h"
#include "adblock/KazaaMatch.h"
#include "app/Paths.h"
#include "app/Sound.h"
#include "app/frmMain.h"

namespace {

BOOL CALLBACK ReadTitle(HWND wnd, LPARAM lp)
{
    char title[adblock::kTitleBufferChars];
    *reinterpret_cast<int*>(lp) += GetWindowTextA(wnd, title, adblock::kTitleBufferChars);
    return TRUE;
}

void BareEnumeration()
{
    int copied = 0;
    EnumWindows(ReadTitle, reinterpret_cast<LPARAM>(&copied));
}

BOOL CALLBACK CountWindow(HWND, LPARAM lp)
{
    ++*reinterpret_cast<int*>(lp);
    return TRUE;
}

int TopLevelWindows()
{
    int count = 0;
    EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

struct Figures {
    double wall = 0; // seconds per run, median of batch means
    double cpu = 0;  // this process's CPU seconds per run, over all batches
};

// Runs a and b in alternating batches, so that a change in the machine's load falls on
// both alike.
std::pair<Figures, Figures> Compare(const std::function<void()>& a, const std::function<void()>& b,
                                    int perBatch, int batches)
{
    std::vector<double> wallA, wallB;
    double cpuA = 0, cpuB = 0;
    auto batch = [&](const std::function<void()>& work, std::vector<double>& wall, double& cpu) {
        double cpuStart = bench::ProcessCpuSeconds(), start = bench::Seconds();
        for (int i = 0; i < perBatch; ++i)
            work();
        wall.push_back((bench::Seconds() - start) / perBatch);
        cpu += bench::ProcessCpuSeconds() - cpuStart;
    };
    a();
    b(); // warm up
    for (int i = 0; i < batches; ++i) {
        batch(a, wallA, cpuA);
        batch(b, wallB, cpuB);
    }
    double runs = static_cast<double>(perBatch) * batches;
    return {{bench::Median(wallA), cpuA / runs}, {bench::Median(wallB), cpuB / runs}};
}

// The helper process: holds `count` hidden top-level windows until it is ended.
int HoldWindows(int count, const char* readyEvent)
{
    for (int i = 0; i < count; ++i)
        CreateWindowExA(0, "Static", ("Bench window " + std::to_string(i)).c_str(), WS_OVERLAPPED,
                        0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyEvent);
    if (ready) SetEvent(ready);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

robot::Process StartWindowHolder(int count)
{
    std::string eventName = "QuellorBenchWindows" + std::to_string(GetCurrentProcessId());
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    robot::Process holder = robot::Process::Start(
        self, "--hold-windows " + std::to_string(count) + " " + eventName, "");
    if (WaitForSingleObject(ready, 60000) != WAIT_OBJECT_0)
        std::fprintf(stderr, "the window holder did not get ready\n");
    CloseHandle(ready);
    return holder;
}

double Us(double seconds)
{
    return seconds * 1e6;
}
double Ms(double seconds)
{
    return seconds * 1e3;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--hold-windows")
        return HoldWindows(std::atoi(argv[2]), argv[3]);

    ui::TApplication& application = ui::Application();
    application.Title = "Quellor";
    application.Initialize();
    application.MessageBoxHook = [](HWND, const std::string&, const std::string&, UINT) {
        return IDOK;
    };
    app::PlaySoundHook = [](const std::string&, DWORD) {};
    app::SetProgramPathForTests(testsupport::FreshFolder("bench") + "QUELLOR.EXE");
    TfrmMain form;
    application.SetMainForm(&form);
    form.chkBlockFileSharingAds.SetChecked(true);
    auto pass = [&form] { form.tmrKazaaTimer(&form.tmrKazaa); };

    std::printf("Ad blocker pass with no client running, against one EnumWindows reading every\n"
                "title into the same 6-character buffer (wall time: median of batch means;\n"
                "CPU: this process only, Wine's server not included)\n\n");
    std::printf("%6s %12s %12s %8s %14s %14s\n", "N", "bare (us)", "pass (us)", "ratio",
                "bare CPU (us)", "pass CPU (us)");
    for (int n : {50, 500}) {
        int existing = TopLevelWindows();
        robot::Process holder = StartWindowHolder(std::max(0, n - existing));
        int total = TopLevelWindows();
        int perBatch = n <= 50 ? 200 : 40;
        auto [bare, blocker] = Compare(BareEnumeration, pass, perBatch, 15);
        std::printf("%6d %12.1f %12.1f %8.2f %14.1f %14.1f\n", total, Us(bare.wall),
                    Us(blocker.wall), blocker.wall / bare.wall, Us(bare.cpu), Us(blocker.cpu));
    }
    std::printf("\nGoal: ratio within 1.5.\n\n");

    testsupport::KazaaClient client;
    if (!client.Started()) {
        std::printf("The stand-in client did not start: no figures with a client.\n");
        return 1;
    }
    double start = bench::Seconds();
    pass();
    double first = bench::Seconds() - start;
    std::vector<double> passes, empties;
    double cpuStart = bench::ProcessCpuSeconds();
    for (int i = 0; i < 10; ++i) {
        start = bench::Seconds();
        pass();
        passes.push_back(bench::Seconds() - start);
    }
    double cpu = (bench::ProcessCpuSeconds() - cpuStart) / 10;
    HWND embedded = client.EmbeddedBrowser();
    std::vector<double> browsers;
    for (int i = 0; i < 10; ++i) {
        start = bench::Seconds();
        adblock::ClearEmbeddedPage(embedded);
        empties.push_back(bench::Seconds() - start);
        start = bench::Seconds();
        Microsoft::WRL::ComPtr<IWebBrowser2> browser;
        adblock::GetWebBrowserFromWnd(embedded, browser.GetAddressOf());
        browser.Reset();
        browsers.push_back(bench::Seconds() - start);
    }
    std::printf("With the stand-in client running (%d top-level windows):\n", TopLevelWindows());
    std::printf("  first pass, closing its frames and banners too: %8.1f ms\n", Ms(first));
    std::printf("  later passes, emptying its page:      median %8.1f ms (min %.1f, max %.1f)\n",
                Ms(bench::Median(passes)), Ms(*std::min_element(passes.begin(), passes.end())),
                Ms(*std::max_element(passes.begin(), passes.end())));
    std::printf("    of which emptying the page:         median %8.1f ms\n", Ms(bench::Median(empties)));
    std::printf("      of which getting the browser:      median %8.1f ms\n", Ms(bench::Median(browsers)));
    std::printf("    CPU of this process per pass:              %8.1f ms\n", Ms(cpu));
    std::printf("  pages emptied: %d, unexpected calls: %d\n", client.Count("emptied", "page"),
                client.Count("unexpected"));
    form.chkBlockFileSharingAds.SetChecked(false);
    return 0;
}
