// The main window's life: start-up, showing and hiding, ending, the tray icon and menu, help.
#include <gtest/gtest.h>

#include <cstring>

#include "MainFormFixture.h"

namespace {

using testsupport::PumpUntil;

BOOL CALLBACK FindHelpWindow(HWND hwnd, LPARAM lp)
{
    char title[128] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId() && std::string(title) == "Quellor Help" &&
        IsWindowVisible(hwnd)) {
        *reinterpret_cast<HWND*>(lp) = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND HelpWindow()
{
    HWND found = nullptr;
    EnumWindows(FindHelpWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND OpenMenuWindow()
{
    HWND menu = FindWindowA("#32768", nullptr);
    return menu && IsWindowVisible(menu) ? menu : nullptr;
}

} // namespace

class ShellTest : public MainFormTest {};

TEST_F(ShellTest, StartsHiddenWithTheFirstPageAndAClearState)
{
    char cls[64] = {};
    GetClassNameA(form->Handle(), cls, sizeof cls);
    EXPECT_STREQ(cls, "TfrmMain");
    EXPECT_EQ(form->Text(), "Quellor");
    EXPECT_FALSE(form->Visible());
    EXPECT_EQ(form->pageMain.ActivePage(), &form->tabDefault);
    EXPECT_FALSE(form->AllowClose);
    EXPECT_FALSE(form->RulesChanged);
    EXPECT_EQ(form->KazaaWnd, nullptr);
    EXPECT_TRUE(boxes.empty());

    RECT client{};
    GetClientRect(form->Handle(), &client);
    EXPECT_EQ(client.right, 536);
    EXPECT_EQ(client.bottom, 348);
    LONG style = GetWindowLongA(form->Handle(), GWL_STYLE);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_EQ(GetWindow(form->Handle(), GW_OWNER), ui::Application().Handle());
}

TEST_F(ShellTest, AboutMemoOpensWithTheVersionLineThenTheFixedText)
{
    std::vector<std::string> lines = form->memAbout.Lines();
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[0], "Quellor Version " QUELLOR_VERSION);
    EXPECT_EQ(lines[1], "");
    const struct {
        size_t index;
        const char* text;
    } expected[] = {
        {2, "The Quellor prevents those pesky pop-up windows from appearing while you're surfing "},
        {5, "window appears."},
        {8, "windows. "},
        {11, "specific "},
        {12, "web sites or URL's. Other rules can be setup to allow or prevent popup windows that "
             "start with a "},
        {16, "has been closed. Three sound files are included, but any .WAV file can be used as an "
             "audio alert. "},
        {17, ""},
        {22, "ones."},
    };
    for (const auto& e : expected) EXPECT_EQ(lines[e.index], e.text) << "line " << e.index;
    EXPECT_EQ(form->lblWebsiteHyperlink.Text().rfind("http://", 0), 0u);
}

TEST_F(ShellTest, CloseRequestOnlyHidesAndForgetsUnsavedRules)
{
    form->Show();
    form->RulesChanged = true;
    SendMessageA(form->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->RulesChanged);
    EXPECT_FALSE(ui::Application().Terminated());
    EXPECT_TRUE(IsWindow(form->Handle()));

    // The system menu's Close is the same request.
    form->Show();
    SendMessageA(form->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(ui::Application().Terminated());
}

TEST_F(ShellTest, EndOfSessionAnswersYesAndEndsTheLoop)
{
    LRESULT result = SendMessageA(form->Handle(), WM_QUERYENDSESSION, 0, 0);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(form->AllowClose);
    EXPECT_TRUE(ui::Application().Terminated());
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ShellTest, TrayDoubleClickShowsAndReloadsOnlyWhenHidden)
{
    form->btnApply.SetEnabled(true);
    SendMessageA(form->Handle(), WM_TRAYMESSAGE, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(form->btnApply.Enabled()) << "showing runs the settings refresh";
    EXPECT_TRUE(PumpUntil([&] { return GetForegroundWindow() == form->Handle(); }, 2000));

    // Already shown: brought to the front, nothing reloaded.
    form->btnApply.SetEnabled(true);
    SendMessageA(form->Handle(), WM_TRAYMESSAGE, 0, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(form->btnApply.Enabled());
}

TEST_F(ShellTest, SingleClicksAndMovesDoNothing)
{
    for (LPARAM mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_MOUSEMOVE,
                         WM_MBUTTONUP, WM_RBUTTONDBLCLK}) {
        PostMessageA(form->Handle(), WM_TRAYMESSAGE, 0, mouse);
        Pump(100);
        EXPECT_FALSE(form->Visible()) << mouse;
        EXPECT_EQ(OpenMenuWindow(), nullptr) << mouse;
    }
}

namespace {

struct MenuProbe {
    RECT rect{};
    int items = 0;
    std::vector<std::string> captions;
    std::vector<WPARAM> keys; // pressed once the menu is seen
    bool seen = false;
};
MenuProbe* g_probe = nullptr;

void CALLBACK ProbeMenu(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND menuWnd = OpenMenuWindow();
    if (!menuWnd || g_probe->seen) return;
    g_probe->seen = true;
    KillTimer(nullptr, id);
    GetWindowRect(menuWnd, &g_probe->rect);
    HMENU menu = reinterpret_cast<HMENU>(SendMessageA(menuWnd, MN_GETHMENU, 0, 0));
    g_probe->items = GetMenuItemCount(menu);
    for (int i = 0; i < g_probe->items; ++i) {
        char text[64] = {};
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        g_probe->captions.push_back(text);
    }
    if (g_probe->keys.empty()) {
        EndMenu();
        return;
    }
    for (WPARAM key : g_probe->keys) PostMessageA(menuWnd, WM_KEYDOWN, key, 0);
}

// Releases the right button over the tray icon; the probe looks at the menu while it is
// tracked and then presses its keys (none: dismiss it).
MenuProbe RightClickTray(HWND main, std::vector<WPARAM> keys)
{
    SetCursorPos(600, 500);
    MenuProbe probe;
    probe.keys = std::move(keys);
    g_probe = &probe;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, ProbeMenu);
    SendMessageA(main, WM_TRAYMESSAGE, 0, WM_RBUTTONUP);
    KillTimer(nullptr, timer);
    g_probe = nullptr;
    return probe;
}

} // namespace

TEST_F(ShellTest, RightButtonUpOpensTheMenuLeftOfTheCursor)
{
    MenuProbe probe = RightClickTray(form->Handle(), {});
    ASSERT_TRUE(probe.seen);
    std::vector<std::string> expected = {"Default Behaviour", "Rules Engine", "History Log", "",
                                         "About",             "",             "Exit"};
    EXPECT_EQ(probe.captions, expected);
    POINT cursor{};
    GetCursorPos(&cursor);
    EXPECT_LE(std::abs(probe.rect.right - cursor.x), 1) << "right edge at the cursor";
    EXPECT_LT(probe.rect.left, cursor.x);
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(ui::Application().Terminated());
}

TEST_F(ShellTest, ChoosingAboutInTheMenuShowsThatPage)
{
    // Separators are skipped: four steps down reach "About".
    MenuProbe probe =
        RightClickTray(form->Handle(), {VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN});
    ASSERT_TRUE(probe.seen);
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(form->pageMain.ActivePage(), &form->tabAbout);
    EXPECT_TRUE(form->tabAbout.Visible());
    EXPECT_FALSE(form->tabDefault.Visible());
}

TEST_F(ShellTest, MenuItemsOpenTheirPagesAndExitEnds)
{
    const struct {
        ui::TMenuItem* item;
        ui::TTabSheet* page;
    } cases[] = {
        {&form->mnuRulesEngine, &form->tabRules},
        {&form->mnuHistoryLog, &form->tabHistory},
        {&form->mnuAbout, &form->tabAbout},
        {&form->mnuDefaultBehaviour, &form->tabDefault},
    };
    for (const auto& c : cases) {
        form->Hide();
        form->btnApply.SetEnabled(true);
        c.item->Click();
        EXPECT_TRUE(form->Visible()) << c.item->Caption;
        EXPECT_EQ(form->pageMain.ActivePage(), c.page) << c.item->Caption;
        EXPECT_FALSE(form->btnApply.Enabled()) << "shown from hidden: refreshed";
        EXPECT_FALSE(ui::Application().Terminated());
    }
    form->mnuExit.Click();
    EXPECT_TRUE(ui::Application().Terminated());
    EXPECT_TRUE(boxes.empty()) << "Exit asks nothing";
}

TEST_F(ShellTest, HelpCommandThreeOpensTheHelpFileOthersShowNothing)
{
    testsupport::CopyFileOrFail(testsupport::StageDir() + "quellor.chm", folder + "quellor.chm");

    for (WORD command : {HELP_CONTEXT, HELP_CONTEXTPOPUP, HELP_QUIT, HELP_KEY}) {
        EXPECT_TRUE(ui::Application().HelpCommand(command, 0)) << "handled: " << command;
        Pump(300);
        EXPECT_EQ(HelpWindow(), nullptr) << command;
    }
    // A help request from a control (F1 with the focus on a control) is context help.
    SendMessageA(form->Handle(), WM_HELP, 0, 0);
    Pump(300);
    EXPECT_EQ(HelpWindow(), nullptr);

    WORD key = VK_F2;
    form->FormKeyDown(form.get(), key, 0);
    EXPECT_EQ(key, VK_F2) << "other keys pass unchanged";
    Pump(300);
    EXPECT_EQ(HelpWindow(), nullptr);

    SendMessageA(form->Handle(), WM_KEYDOWN, VK_F1, 0);
    EXPECT_TRUE(PumpUntil([] { return HelpWindow() != nullptr; }, 5000));

    // Help windows close with the main window.
    form.reset();
    EXPECT_TRUE(PumpUntil([] { return HelpWindow() == nullptr; }, 5000));
}

TEST_F(ShellTest, NeedHelpLabelOpensTheHelpFileBesideTheProgramWhateverTheCurrentFolder)
{
    testsupport::CopyFileOrFail(testsupport::StageDir() + "quellor.chm", folder + "quellor.chm");
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(testsupport::FreshFolder("elsewhere").c_str()));
    form->Show();
    SendMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(0, STN_CLICKED),
                 reinterpret_cast<LPARAM>(form->lblHelp.Handle()));
    EXPECT_TRUE(PumpUntil([] { return HelpWindow() != nullptr; }, 5000));
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(GetWindow(HelpWindow(), GW_OWNER), ui::Application().Handle());
}

TEST_F(ShellTest, ErrorsOfAHandlerAreShownOnceWithAFullStopRule)
{
    const struct {
        const char* message;
        const char* shown;
    } cases[] = {
        {"Failed to get data for 'X'", "Failed to get data for 'X'"}, // quote sorts before '.'
        {"Unable to create directory", "Unable to create directory."},
        {"Already a sentence.", "Already a sentence."},
        {"Exclaims!", "Exclaims!"},       // '!' sorts before '.'
        {"In brackets (x)", "In brackets (x)"},
        {"Ends in a slash/", "Ends in a slash/."}, // '/' sorts after '.'
        {"Code 5", "Code 5."},
        {"", ""},
    };
    for (const auto& c : cases) {
        boxes.clear();
        ui::Fire([&](ui::TObject*) { throw win::EQuellorError(c.message); }, form.get());
        ASSERT_EQ(boxes.size(), 1u) << c.message;
        EXPECT_EQ(boxes[0].text, c.shown);
        EXPECT_EQ(boxes[0].caption, "Quellor");
        EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    }
    // The loop goes on: the application is not ended by an error.
    EXPECT_FALSE(ui::Application().Terminated());
}

TEST_F(ShellTest, ErrorBoxIsOwnedByTheWindowTheUserSees)
{
    // Owned by the shown window, the box disables it: no second Apply while it is up.
    for (bool shown : {true, false}) {
        shown ? form->Show() : form->Hide();
        boxes.clear();
        ui::Fire([](ui::TObject*) { throw win::EQuellorError("x"); }, form.get());
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, shown ? form->Handle() : ui::Application().Handle()) << shown;
    }
}

TEST_F(ShellTest, EnterInTheMainWindowOpensNoHelp)
{
    int helpRequests = 0;
    ui::Application().OnHelp = [&](WORD, LONG, bool& callHelp) {
        ++helpRequests;
        callHelp = false;
        return true;
    };
    form->Show();
    form->pageMain.SetActivePage(form->tabHistory);
    SetFocus(form->txtMaxLogSize.Handle());
    PostMessageA(form->txtMaxLogSize.Handle(), WM_KEYDOWN, VK_RETURN, 1);
    PostMessageA(form->txtMaxLogSize.Handle(), WM_KEYUP, VK_RETURN, 0xC0000001);
    ui::Application().ProcessMessages();
    EXPECT_EQ(helpRequests, 0);
    EXPECT_TRUE(form->Visible());
}

TEST_F(ShellTest, TrayIconComesBackWhenTheTaskbarRestartsWithATipThatFitsTheRecord)
{
    const std::string title = ui::Application().Title;
    ui::Application().Title = std::string(100, 'T');
    form->TrayIconSetTip();
    ui::Application().Title = title;
    EXPECT_EQ(std::strlen(form->TrayIconData.szTip), 63u);

    form->TrayIconDelete();
    ASSERT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &form->TrayIconData)) << "gone with the taskbar";
    SendMessageA(form->Handle(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &form->TrayIconData));
}
