// The History Log page following kills while it is shown: the kill notification through the
// real window procedure, the log written by another process, the list's real state.
#include <gtest/gtest.h>

#include <windows.h>
// (commctrl.h needs windows.h first)
#include <commctrl.h>

#include <functional>

#include "HistoryTestSupport.h"
#include "MainFormFixture.h"
#include "Robot.h"
#include "win/Handles.h"

using historytest::AppendFromAnotherProcess;
using historytest::Record;

namespace {

std::string Url(int i)
{
    return "http://pop.example/" + std::to_string(i);
}

// Records first..last-1, one day apart.
std::string Records(int first, int last)
{
    std::string bytes;
    for (int i = first; i < last; ++i)
        bytes += Record(45000 + i, Url(i), "http://site.example/");
    return bytes;
}

} // namespace

class HistoryFollowTest : public MainFormTest {
  protected:
    std::string LogPath() const { return LogFolder() + "QUELLOR.log"; }

    void Enter(const std::string& log)
    {
        testsupport::WriteFileBytes(LogPath(), log);
        form->mnuHistoryLog.Click();
    }

    // What the browser helper sends after each kill.
    void Kill() { SendMessageA(form->Handle(), form->KillMessage, 0, 0); }

    std::vector<std::string> Urls() const
    {
        std::vector<std::string> urls;
        for (int i = 0; i < form->lvwLog.Count(); ++i)
            urls.push_back(form->lvwLog.ItemText(i, 1));
        return urls;
    }

    std::vector<std::string> UrlsOf(int first, int last) const
    {
        std::vector<std::string> urls;
        for (int i = first; i < last; ++i)
            urls.push_back(Url(i));
        return urls;
    }

    void SetCounters(DWORD total, DWORD today)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "KillsToDate", 0, REG_DWORD, reinterpret_cast<BYTE*>(&total), 4);
        RegSetValueExA(key, "KillsToday", 0, REG_DWORD, reinterpret_cast<BYTE*>(&today), 4);
        RegCloseKey(key);
    }

    bool LastRowInView() const
    {
        return form->lvwLog.TopIndex() + form->lvwLog.RowsPerPage() >= form->lvwLog.Count();
    }
};

TEST_F(HistoryFollowTest, AKillAddsOnlyWhatWasAppendedAndTheCountersWhateverTheAlerts)
{
    for (bool visualAlert : {false, true}) {
        SetCounters(3, 3);
        form->Hide();
        Enter(Records(0, 3));
        ASSERT_EQ(Urls(), UrlsOf(0, 3));
        form->chkVisualAlert.SetChecked(visualAlert); // as it stands, applied or not

        // Record 1 changed in place (no writer does that): only a page that reads the whole
        // log again would show it.
        std::string log = Records(0, 3);
        log.replace(520 + 9, 3, "XXX");
        testsupport::WriteFileBytes(LogPath(), log);
        ASSERT_EQ(AppendFromAnotherProcess(LogPath(), Records(3, 5)), 0u);
        SetCounters(1234, 2);
        Kill();
        EXPECT_EQ(Urls(), UrlsOf(0, 5)) << visualAlert;
        EXPECT_EQ(form->lblKillsTotal.Text(), "1,234  Kills Total");
        EXPECT_EQ(form->lblKillsToday.Text(), "2  Kills Today");
        EXPECT_EQ(form->tmrSysTrayAnimate.Enabled(), visualAlert);

        Kill(); // nothing new
        EXPECT_EQ(Urls(), UrlsOf(0, 5));
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(HistoryFollowTest, ThePageFollowsOnlyWhileItIsShown)
{
    Enter(Records(0, 2));
    const struct {
        const char* state;
        std::function<void()> leave;
    } cases[] = {
        {"another page", [&] { form->mnuRulesEngine.Click(); }},
        {"window hidden", [&] { form->Hide(); }},
    };
    int records = 2;
    for (const auto& c : cases) {
        c.leave();
        ASSERT_EQ(AppendFromAnotherProcess(LogPath(), Records(records, records + 1)), 0u);
        ++records;
        SetCounters(records, records);
        std::string shown = form->lblKillsTotal.Text();
        Kill();
        EXPECT_EQ(form->lvwLog.Count(), records - 1) << c.state;
        EXPECT_EQ(form->lblKillsTotal.Text(), shown) << c.state;
        form->mnuHistoryLog.Click();
        EXPECT_EQ(Urls(), UrlsOf(0, records)) << c.state;
        EXPECT_EQ(form->lblKillsTotal.Text(), std::to_string(records) + "  Kills Total");
    }
}

TEST_F(HistoryFollowTest, ATrimmedOrClearedLogIsReadAgainAndTheSelectionStaysOnItsEntry)
{
    const struct {
        const char* change;
        int first, last;   // the records the log holds afterwards
        bool cleared;      // deleted first: no old record continues
        int selected, top; // after the kill, for row 25 selected and row 20 on top before
    } cases[] = {
        {"trimmed by 10, then 2 appended", 10, 42, false, 15, 10},
        {"trimmed past the top row", 22, 40, false, 3, 0},
        {"trimmed past the selection", 30, 41, false, -1, 0},
        {"cleared, then 1 appended", 40, 41, true, -1, 0},
    };
    for (const auto& c : cases) {
        form->Hide();
        Enter(Records(0, 40));
        form->lvwLog.Select(25);
        form->lvwLog.ScrollToTop(20);
        ASSERT_EQ(form->lvwLog.TopIndex(), 20);

        // The helper trims by writing the newest records over the oldest, in place.
        if (c.cleared) DeleteFileA(LogPath().c_str());
        std::string kept = Records(c.first, std::min(c.last, 40));
        if (!c.cleared) testsupport::WriteFileBytes(LogPath(), kept);
        std::string appended = (c.cleared ? kept : "") + Records(std::max(c.first, 40), c.last);
        if (!appended.empty()) ASSERT_EQ(AppendFromAnotherProcess(LogPath(), appended), 0u);
        Kill();
        EXPECT_EQ(Urls(), UrlsOf(c.first, c.last)) << c.change;
        EXPECT_EQ(form->lvwLog.SelectedIndex(), c.selected) << c.change;
        if (c.selected >= 0) EXPECT_EQ(form->lvwLog.FocusedIndex(), c.selected) << c.change;
        EXPECT_EQ(form->lvwLog.TopIndex(), c.top) << c.change;

        // And the next kill appends to the log as it is now.
        ASSERT_EQ(AppendFromAnotherProcess(LogPath(), Records(c.last, c.last + 1)), 0u);
        Kill();
        EXPECT_EQ(Urls(), UrlsOf(c.first, c.last + 1)) << c.change;
    }
}

TEST_F(HistoryFollowTest, ALogWhoseFirstRecordChangedIsReadAgain)
{
    Enter(Records(0, 3));
    form->lvwLog.Select(1);
    // As long as before, and longer, but not the same log any more.
    std::string log = Record(1, "http://other.example/", "s") + Records(1, 3);
    testsupport::WriteFileBytes(LogPath(), log);
    Kill();
    EXPECT_EQ(form->lvwLog.ItemText(0, 1), "http://other.example/");
    EXPECT_EQ(form->lvwLog.Count(), 3);
    EXPECT_EQ(form->lvwLog.SelectedIndex(), -1) << "no row is known to be the same entry";
}

TEST_F(HistoryFollowTest, TheViewFollowsNewRowsOnlyForAUserAtTheEnd)
{
    Enter(Records(0, 40));
    HWND list = form->lvwLog.Handle();
    form->lvwLog.SetFocus();
    SendMessageA(list, WM_KEYDOWN, VK_END, 0);
    ASSERT_EQ(form->lvwLog.SelectedIndex(), 39);
    ASSERT_TRUE(LastRowInView());

    ASSERT_EQ(AppendFromAnotherProcess(LogPath(), Records(40, 43)), 0u);
    Kill();
    EXPECT_TRUE(LastRowInView());
    EXPECT_EQ(form->lvwLog.SelectedIndex(), 39) << "the selection stays on its entry";
    EXPECT_EQ(form->lvwLog.FocusedIndex(), 39);

    // Further up the list, the view stays where the user put it.
    form->lvwLog.ScrollToTop(5);
    form->lvwLog.Select(7);
    form->lvwLog.Focus(9);
    ASSERT_EQ(AppendFromAnotherProcess(LogPath(), Records(43, 45)), 0u);
    Kill();
    EXPECT_EQ(form->lvwLog.Count(), 45);
    EXPECT_EQ(form->lvwLog.TopIndex(), 5);
    EXPECT_EQ(form->lvwLog.SelectedIndex(), 7);
    EXPECT_EQ(form->lvwLog.FocusedIndex(), 9);
}

TEST_F(HistoryFollowTest, AKillThatCannotReadTheLogOrACounterSaysNothingAndTheNextCatchesUp)
{
    enum Case { BrokenCounter, LogHeld };
    for (Case c : {BrokenCounter, LogHeld}) {
        SetCounters(5, 5);
        form->Hide();
        Enter(Records(0, 2));
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c == BrokenCounter) {
            HKEY key = nullptr;
            RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_SET_VALUE, &key);
            RegSetValueExA(key, "KillsToDate", 0, REG_SZ, reinterpret_cast<const BYTE*>("12"), 3);
            RegCloseKey(key);
        }
        ASSERT_EQ(AppendFromAnotherProcess(LogPath(), Records(2, 3)), 0u);
        if (c == LogHeld)
            held =
                CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        boxes.clear();
        Kill();
        EXPECT_TRUE(boxes.empty()) << c << ": not a box for every kill";
        EXPECT_EQ(form->lvwLog.Count(), c == LogHeld ? 2 : 3) << c;
        EXPECT_EQ(form->lblKillsTotal.Text(), "5  Kills Total") << c;

        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        SetCounters(6, 6);
        ASSERT_EQ(AppendFromAnotherProcess(LogPath(), Records(3, 4)), 0u);
        Kill();
        EXPECT_EQ(Urls(), UrlsOf(0, 4)) << c;
        EXPECT_EQ(form->lblKillsTotal.Text(), "6  Kills Total") << c;
    }
}

// Running out of memory at any point of a refresh, once: one box at most, and the next kill
// shows the log's rows again, neither lost nor twice.
TEST_F(HistoryFollowTest, AnErrorAnywhereInARefreshLeavesTheNextKillTheRightRows)
{
    for (int dropped : {0, 1}) { // records appended, or the log trimmed and read again
        bool failed = true;
        for (long succeeding = 0; failed; ++succeeding) {
            SCOPED_TRACE(std::to_string(dropped) + " dropped, allocation " +
                         std::to_string(succeeding) + " fails");
            form->Hide();
            Enter(Records(0, 3));
            testsupport::WriteFileBytes(LogPath(), Records(dropped, 5));
            boxes.clear();
            {
                testsupport::FailingAllocations failing(succeeding);
                Kill();
                failed = failing.Failed();
            }
            EXPECT_LE(boxes.size(), 1u);
            testsupport::WriteFileBytes(LogPath(), Records(dropped, 6));
            Kill();
            ASSERT_EQ(Urls(), UrlsOf(dropped, 6));
            EXPECT_LE(boxes.size(), 1u) << "not a box for every kill";
            Kill();
            EXPECT_EQ(form->lvwLog.Count(), 6 - dropped);
        }
    }
}

// A log larger than the helpers ever keep (its folder is open to any process of the user):
// the page reads only its newest 10,000 KB of records, says so, and follows on from there.
TEST_F(HistoryFollowTest, OfAHugeLogOnlyTheNewestRecordsAreReadAndThePageSaysSo)
{
    const int most = 10000 * 1024 / 520; // whole records in 10,000 KB
    auto saysOlderNotRead = [&] {
        HWND label =
            FindWindowExA(form->grpKillList.Handle(), nullptr, nullptr, "Older entries not read");
        return label && IsWindowVisible(label);
    };
    const struct {
        int records, appended; // in the log when the page is entered, and then before a kill
        int first;             // the first record listed after the kill
    } cases[] = {
        {most, 0, 0},
        {most - 1, 2, 1},
        {most + 3, 0, 3},
        {most + 3, 2, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.records) + " records, " + std::to_string(c.appended) +
                     " appended");
        form->Hide();
        Enter(Records(0, c.records));
        const int first = std::max(c.records - most, 0);
        ASSERT_EQ(form->lvwLog.Count(), c.records - first);
        EXPECT_EQ(form->lvwLog.ItemText(0, 1), Url(first));
        EXPECT_EQ(saysOlderNotRead(), first > 0);

        testsupport::WriteFileBytes(LogPath(), Records(0, c.records + c.appended));
        Kill();
        const int last = c.records + c.appended - 1;
        ASSERT_EQ(form->lvwLog.Count(), last + 1 - c.first);
        EXPECT_EQ(form->lvwLog.ItemText(0, 1), Url(c.first));
        EXPECT_EQ(form->lvwLog.ItemText(last - c.first, 1), Url(last));
        EXPECT_EQ(saysOlderNotRead(), c.first > 0);
    }
}

// Refreshed while another process appends and trims the log: the rows are always a run of
// whole records in the order written, none twice. Each record holds its number.
TEST_F(HistoryFollowTest, ARefreshWhileAnotherProcessTrimsShowsEachRecordOnceInOrder)
{
    Enter("");
    const char* begunName = "Local\\Quellor.Test.FollowedWriterBegun";
    win::Kernel begun(CreateEventA(nullptr, FALSE, FALSE, begunName));
    robot::Process writer = robot::Process::Start(testsupport::HostPath(LOG_WRITER_EXE),
                                                  "\"" + LogPath() + "\" 20 0 " + begunName, "");
    ASSERT_TRUE(writer) << writer.StartError();
    // It writes until it is stopped, whatever ends the test.
    struct Stopper {
        HANDLE process;
        ~Stopper() { TerminateProcess(process, 1); }
    } stopper{writer.Handle()};
    ASSERT_EQ(WaitForSingleObject(begun.get(), 10000), WAIT_OBJECT_0);
    for (int refresh = 0; refresh < 40; ++refresh) {
        Kill();
        std::vector<std::string> urls = Urls();
        for (size_t i = 1; i < urls.size(); ++i)
            ASSERT_EQ(std::stol(urls[i]), std::stol(urls[i - 1]) + 1)
                << "refresh " << refresh << ", row " << i << " of " << urls.size();
    }
    EXPECT_GT(Urls().size(), 0u);
}
