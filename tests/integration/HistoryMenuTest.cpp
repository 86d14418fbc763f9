// The History Log's menu on an entry: opened as a user opens it, read and answered on the
// screen by a second thread as a user would, and what each item does to the clipboard, the
// shell's open request (through its seam), the rule file and the Rules Engine page.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cctype>
#include <thread>

#include "HistoryTestSupport.h"
#include "RulesFixture.h"
#include "SettingsKey.h"
#include "app/ShellOpen.h"

namespace {

struct MenuItemSeen {
    std::string caption;
    bool grayed;
    bool operator==(const MenuItemSeen&) const = default;
};

[[maybe_unused]] std::ostream& operator<<(std::ostream& out, const MenuItemSeen& item)
{
    return out << '"' << item.caption << (item.grayed ? "\" grayed" : "\"");
}

// Waits for a pop-up menu of this process, reads its items, then types the keys into it.
class MenuRobot {
  public:
    explicit MenuRobot(std::string keys) : keys_(std::move(keys)), thread_([this] { Run(); }) {}
    ~MenuRobot()
    {
        done_ = true;
        thread_.join();
    }
    // Set once the items are read, before any key goes to the menu.
    std::atomic<bool> seen{false};
    std::vector<MenuItemSeen> items;

  private:
    static HWND OpenMenu()
    {
        HWND menu = FindWindowA("#32768", nullptr);
        DWORD pid = 0;
        if (menu) GetWindowThreadProcessId(menu, &pid);
        return menu && IsWindowVisible(menu) && pid == GetCurrentProcessId() ? menu : nullptr;
    }

    void Run()
    {
        HWND menu = nullptr;
        for (DWORD start = GetTickCount(); !menu && !done_ && GetTickCount() - start < 10000;)
            if (!(menu = OpenMenu())) Sleep(10);
        if (!menu) return;
        auto handle = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
        for (int i = 0; i < GetMenuItemCount(handle); ++i) {
            char text[128] = {};
            UINT state = GetMenuState(handle, i, MF_BYPOSITION);
            GetMenuStringA(handle, i, text, sizeof text, MF_BYPOSITION);
            bool separator = state & MF_SEPARATOR;
            items.push_back({separator ? "-" : text, !separator && (state & MF_GRAYED)});
        }
        seen = true;
        // A key that chooses nothing (a greyed item's) leaves the menu open: Escape ends it.
        for (char key : keys_ + '\x1b') {
            if (key == '\x1b')
                PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
            else
                PostMessageA(menu, WM_CHAR, static_cast<unsigned char>(key), 0);
            for (DWORD start = GetTickCount(); OpenMenu() && GetTickCount() - start < 500;)
                Sleep(10);
            if (!OpenMenu()) return;
        }
    }

    std::string keys_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

const char* const kCaptions[] = {
    "&Open Pop-up Window",
    "&Copy Address",
    "-",
    "Allow Pop-up Windows While &Visiting This Site",
    "Allow Pop-up Windows That &Start With This Address",
};

const struct Entry {
    const char* url;
    const char* source;
    const char* applies; // the underlined letters of the items that are not greyed
} kEntries[] = {
    {"http://ads.example.com/pop.html", "http://www.news.example/world/today.html", "OCVS"},
    {"", "http://www.news.example/", "V"}, // a browser that gives no address
    {"about:blank", "about:blank", "C"},
    {"file://server/share/caf\xe9.html", "https://user:pw@Bank.Example:8443/statement", "CV"},
    {"http://pop.example/a b\"c", "javascript:open()", "OCS"},
    {"http://pop?.example/x", "http://news.?.example/", "C"}, // hosts not in the code page
    {"javascript://x.example/%0Aopen()", "ftp://files.example/pub/", "CV"},
};

} // namespace

class HistoryMenuTest : public RulesTest {
  protected:
    void SetUp() override
    {
        RulesTest::SetUp();
        app::ShellOpenHook = [this](HWND owner, const std::string& target) {
            opened.push_back({owner, target});
        };
        std::string log;
        for (const Entry& e : kEntries)
            log += historytest::Record(45000, e.url, e.source);
        testsupport::WriteFileBytes(LogFolder() + "QUELLOR.log", log);
        form->mnuHistoryLog.Click();
        ASSERT_EQ(form->lvwLog.Count(), static_cast<int>(std::size(kEntries)));
    }
    void TearDown() override
    {
        app::ShellOpenHook = nullptr;
        RulesTest::TearDown();
    }

    HWND List() const { return form->lvwLog.Handle(); }

    // The Applications key on the list, as the keyboard sends it.
    void AppsKey()
    {
        SendMessageA(List(), WM_KEYDOWN, VK_APPS, 0x015D0001);
        SendMessageA(List(), WM_KEYUP, VK_APPS, static_cast<LPARAM>(0xC15D0001));
    }

    // Chooses from the menu of an entry by the item's underlined letter. A greyed item is
    // then chosen all the same, as a menu shown before the item was greyed would choose it:
    // its handler must not act on the entry either.
    void Pick(int row, char key)
    {
        form->lvwLog.Select(row);
        MenuRobot robot(std::string(1, key));
        AppsKey();
        ASSERT_TRUE(robot.seen);
        for (ui::TMenuItem* item : form->mnuLogPopup.Items) {
            size_t amp = item->Caption.find('&');
            if (amp != std::string::npos && !item->Enabled &&
                std::tolower(static_cast<unsigned char>(item->Caption[amp + 1])) == key)
                item->Click();
        }
    }

    // The rules page's list as a user sees it on entering the page.
    std::vector<RuleRow> RulesShown()
    {
        ClickTab(form->tabRules);
        std::vector<RuleRow> rows = Rows();
        ClickTab(form->tabHistory);
        return rows;
    }

    std::vector<std::pair<HWND, std::string>> opened;
};

TEST_F(HistoryMenuTest, TheMenuOpensOnTheEntryFromEveryWayInWithTheItemsThatApply)
{
    for (size_t row = 0; row < std::size(kEntries); ++row) {
        form->lvwLog.Select(static_cast<int>(row));
        MenuRobot robot("");
        AppsKey();
        ASSERT_TRUE(robot.seen) << row;
        std::vector<MenuItemSeen> expected;
        for (std::string caption : kCaptions) {
            size_t amp = caption.find('&');
            bool applies =
                amp != std::string::npos &&
                std::string(kEntries[row].applies).find(caption[amp + 1]) != std::string::npos;
            expected.push_back({caption, caption != "-" && !applies});
        }
        EXPECT_EQ(robot.items, expected) << kEntries[row].url << " from " << kEntries[row].source;
    }

    // Shift+F10, through the system's own handling of the key.
    {
        form->lvwLog.Select(2);
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_SHIFT] = 0x80;
        SetKeyboardState(keys);
        MenuRobot robot("c");
        SendMessageA(List(), WM_SYSKEYDOWN, VK_F10, 0x00440001);
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
        EXPECT_TRUE(robot.seen);
        EXPECT_EQ(testsupport::ClipboardText(), "about:blank");
    }

    // A right click selects the entry under the pointer first.
    form->lvwLog.Select(0);
    RECT r{LVIR_BOUNDS, 0, 0, 0};
    SendMessageA(List(), LVM_GETITEMRECT, 3, reinterpret_cast<LPARAM>(&r));
    POINT at{r.left + 30, (r.top + r.bottom) / 2};
    {
        MenuRobot robot("c");
        POINT screen = at;
        ClientToScreen(List(), &screen);
        SetCursorPos(screen.x, screen.y);
        // The pointer's own move first, so the list does not take the click for a drag.
        testsupport::PumpUntil(
            [&] {
                POINT now{};
                GetCursorPos(&now);
                return now.x == screen.x && now.y == screen.y;
            },
            2000);
        PostMessageA(List(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
        PostMessageA(List(), WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
        testsupport::PumpUntil([&] { return robot.seen && !FindWindowA("#32768", nullptr); },
                               10000);
        EXPECT_TRUE(robot.seen);
        EXPECT_EQ(form->lvwLog.SelectedIndex(), 3);
        EXPECT_EQ(testsupport::ClipboardText(), "file://server/share/caf\xe9.html");
    }

    // No entry, no menu: a right click below the last entry, even with one selected, and
    // the keyboard with none selected.
    {
        MenuRobot robot("");
        POINT below{20, 175};
        ClientToScreen(List(), &below);
        SendMessageA(List(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(List()),
                     MAKELPARAM(below.x, below.y));
        LVITEMA none{};
        none.stateMask = LVIS_SELECTED;
        SendMessageA(List(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(&none));
        ASSERT_EQ(form->lvwLog.SelectedIndex(), -1);
        AppsKey();
        EXPECT_FALSE(robot.seen);
    }
    EXPECT_TRUE(boxes.empty());
}

// While only the administrator's rules are used the Allow items are greyed, a pick from a menu
// shown before does nothing, and the page says it is managed.
TEST_F(HistoryMenuTest, AllowIsGreyedWhileOnlyTheAdministratorsRulesAreUsed)
{
    testsupport::PolicyKeys policy;
    policy.SetDword(HKEY_LOCAL_MACHINE, "OnlyAdministratorRules", 1);
    form->SettingsRefresh(); // as showing the window does
    form->mnuHistoryLog.Click();
    EXPECT_TRUE(form->lblManaged.Visible());
    form->lvwLog.Select(0);
    MenuRobot robot("");
    AppsKey();
    ASSERT_TRUE(robot.seen);
    std::vector<bool> greyed;
    for (const MenuItemSeen& item : robot.items)
        greyed.push_back(item.grayed);
    EXPECT_EQ(greyed, (std::vector<bool>{false, false, false, true, true}));
    Pick(0, 'v');
    Pick(0, 's');
    EXPECT_FALSE(testsupport::FileExists(RulePath()));
    EXPECT_TRUE(form->lvwRules.Count() == 0);
}

TEST_F(HistoryMenuTest, OpenAndCopyTakeThePopupsAddressAndOpenOnlyWebAddresses)
{
    const struct {
        int row;
        char key;
        const char* opened;               // null: nothing opened
        const char* clipboard;            // null: unchanged
        const wchar_t* unicode = nullptr; // the clipboard's Unicode text, when changed
    } cases[] = {
        {0, 'o', "http://ads.example.com/pop.html", nullptr},
        {4, 'o', "http://pop.example/a%20b%22c", nullptr},
        {3, 'o', nullptr, nullptr},
        {1, 'o', nullptr, nullptr},
        {4, 'c', nullptr, "http://pop.example/a b\"c", L"http://pop.example/a b\"c"},
        {0, 'c', nullptr, "http://ads.example.com/pop.html", L"http://ads.example.com/pop.html"},
        {3, 'c', nullptr, "file://server/share/caf\xe9.html",
         L"file://server/share/caf\u00e9.html"},
        {1, 'c', nullptr, nullptr},
    };
    // A keyboard layout of another code page (Cyrillic), from which the system would
    // otherwise make the Unicode text.
    HKL layout = GetKeyboardLayout(0);
    ASSERT_TRUE(LoadKeyboardLayoutA("00000419", KLF_ACTIVATE));
    for (const auto& c : cases) {
        opened.clear();
        std::string before = testsupport::ClipboardText();
        std::wstring unicodeBefore = testsupport::ClipboardUnicodeText();
        Pick(c.row, c.key);
        if (c.opened) {
            ASSERT_EQ(opened.size(), 1u) << c.row;
            EXPECT_EQ(opened[0].first, form->Handle());
            EXPECT_EQ(opened[0].second, c.opened);
        } else {
            EXPECT_TRUE(opened.empty()) << c.row;
        }
        EXPECT_EQ(testsupport::ClipboardText(), c.clipboard ? c.clipboard : before)
            << c.row << c.key;
        EXPECT_EQ(testsupport::ClipboardUnicodeText(), c.unicode ? c.unicode : unicodeBefore)
            << c.row << c.key;
    }
    ActivateKeyboardLayout(layout, 0);
    EXPECT_TRUE(boxes.empty());

    // Without memory for the texts: an error box, and the clipboard as it was.
    Pick(0, '\x1b');
    const std::string kept = testsupport::ClipboardText();
    ASSERT_NE(kept, form->lvwLog.ItemText(0, 1));
    bool failed = false;
    {
        testsupport::FailingAllocations failing(0);
        form->mnuCopyAddress.Click();
        failed = failing.Failed();
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(testsupport::ClipboardText(), kept);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(HistoryMenuTest, AllowAddsTheSitesRuleOnceSavedAtOnceAndShownOnTheRulesPage)
{
    const settingskey::Raw before{REG_BINARY, settingskey::Double(1.5)};
    settingskey::Set("LastChange", before.type, before.bytes);
    Pick(0, 'v');
    std::string file = ::Record("http://www.news.example/", 1);
    EXPECT_EQ(RuleFile(), file);
    EXPECT_NE(settingskey::Get("LastChange").value_or(before), before) << "renewed as Apply does";
    Pick(0, 's');
    file += ::Record("http://ads.example.com/", 2);
    EXPECT_EQ(RuleFile(), file);
    Pick(3, 'v');
    file += ::Record("https://bank.example:8443/", 1);
    EXPECT_EQ(RuleFile(), file);

    // The same kind and address again, also as written otherwise: not added twice.
    WriteRuleFile(file + ::Record("HTTP://Pop.Example/", 2));
    file = RuleFile();
    Pick(0, 'v');
    Pick(4, 's');
    Pick(2, 'v'); // greyed: no host
    EXPECT_EQ(RuleFile(), file);

    std::vector<RuleRow> expected = {
        Row("http://www.news.example/", 1), Row("http://ads.example.com/", 2),
        Row("https://bank.example:8443/", 1), Row("HTTP://Pop.Example/", 2)};
    EXPECT_EQ(RulesShown(), expected);
    EXPECT_FALSE(form->RulesChanged);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(HistoryMenuTest, ChangesNotAppliedOnTheRulesPageAreNeitherSavedNorLost)
{
    for (bool fileBefore : {true, false}) {
        SCOPED_TRACE(fileBefore ? "with a rule file" : "without a rule file");
        DeleteFileA(RulePath().c_str());
        if (fileBefore) WriteRuleFile(::Record("kept.example", 3));
        form->RulesChanged = false;
        form->RulesFileInList = false;
        ClickTab(form->tabRules);
        SetRows(fileBefore ? std::vector<RuleRow>{Row("kept.example", 3)} : std::vector<RuleRow>{});
        // A rule added in the editor, not applied.
        EditorScript script({[](TfrmEditRule& e) { Type(e, "mine.example"); },
                             [](TfrmEditRule& e) { Press(e.btnSave); }});
        Click(form->btnAddRule, script);
        ASSERT_TRUE(form->RulesChanged);
        std::vector<RuleRow> unapplied = Rows();

        ClickTab(form->tabHistory);
        Pick(0, 's');
        std::string stored = (fileBefore ? ::Record("kept.example", 3) : "") +
                             ::Record("http://ads.example.com/", 2);
        EXPECT_EQ(RuleFile(), stored) << "in force at once, and nothing else saved";
        EXPECT_TRUE(form->RulesChanged);
        EXPECT_TRUE(form->btnApply.Enabled());

        unapplied.push_back(Row("http://ads.example.com/", 2));
        EXPECT_EQ(Rows(), unapplied) << "what Apply will write";
        if (!fileBefore) EXPECT_EQ(RulesShown(), unapplied) << "kept as while there was no file";
        Press(form->btnApply);
        ASSERT_TRUE(testsupport::PumpUntil([&] { return !form->btnApply.Enabled(); }, 2000));
        EXPECT_EQ(RuleFile(), (fileBefore ? ::Record("kept.example", 3) : "") +
                                  ::Record("mine.example", 1) +
                                  ::Record("http://ads.example.com/", 2));
        ClickTab(form->tabHistory);
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(HistoryMenuTest, CancelDropsUnappliedRulesAfterTheMenuMadeTheFirstRuleFile)
{
    for (bool byClose : {false, true}) {
        SCOPED_TRACE(byClose ? "closed" : "cancelled");
        DeleteFileA(RulePath().c_str());
        ClickTab(form->tabRules);
        EditorScript script({[](TfrmEditRule& e) { Type(e, "mine.example"); },
                             [](TfrmEditRule& e) { Press(e.btnSave); }});
        Click(form->btnAddRule, script);
        ClickTab(form->tabHistory);
        Pick(0, 's');
        if (byClose)
            SendMessageA(form->Handle(), WM_CLOSE, 0, 0);
        else
            Press(form->btnCancel);
        Pump();
        form->mnuHistoryLog.Click();
        const std::vector<RuleRow> stored = {Row("http://ads.example.com/", 2)};
        EXPECT_EQ(RulesShown(), stored);
        form->btnApply.SetEnabled(true);
        Press(form->btnApply);
        EXPECT_EQ(RuleFile(), ::Record("http://ads.example.com/", 2));
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(HistoryMenuTest, ARuleFileThatCannotBeReadOrWrittenGetsItsErrorBoxAndChangesNothing)
{
    const struct {
        const char* state;
        DWORD attributes;
        DWORD share; // of a handle held meanwhile; -1: none
        const char* text;
    } cases[] = {
        {"read-only", FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(-1),
         "The rules were not saved. The rule file \"%s\" is read-only."},
        {"held without sharing", FILE_ATTRIBUTE_NORMAL, 0,
         "Cannot open the rule file \"%s\" for reading: "},
    };
    for (const auto& c : cases) {
        SetFileAttributesA(RulePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteRuleFile(::Record("kept.example", 3));
        SetFileAttributesA(RulePath().c_str(), c.attributes);
        HANDLE held = c.share == static_cast<DWORD>(-1)
                          ? INVALID_HANDLE_VALUE
                          : CreateFileA(RulePath().c_str(), GENERIC_READ, c.share, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
        boxes.clear();
        Pick(0, 'v');
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        ASSERT_EQ(boxes.size(), 1u) << c.state;
        char text[512];
        std::snprintf(text, sizeof text, c.text, RulePath().c_str());
        EXPECT_EQ(boxes[0].text.rfind(text, 0), 0u) << boxes[0].text;
        EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
        SetFileAttributesA(RulePath().c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(RuleFile(), ::Record("kept.example", 3)) << c.state;
        EXPECT_EQ(RulesShown(), std::vector<RuleRow>{Row("kept.example", 3)}) << c.state;
    }
}
