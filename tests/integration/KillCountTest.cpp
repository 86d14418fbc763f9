// Kills a Protected Mode helper asks the tray program to count (wParam 1), serialised with
// the helpers through the writers' mutex; the message let through the window-message
// filter (recorded through its seam: Wine has no filter); integrity levels and the mutex
// that every level can take.
#include <gtest/gtest.h>

#include <aclapi.h>

#include <cmath>
#include <thread>

#include "MainFormFixture.h"
#include "SettingsKey.h"
#include "app/Alerts.h"
#include "helper_contract/HelperContract.h"
#include "history/LogWriter.h"
#include "settings/LocalTime.h"
#include "win/Integrity.h"

using settingskey::Raw;
using testsupport::PumpUntil;

namespace {

struct FilterCallSeen {
    std::string function;
    HWND window;
    UINT message;
    DWORD action;
};
std::vector<FilterCallSeen> filterCalls;

BOOL WINAPI RecordWindowFilter(HWND window, UINT message, DWORD action, void*)
{
    filterCalls.push_back({"ChangeWindowMessageFilterEx", window, message, action});
    return TRUE;
}
BOOL WINAPI RecordProcessFilter(UINT message, DWORD action)
{
    filterCalls.push_back({"ChangeWindowMessageFilter", nullptr, message, action});
    return TRUE;
}

double Today()
{
    return std::floor(NowAsOleDate());
}

// Holds the writers' mutex on a thread of its own, as a helper in another process holds
// it while it writes, until told to let go (or, abandoning it, to end without letting go).
class HeldByAnother {
  public:
    explicit HeldByAnother(bool abandon = false)
        : taken_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          letGo_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
    {
        thread_ = std::thread([this, abandon] {
            win::Kernel mutex = win::CreateSharedMutex(contract::kWriterMutex);
            WaitForSingleObject(mutex.get(), INFINITE);
            SetEvent(taken_.get());
            if (abandon) return;
            WaitForSingleObject(letGo_.get(), INFINITE);
            ReleaseMutex(mutex.get());
        });
        WaitForSingleObject(taken_.get(), 5000);
        if (abandon) thread_.join();
    }
    ~HeldByAnother()
    {
        LetGo();
        if (thread_.joinable()) thread_.join();
    }
    void LetGo() { SetEvent(letGo_.get()); }

  private:
    win::Kernel taken_, letGo_;
    std::thread thread_;
};

} // namespace

class KillCountTest : public MainFormTest {
  protected:
    void BeforeCreate() override
    {
        filterCalls.clear();
        app::MessageFilterHook = win::MessageFilterApi{RecordWindowFilter, RecordProcessFilter};
    }
    void TearDown() override
    {
        MainFormTest::TearDown();
        app::MessageFilterHook.reset();
    }
    void Kill(WPARAM wp) { SendMessageA(form->Handle(), form->KillMessage, wp, 0); }
    // A stored value of the type and size given; `missing` otherwise.
    template <typename T> static T Stored(const char* name, DWORD type, T missing)
    {
        std::optional<Raw> raw = settingskey::Get(name);
        if (raw && raw->type == type && raw->bytes.size() == sizeof(T))
            memcpy(&missing, raw->bytes.data(), sizeof(T));
        return missing;
    }
    static DWORD Counter(const char* name) { return Stored<DWORD>(name, REG_DWORD, 0xFFFFFFFF); }
    static double KillDate() { return Stored<double>("KillDate", REG_BINARY, -1); }
};

TEST_F(KillCountTest, TheKillMessageAndTheShellsRestartAreLetThroughTheMainWindowsFilter)
{
    ASSERT_NE(form->KillMessage, 0u);
    ASSERT_EQ(filterCalls.size(), 2u);
    EXPECT_EQ(filterCalls[0].message, form->TaskbarCreatedMessage);
    EXPECT_EQ(filterCalls[1].message, form->KillMessage);
    for (const FilterCallSeen& call : filterCalls) {
        EXPECT_EQ(call.function, "ChangeWindowMessageFilterEx");
        EXPECT_EQ(call.window, form->Handle()) << "the main window's own filter";
        EXPECT_EQ(call.action, 1u) << "MSGFLT_ALLOW";
    }

    // Which call each Windows gets: per window from 7 on, per process on Vista, none on XP.
    const struct {
        win::MessageFilterApi api;
        win::FilterCall call;
        const char* function;
    } cases[] = {
        {{RecordWindowFilter, RecordProcessFilter},
         win::FilterCall::Window,
         "ChangeWindowMessageFilterEx"},
        {{nullptr, RecordProcessFilter}, win::FilterCall::Process, "ChangeWindowMessageFilter"},
        {{}, win::FilterCall::None, nullptr},
    };
    for (const auto& c : cases) {
        filterCalls.clear();
        EXPECT_EQ(win::AllowMessageFromLowerIntegrity(form->Handle(), 0xC123, c.api), c.call);
        ASSERT_EQ(filterCalls.size(), c.function ? 1u : 0u);
        if (!c.function) continue;
        EXPECT_EQ(filterCalls[0].function, c.function);
        EXPECT_EQ(filterCalls[0].message, 0xC123u);
        EXPECT_EQ(filterCalls[0].action, 1u) << "MSGFLT_ALLOW, MSGFLT_ADD";
    }
    // The real user32 of Wine (Windows 7) has both.
    win::MessageFilterApi system = win::SystemMessageFilterApi();
    EXPECT_TRUE(system.window && system.process);
}

TEST_F(KillCountTest, AKillAskedToBeCountedIsCountedByTheHelpersRules)
{
    const double today = Today();
    const struct {
        const char* what;
        WPARAM wp;
        std::optional<Raw> total, sameDay, date;
        DWORD expectedTotal, expectedToday;
    } cases[] = {
        {"first kill ever", 1, std::nullopt, std::nullopt, std::nullopt, 1, 1},
        {"same day", 1, Raw{REG_DWORD, settingskey::Dword(41)},
         Raw{REG_DWORD, settingskey::Dword(6)}, Raw{REG_BINARY, settingskey::Double(today + 0.1)},
         42, 7},
        {"a new day starts today afresh", 1, Raw{REG_DWORD, settingskey::Dword(41)},
         Raw{REG_DWORD, settingskey::Dword(6)}, Raw{REG_BINARY, settingskey::Double(today - 1)}, 42,
         1},
        {"a broken counter counts from 0", 1, Raw{REG_SZ, "12"},
         Raw{REG_DWORD, settingskey::Dword(0xFFFFFFFF)},
         Raw{REG_BINARY, settingskey::Double(today)}, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        settingskey::Clear();
        if (c.total) settingskey::Set("KillsToDate", c.total->type, c.total->bytes);
        if (c.sameDay) settingskey::Set("KillsToday", c.sameDay->type, c.sameDay->bytes);
        if (c.date) settingskey::Set("KillDate", c.date->type, c.date->bytes);
        Kill(c.wp);
        EXPECT_EQ(Counter("KillsToDate"), c.expectedTotal);
        EXPECT_EQ(Counter("KillsToday"), c.expectedToday);
        EXPECT_EQ(KillDate(), today);
    }

    // wParam 0: the helper counted it already; nothing is written.
    settingskey::Clear();
    settingskey::SetDword("KillsToDate", 5);
    Kill(0);
    EXPECT_EQ(settingskey::All().size(), 1u);
    EXPECT_EQ(Counter("KillsToDate"), 5u);
}

TEST_F(KillCountTest, CountedBeforeTheAlertAndAlsoWithTheAlertOff)
{
    form->chkVisualAlert.SetChecked(false);
    Kill(1);
    EXPECT_EQ(Counter("KillsToDate"), 1u);
    EXPECT_FALSE(form->tmrSysTrayAnimate.Enabled());

    form->chkVisualAlert.SetChecked(true);
    // Whatever reads the counters when the alert starts already finds the kill counted.
    DWORD seenAtAlert = 0;
    form->tmrSysTrayAnimate.OnTimer = [&](ui::TObject*) { seenAtAlert = Counter("KillsToDate"); };
    Kill(1);
    EXPECT_TRUE(form->tmrSysTrayAnimate.Enabled());
    ASSERT_TRUE(PumpUntil([&] { return seenAtAlert != 0; }, 2000));
    EXPECT_EQ(seenAtAlert, 2u);
}

TEST_F(KillCountTest, WhileAHelperHoldsTheWritersMutexKillsWaitAndNoneIsLost)
{
    {
        HeldByAnother helper;
        DWORD start = GetTickCount();
        Kill(1);
        Kill(1);
        Kill(0); // counted by its helper: not ours to count
        Kill(1);
        EXPECT_LT(GetTickCount() - start, 500u) << "the GUI thread does not wait for the mutex";
        EXPECT_EQ(Counter("KillsToDate"), 0xFFFFFFFFu) << "nothing written under another's lock";
        EXPECT_TRUE(form->tmrKillCount.Enabled());
        // The timer's tries while the helper still holds the mutex write nothing either.
        int tries = 0;
        auto tryAgain = form->tmrKillCount.OnTimer;
        form->tmrKillCount.OnTimer = [&](ui::TObject* s) {
            ++tries;
            tryAgain(s);
        };
        bool tried = PumpUntil([&] { return tries >= 3; }, 3000);
        form->tmrKillCount.OnTimer = tryAgain;
        ASSERT_TRUE(tried);
        EXPECT_EQ(Counter("KillsToDate"), 0xFFFFFFFFu);
        helper.LetGo();
        EXPECT_TRUE(PumpUntil([&] { return Counter("KillsToDate") == 3; }, 3000));
        EXPECT_EQ(Counter("KillsToday"), 3u);
        EXPECT_FALSE(form->tmrKillCount.Enabled());
    }

    // A helper that died holding it: the mutex is abandoned, and ours at once.
    HeldByAnother dead(true);
    Kill(1);
    EXPECT_EQ(Counter("KillsToDate"), 4u);
    EXPECT_FALSE(form->tmrKillCount.Enabled());
}

TEST_F(KillCountTest, KillsStillWaitingWhenTheProgramEndsAreCountedBeforeItEnds)
{
    HeldByAnother helper;
    Kill(1);
    ASSERT_EQ(Counter("KillsToDate"), 0xFFFFFFFFu);
    // The helper lets go while the program is ending: the end waits for it, briefly.
    std::thread later([&] {
        Sleep(300);
        helper.LetGo();
    });
    form.reset();
    later.join();
    EXPECT_EQ(Counter("KillsToDate"), 1u);
}

// A helper's writer at each integrity level, with the tray program running: every kill is
// logged where the level may write and counted exactly once, by the writer or by the tray.
TEST_F(KillCountTest, EachIntegrityLevelsKillIsLoggedAndCountedExactlyOnce)
{
    const std::string log = testsupport::FreshFolder("levels") + "QUELLOR.log";
    const struct {
        contract::Integrity level;
        bool logged;
    } cases[] = {
        {contract::Integrity::None, true},
        {contract::Integrity::Low, true}, // Protected Mode: the tray counts
        {contract::Integrity::Medium, true},
        {contract::Integrity::Untrusted, false},
    };
    win::Kernel lock = history::CreateWriterMutex();
    ASSERT_TRUE(lock);
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.level));
        settingskey::Clear();
        DeleteFileA(log.c_str());
        history::TLogEntry entry{NowAsOleDate(), "http://ads.example.com/", "http://news.example/"};
        history::TKillReport report = history::RecordKill(
            lock.get(), entry, log, 1000, history::RecordingFor(contract::DutiesAt(c.level)));
        EXPECT_EQ(report.notified, 1) << "the one tray window told";
        // Posted before RecordKill returned: every message the writer sent is handled by the
        // time the count shows, a second count included.
        EXPECT_TRUE(PumpUntil([] { return Counter("KillsToDate") == 1; }, 2000));
        EXPECT_EQ(Counter("KillsToDate"), 1u);
        EXPECT_EQ(Counter("KillsToday"), 1u);
        EXPECT_EQ(testsupport::FileExists(log) ? testsupport::ReadFileBytes(log).size() : 0u,
                  c.logged ? 520u : 0u);
    }
}

TEST(Integrity, TheWritersMutexCarriesALowLabelOnlyWhenItIsNew)
{
    auto labelOf = [](HANDLE object) -> std::optional<std::pair<DWORD, DWORD>> {
        PACL sacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const SECURITY_INFORMATION kLabel = 0x00000010; // LABEL_SECURITY_INFORMATION
        if (GetSecurityInfo(object, SE_KERNEL_OBJECT, kLabel, nullptr, nullptr, nullptr, &sacl,
                            &descriptor) != ERROR_SUCCESS)
            return std::nullopt;
        std::optional<std::pair<DWORD, DWORD>> found;
        for (DWORD i = 0; sacl && i < sacl->AceCount; ++i) {
            ACE_HEADER* ace = nullptr;
            if (!GetAce(sacl, i, reinterpret_cast<void**>(&ace)) || ace->AceType != 0x11)
                continue; // SYSTEM_MANDATORY_LABEL_ACE_TYPE
            // Laid out as an ACCESS_ALLOWED_ACE: header, mask, the label's SID.
            auto* label = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
            PSID sid = &label->SidStart;
            found = {{label->Mask, *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1)}};
        }
        LocalFree(descriptor);
        return found;
    };
    const std::pair<DWORD, DWORD> lowNoWriteUp{0x1, 0x1000}; // NO_WRITE_UP, low
    const char kName[] = "Local\\Quellor.Test.Shared";

    win::Kernel made = win::CreateSharedMutex(kName, true);
    ASSERT_TRUE(made);
    EXPECT_EQ(labelOf(made.get()), lowNoWriteUp);
    // Opened again by another writer: the same object, which a thread of ours can take.
    win::Kernel opened = win::CreateSharedMutex(kName, true);
    ASSERT_TRUE(opened);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(WaitForSingleObject(opened.get(), 0), WAIT_OBJECT_0);
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(made.get(), 0), WAIT_TIMEOUT); }).join();
    ReleaseMutex(opened.get());

    // An object that exists already keeps the label it has: nothing is lowered.
    win::Kernel plain(CreateMutexA(nullptr, FALSE, "Local\\Quellor.Test.Plain"));
    std::optional<std::pair<DWORD, DWORD>> before = labelOf(plain.get());
    win::Kernel shared = win::CreateSharedMutex("Local\\Quellor.Test.Plain", true);
    ASSERT_TRUE(shared);
    EXPECT_NE(before, lowNoWriteUp);
    EXPECT_EQ(labelOf(shared.get()), before);

    // Windows XP: default security.
    win::Kernel xp = win::CreateSharedMutex("Local\\Quellor.Test.Xp", false);
    ASSERT_TRUE(xp);
    EXPECT_NE(labelOf(xp.get()), lowNoWriteUp);
}

TEST(Integrity, TheLevelIsReadFromTheToken)
{
    // Wine gives every process the label of an elevated administrator (S-1-16-12288), and
    // takes no other: a lowered token reads back the same, so low is verified by reading.
    EXPECT_EQ(win::ProcessIntegrity(), contract::Integrity::High);
    win::Kernel token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    EXPECT_EQ(win::TokenIntegrity(token.get()), contract::Integrity::High);
}
