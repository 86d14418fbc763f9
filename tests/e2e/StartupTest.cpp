// QUELLOR.EXE started as a process, seen from outside.
#include "E2eSupport.h"

using e2e::FreshProgramFolder;
using e2e::TrayIconsWidth;
using e2e::WaitFor;
using robot::FindTopWindow;
using robot::Process;

namespace {

HWND MainWindowOf(const Process& process)
{
    return FindTopWindow(process.Pid(), "TfrmMain", "Quellor", 10000);
}

} // namespace

TEST(Startup, NormalStartIsHiddenInTheTrayAndSurvivesACloseMessage)
{
    std::string folder = FreshProgramFolder("start");
    int before = TrayIconsWidth();
    Process quellor = Process::Start(folder + "QUELLOR.EXE", "", folder);
    ASSERT_TRUE(quellor) << quellor.StartError();

    HWND main = MainWindowOf(quellor);
    ASSERT_NE(main, nullptr);
    EXPECT_FALSE(IsWindowVisible(main));
    int withIcon = 0;
    EXPECT_TRUE(WaitFor([&] { return (withIcon = TrayIconsWidth()) >= before + 16; }, 5000))
        << "tray icons width " << withIcon << ", before " << before;

    // A close message from outside only hides the window.
    PostMessageA(main, WM_CLOSE, 0, 0);
    DWORD code = 0;
    EXPECT_FALSE(quellor.WaitExit(1500, &code));
    EXPECT_TRUE(IsWindow(main));

    // The end of the session ends it, and its icon goes with it.
    DWORD_PTR answer = 0;
    ASSERT_TRUE(
        SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    EXPECT_EQ(answer, 1u);
    EXPECT_TRUE(quellor.WaitExit(10000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(WaitFor([&] { return TrayIconsWidth() == before; }, 5000));
}

TEST(Startup, TrayDoubleClickShowsTheWindow)
{
    std::string folder = FreshProgramFolder("show");
    Process quellor = Process::Start(folder + "QUELLOR.EXE", "", folder);
    HWND main = MainWindowOf(quellor);
    ASSERT_NE(main, nullptr);
    // What the shell sends for a double-click on the icon.
    PostMessageA(main, WM_USER + 1234, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(main) != FALSE; }, 5000));
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    DWORD code = 0;
    EXPECT_TRUE(quellor.WaitExit(10000, &code));
}

TEST(Startup, UninstallSwitchEndsWithoutATrayIcon)
{
    std::string folder = FreshProgramFolder("uninstall");
    int before = TrayIconsWidth();
    for (const char* args : {"/u", "-U", "/i /u"}) {
        Process quellor = Process::Start(folder + "QUELLOR.EXE", args, folder);
        ASSERT_TRUE(quellor);
        robot::Robot robot(quellor.Pid(), {"No"});
        DWORD code = 0;
        EXPECT_TRUE(quellor.WaitExit(20000, &code)) << args;
        EXPECT_EQ(TrayIconsWidth(), before) << args;
    }
}

TEST(Startup, SecondStartGivesASecondInstance)
{
    std::string folder = FreshProgramFolder("twice");
    int before = TrayIconsWidth();
    Process first = Process::Start(folder + "QUELLOR.EXE", "", folder);
    Process second = Process::Start(folder + "QUELLOR.EXE", "", folder);
    HWND one = MainWindowOf(first);
    HWND two = MainWindowOf(second);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_NE(one, two);
    int width = 0;
    EXPECT_TRUE(WaitFor([&] { return (width = TrayIconsWidth()) >= before + 32; }, 5000))
        << "tray icons width " << width << ", before " << before;
    DWORD code = 0;
    EXPECT_FALSE(first.WaitExit(500, &code));
    EXPECT_FALSE(second.WaitExit(10, &code));
}
