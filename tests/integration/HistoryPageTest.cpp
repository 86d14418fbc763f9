// The History Log page through the real main window: the log file, the kill counters,
// the list, the double-click box and clearing the log.
#include <gtest/gtest.h>

#include <windows.h>
// (commctrl.h needs windows.h first)
#include <commctrl.h>

#include <array>

#include "HistoryTestSupport.h"
#include "MainFormFixture.h"

using historytest::PinnedLocale;
using historytest::Record;
using historytest::RecordBytes;
using Row = std::array<std::string, 3>;

namespace {

// Counts the rows going into the list, and how many went in while it was on the screen.
struct RowsSeen {
    int rowsAdded = 0, whileListShown = 0, whileLabelHidden = 0;
    HWND label = nullptr;
};

LRESULT CALLBACK SpyOnRows(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data)
{
    auto* seen = reinterpret_cast<RowsSeen*>(data);
    if (msg == LVM_SETITEMCOUNT || msg == LVM_INSERTITEMA || msg == LVM_INSERTITEMW) {
        ++seen->rowsAdded;
        if (GetWindowLongA(hwnd, GWL_STYLE) & WS_VISIBLE) ++seen->whileListShown;
        if (!(GetWindowLongA(seen->label, GWL_STYLE) & WS_VISIBLE)) ++seen->whileLabelHidden;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

} // namespace

class HistoryPageTest : public MainFormTest {
  protected:
    std::string LogPath() const { return LogFolder() + "QUELLOR.log"; }

    // The user's way in through the tray menu (shows the window, then loads the page).
    void EnterByMenu() { form->mnuHistoryLog.Click(); }

    // The user's way in by a click on the page's tab.
    void ClickTab(ui::TTabSheet& page)
    {
        HWND tabs = form->pageMain.Handle();
        RECT r{};
        SendMessageA(tabs, TCM_GETITEMRECT, page.PageIndex(), reinterpret_cast<LPARAM>(&r));
        LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(tabs, WM_LBUTTONUP, 0, at);
        ASSERT_EQ(form->pageMain.ActivePage(), &page);
    }

    // What the list control itself holds (a virtual list answers through the page).
    std::vector<Row> Rows() const
    {
        std::vector<Row> rows;
        HWND list = form->lvwLog.Handle();
        int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < count; ++i)
            rows.push_back({form->lvwLog.ItemText(i, 0), form->lvwLog.ItemText(i, 1),
                            form->lvwLog.ItemText(i, 2)});
        return rows;
    }

    void DoubleClickRow(int index)
    {
        RECT r{LVIR_BOUNDS};
        SendMessageA(form->lvwLog.Handle(), LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
        SendMessageA(form->lvwLog.Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON,
                     MAKELPARAM(r.left + 20, (r.top + r.bottom) / 2));
    }

    void ClickClear()
    {
        SendMessageA(form->grpKillList.Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
                     reinterpret_cast<LPARAM>(form->btnClearLogFile.Handle()));
    }

    void SetCounter(const char* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    void SetCounter(const char* name, DWORD value) { SetCounter(name, REG_DWORD, &value, 4); }

    void ExpectLoaded()
    {
        EXPECT_TRUE(form->lvwLog.Visible());
        EXPECT_FALSE(form->lblLoadingHistory.Visible());
    }

    // Every date and time text below is in these formats.
    PinnedLocale isoFormats{{{LOCALE_SSHORTDATE, "yyyy-MM-dd"}, {LOCALE_STIMEFORMAT, "HH:mm:ss"}}};
};

TEST_F(HistoryPageTest, PageHoldsItsControlsWhereTheUserExpectsThem)
{
    auto at = [](const ui::TControl& c) {
        RECT r = c.Bounds();
        return std::array<LONG, 4>{r.left, r.top, r.right - r.left, r.bottom - r.top};
    };
    EXPECT_EQ(form->grpKillList.Text(), "Extermination List");
    EXPECT_EQ(at(form->grpKillList), (std::array<LONG, 4>{0, 8, 513, 249}));
    EXPECT_EQ(at(form->lvwLog), (std::array<LONG, 4>{8, 24, 497, 185}));
    EXPECT_EQ(at(form->btnClearLogFile), (std::array<LONG, 4>{384, 220, 105, 21}));
    EXPECT_EQ(form->btnClearLogFile.Text(), "Clear Log File");
    for (const ui::TLabel* label :
         {&form->lblKillsToday, &form->lblKillsTotal, &form->lblLoadingHistory})
        EXPECT_EQ(label->FontColor(), RGB(255, 0, 0));
    EXPECT_EQ(at(form->lblKillsToday)[0], 168);
    EXPECT_EQ(at(form->lblKillsToday)[1], 0);
    EXPECT_EQ(at(form->lblKillsTotal)[0], 328);
    EXPECT_EQ(at(form->lblKillsTotal)[1], 0);

    EXPECT_EQ(form->lblLoadingHistory.Text(), "Loading History ...");
    EXPECT_EQ(at(form->lblLoadingHistory)[0], 180);
    EXPECT_EQ(at(form->lblLoadingHistory)[1], 100);
    LOGFONTA font{};
    GetObjectA(
        reinterpret_cast<HFONT>(SendMessageA(form->lblLoadingHistory.Handle(), WM_GETFONT, 0, 0)),
        sizeof font, &font);
    EXPECT_EQ(std::abs(font.lfHeight), 19);
    EXPECT_FALSE(form->lblLoadingHistory.Visible());
    // Under the list: later in its parent's z-order.
    bool listSeen = false, labelBelow = false;
    for (HWND w = GetWindow(form->grpKillList.Handle(), GW_CHILD); w;
         w = GetWindow(w, GW_HWNDNEXT)) {
        if (w == form->lvwLog.Handle()) listSeen = true;
        if (w == form->lblLoadingHistory.Handle()) labelBelow = listSeen;
    }
    EXPECT_TRUE(labelBelow);

    HWND list = form->lvwLog.Handle();
    const std::pair<const char*, int> columns[] = {{"Time", 138}, {"URL", 180}, {"Source", 150}};
    ASSERT_EQ(form->lvwLog.ColumnCount(), 3);
    for (int i = 0; i < 3; ++i) {
        testsupport::ListColumn column = testsupport::ReadListColumn(list, i);
        EXPECT_EQ(column.text, columns[i].first);
        EXPECT_EQ(column.width, columns[i].second) << column.text;
    }
    LONG style = GetWindowLongA(list, GWL_STYLE);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(style & LVS_SINGLESEL);
    EXPECT_FALSE(style & (LVS_EDITLABELS | LVS_SORTASCENDING | LVS_SORTDESCENDING));
    DWORD extended = static_cast<DWORD>(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    EXPECT_EQ(extended & (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
              static_cast<DWORD>(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT));
}

TEST_F(HistoryPageTest, EnteringWithNoLogLeavesAnEmptyFileAndAnEmptyList)
{
    ASSERT_FALSE(testsupport::FileExists(LogPath()));
    EnterByMenu();
    EXPECT_EQ(form->pageMain.ActivePage(), &form->tabHistory);
    ASSERT_TRUE(testsupport::FileExists(LogPath()));
    EXPECT_EQ(testsupport::ReadFileBytes(LogPath()), "");
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(form->lblKillsTotal.Text(), "0  Kills Total");
    EXPECT_EQ(form->lblKillsToday.Text(), "0  Kills Today");
    ExpectLoaded();
    EXPECT_TRUE(boxes.empty());
}

TEST_F(HistoryPageTest, RowsShowEveryWholeRecordInOrderWithTrimmedTexts)
{
    const std::string zero(8, '\0'), twoAndAHalf("\0\0\0\0\0\0\x04\x40", 8);
    std::string longSource = std::string(250, 's') + "12345";
    testsupport::WriteFileBytes(
        LogPath(),
        RecordBytes(zero, 20, "http://a.example/   ", 6, "src\n\r\t", 'q') +
            RecordBytes(twoAndAHalf, 0, "not shown after a zero length", 255, longSource) +
            Record(45000.0, "http://midnight.example/\n", "mid \x01") +
            Record(45000.0 + (13 * 3600 + 5 * 60 + 7) / 86400.0, "caf\xE9 \xA0", "") +
            "tenbytes!!");

    EnterByMenu();
    std::vector<Row> expected = {
        {"1899-12-30", "http://a.example/", "src"},
        {"1900-01-01 12:00:00", "", longSource},
        {"2023-03-15", "http://midnight.example/", "mid"},
        {"2023-03-15 13:05:07", "caf\xE9 \xA0", ""},
    };
    EXPECT_EQ(Rows(), expected);
    ExpectLoaded();
    EXPECT_TRUE(boxes.empty());
}

TEST_F(HistoryPageTest, DateAndTimeFollowTheUsersFormats)
{
    testsupport::WriteFileBytes(LogPath(), Record(2.5, "u", "s") + Record(45000.0, "u", "s") +
                                               Record(45000.75, "u", "s"));
    const struct {
        const char* date;
        const char* time;
        std::array<const char*, 3> shown;
    } cases[] = {
        {"dd.MM.yy", "h:mm tt", {"01.01.00 12:00 PM", "15.03.23", "15.03.23 6:00 PM"}},
        {"d/M/yyyy", "HH:mm", {"1/1/1900 12:00", "15/3/2023", "15/3/2023 18:00"}},
    };
    for (const auto& c : cases) {
        PinnedLocale pinned({{LOCALE_SSHORTDATE, c.date}, {LOCALE_STIMEFORMAT, c.time}});
        form->Hide();
        EnterByMenu();
        std::vector<Row> rows = Rows();
        ASSERT_EQ(rows.size(), 3u);
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(rows[i][0], c.shown[i]) << c.date;
    }
}

TEST_F(HistoryPageTest, DamagedTimesShowNoTimeButKeepTheRowAndTheRest)
{
    const std::string nan("\0\0\0\0\0\0\xF8\x7F", 8);
    testsupport::WriteFileBytes(
        LogPath(), RecordBytes(nan, 3, "nan", 1, "s") + Record(1e300, "huge", "s") +
                       Record(-200000.0, "year 1352", "s") + Record(1.0, "after", "s"));
    EnterByMenu();
    std::vector<Row> expected = {
        {"", "nan", "s"}, {"", "huge", "s"}, {"", "year 1352", "s"}, {"1899-12-31", "after", "s"}};
    EXPECT_EQ(Rows(), expected);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(HistoryPageTest, KillLabelsShowTheRegistryCountersInTheUsersNumberFormat)
{
    const struct {
        const char* separator;
        DWORD total, today; // 0xFFFFFFFF: no value
        const char *totalText, *todayText;
    } cases[] = {
        {",", 0xFFFFFFFF, 0xFFFFFFFF, "0  Kills Total", "0  Kills Today"},
        {",", 0, 0, "0  Kills Total", "0  Kills Today"},
        {",", 1234567, 1234, "1,234,567  Kills Total", "1,234  Kills Today"},
        {".", 1234567, 999, "1.234.567  Kills Total", "999  Kills Today"},
    };
    for (const auto& c : cases) {
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kSettingsKey);
        if (c.total != 0xFFFFFFFF) SetCounter("KillsToDate", c.total);
        if (c.today != 0xFFFFFFFF) SetCounter("KillsToday", c.today);
        PinnedLocale pinned({{LOCALE_STHOUSAND, c.separator},
                             {LOCALE_SDECIMAL, std::string(c.separator) == "." ? "," : "."}});
        form->Hide();
        EnterByMenu();
        EXPECT_EQ(form->lblKillsTotal.Text(), c.totalText);
        EXPECT_EQ(form->lblKillsToday.Text(), c.todayText);
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(HistoryPageTest, ACounterOfTheWrongTypeIsReportedAndTheListComesBack)
{
    SetCounter("KillsToDate", REG_SZ, "12", 3);
    // Shown first: the settings refresh reports the same value on its own.
    form->Show();
    boxes.clear();
    EnterByMenu();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Invalid data type for 'KillsToDate'");
    EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    ExpectLoaded();
}

TEST_F(HistoryPageTest, TheListStaysHiddenWhileItFills)
{
    std::string file;
    for (int i = 0; i < 50; ++i)
        file += Record(45000 + i, "http://x.example/" + std::to_string(i), "s");
    testsupport::WriteFileBytes(LogPath(), file);

    RowsSeen seen;
    seen.label = form->lblLoadingHistory.Handle();
    ASSERT_TRUE(
        SetWindowSubclass(form->lvwLog.Handle(), SpyOnRows, 7, reinterpret_cast<DWORD_PTR>(&seen)));
    EnterByMenu();
    RemoveWindowSubclass(form->lvwLog.Handle(), SpyOnRows, 7);

    EXPECT_GT(seen.rowsAdded, 0);
    EXPECT_EQ(seen.whileListShown, 0);
    EXPECT_EQ(seen.whileLabelHidden, 0);
    EXPECT_EQ(Rows().size(), 50u);
    ExpectLoaded();
}

TEST_F(HistoryPageTest, EveryRowOfALongLogCanBeReachedAndSelected)
{
    std::string file;
    for (int i = 0; i < 3000; ++i)
        file += Record(i < 1500 ? 43466.0 + i / 2 : 44927.0 + (i - 1500) / 10.0, // 2019.., 2023..
                       "http://x.example/" + std::to_string(i), "s" + std::to_string(i));
    testsupport::WriteFileBytes(LogPath(), file);
    EnterByMenu();
    ASSERT_EQ(Rows().size(), 3000u);
    HWND list = form->lvwLog.Handle();
    form->lvwLog.SetFocus();

    SendMessageA(list, WM_KEYDOWN, VK_END, 0);
    EXPECT_EQ(form->lvwLog.SelectedIndex(), 2999);
    EXPECT_EQ(form->lvwLog.ItemText(2999, 1), "http://x.example/2999");
    RECT row{LVIR_BOUNDS}, client{};
    SendMessageA(list, LVM_GETITEMRECT, 2999, reinterpret_cast<LPARAM>(&row));
    GetClientRect(list, &client);
    EXPECT_TRUE(row.top >= client.top && row.bottom <= client.bottom) << "scrolled into view";

    // Typing jumps to the first row whose Time begins with the typed text ("202" is 2019).
    for (char c : std::string("2023"))
        SendMessageA(list, WM_CHAR, c, 1);
    EXPECT_EQ(form->lvwLog.SelectedIndex(), 1500);

    DoubleClickRow(form->lvwLog.SelectedIndex());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "TIME:  2023-01-01\r\nURL:   http://x.example/1500\r\nSRC:   s1500\r\n");
}

TEST_F(HistoryPageTest, DoubleClickShowsTheSelectedRowInAPlainBox)
{
    testsupport::WriteFileBytes(LogPath(),
                                Record(2.5, "http://first.example/", "one") +
                                    Record(45000.0, "http://pop.example/ad \n", "src  "));
    EnterByMenu();
    DoubleClickRow(1);
    EXPECT_TRUE(boxes.empty()) << "no row selected";

    form->lvwLog.Select(1);
    DoubleClickRow(1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "TIME:  2023-03-15\r\nURL:   http://pop.example/ad\r\nSRC:   src\r\n");
    EXPECT_EQ(boxes[0].caption, "Quellor");
    EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK)) << "no icon, one OK button";

    form->lvwLog.Select(0);
    DoubleClickRow(0);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text,
              "TIME:  1900-01-01 12:00:00\r\nURL:   http://first.example/\r\nSRC:   one\r\n");
}

TEST_F(HistoryPageTest, ClearAnsweredNoChangesNothing)
{
    std::string content = Record(2.5, "http://kept.example/", "kept");
    testsupport::WriteFileBytes(LogPath(), content);
    SetCounter("KillsToDate", 7);
    EnterByMenu();
    answer = IDNO;
    ClickClear();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Delete the entire history log file?");
    EXPECT_EQ(boxes[0].caption, "Confirm");
    EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_EQ(testsupport::ReadFileBytes(LogPath()), content);
}

TEST_F(HistoryPageTest, ClearAnsweredYesDeletesTheFileOrSaysWhyAndKeepsTheList)
{
    enum Case { FilePresent, FileGone, FileHeldOpen };
    for (Case c : {FilePresent, FileGone, FileHeldOpen}) {
        testsupport::WriteFileBytes(LogPath(), Record(2.5, "a", "b") + Record(3.5, "c", "d"));
        SetCounter("KillsToDate", 1234);
        form->Hide();
        EnterByMenu();
        ASSERT_EQ(Rows().size(), 2u);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c == FileGone) DeleteFileA(LogPath().c_str());
        if (c == FileHeldOpen)
            held = CreateFileA(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);

        boxes.clear();
        answer = IDYES;
        ClickClear();
        // Held by a reader that does not share deletion: the file and its entries stay.
        const bool stays = c == FileHeldOpen;
        ASSERT_EQ(boxes.size(), stays ? 2u : 1u) << c;
        if (stays) {
            EXPECT_EQ(boxes[1].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
            EXPECT_NE(boxes[1].text.find("\"" + LogPath() + "\""), std::string::npos)
                << boxes[1].text;
        }
        EXPECT_EQ(Rows().size(), stays ? 2u : 0u) << c;
        EXPECT_EQ(testsupport::FileExists(LogPath()), stays) << c;
        EXPECT_EQ(form->lblKillsTotal.Text(), "1,234  Kills Total") << "counters stay";
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    }

    // Entering again after a clear: an empty list and a new empty file.
    DeleteFileA(LogPath().c_str());
    form->Hide();
    EnterByMenu();
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(testsupport::ReadFileBytes(LogPath()), "");
}

TEST_F(HistoryPageTest, ALockedLogGivesAnEmptyListAndNoMessage)
{
    std::string content = Record(2.5, "a", "b");
    testsupport::WriteFileBytes(LogPath(), content);
    EnterByMenu();
    ASSERT_EQ(Rows().size(), 1u);

    HANDLE held =
        CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ClickTab(form->tabDefault);
    ClickTab(form->tabHistory);
    CloseHandle(held);
    EXPECT_TRUE(Rows().empty());
    ExpectLoaded();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(testsupport::ReadFileBytes(LogPath()), content);
}

TEST_F(HistoryPageTest, ThePageLoadsByItsTabAndWhenTheWindowIsShownOnIt)
{
    testsupport::WriteFileBytes(LogPath(), Record(2.5, "a", "b"));
    form->Show();
    ClickTab(form->tabHistory);
    EXPECT_EQ(Rows().size(), 1u);

    // Shown again from hidden on the same page: reloaded with what the log holds now.
    testsupport::WriteFileBytes(LogPath(), Record(2.5, "a", "b") + Record(3.5, "c", "d"));
    form->Hide();
    SendMessageA(form->Handle(), WM_TRAYMESSAGE, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(Rows().size(), 2u);
    ExpectLoaded();
}

TEST_F(HistoryPageTest, HistoryAndRulesPagesLeaveEachOthersListAlone)
{
    // The rule list as the rules page keeps it; made here where that page has none yet.
    if (!form->lvwRules.Handle()) form->lvwRules.Create(form->tabRules, 8, 24, 497, 185);
    if (form->lvwRules.ColumnCount() == 0) form->lvwRules.AddColumn("Rule", 200);
    form->lvwRules.AddItem({"unsaved rule"});
    int rules = form->lvwRules.Count();
    form->RulesChanged = true;

    testsupport::WriteFileBytes(LogPath(), Record(2.5, "a", "b"));
    form->Show();
    ClickTab(form->tabHistory);
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(form->lvwRules.Count(), rules);
    EXPECT_EQ(form->lvwRules.ItemText(rules - 1, 0), "unsaved rule");
    EXPECT_TRUE(form->RulesChanged);

    // The log grows meanwhile; entering the rules page does not reload the history.
    testsupport::WriteFileBytes(LogPath(), Record(2.5, "a", "b") + Record(3.5, "c", "d"));
    ClickTab(form->tabRules);
    EXPECT_EQ(Rows().size(), 1u);
}
