// The History Log's menu on a running QUELLOR.EXE, driven only by the keyboard from this
// process as a user would drive it: the tray menu to the page, Tab to the list, the arrow
// keys to an entry, the Applications key or Shift+F10 to its menu, a letter to choose.
#include "../integration/HistoryTestSupport.h"
#include "E2eSupport.h"

using e2e::FreshProgramFolder;
using e2e::WaitFor;
using robot::FindTopWindow;
using robot::Process;

namespace {

std::string RuleRecord(const std::string& url, int kind)
{
    std::string r(257, '\0');
    r[0] = static_cast<char>(url.size());
    r.replace(1, url.size(), url);
    r[256] = static_cast<char>(kind);
    return r;
}

// Keys pressed and let go in order, then all let go in reverse: {VK_SHIFT, VK_F10} is
// Shift+F10.
void Keys(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> input;
    auto add = [&](WORD vk, DWORD flags) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = vk;
        i.ki.dwFlags = flags | (vk == VK_APPS ? KEYEVENTF_EXTENDEDKEY : 0);
        input.push_back(i);
    };
    for (WORD vk : keys)
        add(vk, 0);
    for (auto vk = std::rbegin(keys); vk != std::rend(keys); ++vk)
        add(*vk, KEYEVENTF_KEYUP);
    SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
}

HWND OpenMenu(DWORD pid)
{
    HWND menu = nullptr;
    WaitFor(
        [&] {
            menu = FindTopWindow(pid, "#32768", nullptr, 0);
            return menu && IsWindowVisible(menu);
        },
        5000);
    return menu && IsWindowVisible(menu) ? menu : nullptr;
}

HWND Focus(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

std::string FileOrNothing(const std::string& path)
{
    return testsupport::FileExists(path) ? testsupport::ReadFileBytes(path) : std::string();
}

BOOL CALLBACK FindList(HWND child, LPARAM found)
{
    char name[32] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "SysListView32") != 0 || !IsWindowVisible(child)) return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

} // namespace

TEST(HistoryMenu, DrivenByTheKeyboardItMakesRulesAndCopiesAddresses)
{
    std::string folder = FreshProgramFolder("history menu");
    // The user's own log, where Quellor reads it (from Vista on; Wine reports Windows 7).
    e2e::ClearUserData();
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, "Software\\Tandrel\\Quellor");
    ASSERT_EQ(SHCreateDirectoryExA(nullptr, e2e::UserLogFolder().c_str(), nullptr), ERROR_SUCCESS);
    testsupport::WriteFileBytes(e2e::UserLogFolder() + "QUELLOR.log",
                                historytest::Record(45000.5, "http://ads.example.com/casino.html",
                                                    "http://www.games.example/") +
                                    historytest::Record(45000.5, "http://pop.example.net/win.html",
                                                        "http://www.news.example/world/a.html"));
    Process quellor = Process::Start(folder + "QUELLOR.EXE", "", folder);
    ASSERT_TRUE(quellor) << quellor.StartError();
    HWND main = FindTopWindow(quellor.Pid(), "TfrmMain", "Quellor", 10000);
    ASSERT_NE(main, nullptr);

    // The tray menu's third item is the History Log.
    PostMessageA(main, WM_USER + 1234, 0, WM_RBUTTONUP);
    ASSERT_NE(OpenMenu(quellor.Pid()), nullptr) << "the tray menu";
    Keys({VK_DOWN});
    Keys({VK_DOWN});
    Keys({VK_DOWN});
    Keys({VK_RETURN});
    HWND list = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] {
            EnumChildWindows(main, FindList, reinterpret_cast<LPARAM>(&list));
            return IsWindowVisible(main) && list && SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 2;
        },
        10000));
    for (int tab = 0; tab < 20 && Focus(main) != list; ++tab) {
        HWND before = Focus(main);
        Keys({VK_TAB});
        WaitFor([&] { return Focus(main) != before; }, 2000);
    }
    ASSERT_EQ(Focus(main), list);
    // Stored at start-up, long before the page showed.
    const std::string rulePath = e2e::StoredPath("RuleFile");
    ASSERT_FALSE(rulePath.empty());

    // The second entry, the Applications key, "Visiting": a rule for the source's site.
    Keys({VK_HOME});
    Keys({VK_DOWN});
    Keys({VK_APPS});
    ASSERT_NE(OpenMenu(quellor.Pid()), nullptr);
    Keys({'V'});
    std::string rules = RuleRecord("http://www.news.example/", 1);
    EXPECT_TRUE(WaitFor([&] { return FileOrNothing(rulePath) == rules; }, 5000));

    // The first entry, Shift+F10, "Start": a rule for the pop-up's own site.
    Keys({VK_UP});
    Keys({VK_SHIFT, VK_F10});
    ASSERT_NE(OpenMenu(quellor.Pid()), nullptr);
    Keys({'S'});
    rules += RuleRecord("http://ads.example.com/", 2);
    EXPECT_TRUE(WaitFor([&] { return FileOrNothing(rulePath) == rules; }, 5000));

    // "Copy Address", and Escape chooses nothing.
    Keys({VK_APPS});
    ASSERT_NE(OpenMenu(quellor.Pid()), nullptr);
    Keys({'C'});
    EXPECT_TRUE(WaitFor(
        [] { return testsupport::ClipboardText() == "http://ads.example.com/casino.html"; }, 5000))
        << testsupport::ClipboardText();
    Keys({VK_APPS});
    HWND menu = OpenMenu(quellor.Pid());
    ASSERT_NE(menu, nullptr);
    Keys({VK_ESCAPE});
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(menu); }, 5000));
    EXPECT_EQ(FileOrNothing(rulePath), rules);

    DWORD_PTR answer = 0;
    SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    DWORD code = 0;
    EXPECT_TRUE(quellor.WaitExit(10000, &code));
}
