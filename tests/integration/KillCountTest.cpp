// Kills a Protected Mode helper asks the tray program to count (wParam 1), serialised with
// the helpers through the writers' mutex; the message let through the window-message
// filter (recorded through its seam: Wine has no filter); integrity levels and the mutex
// that every level can take.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cmath>
#include <thread>

#include "MainFormFixture.h"
#include "Robot.h"
#include "SettingsKey.h"
#include "app/Alerts.h"
#include "app/Paths.h"
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
    // The helper counts a kill of its own and lets go while the program is ending: the end
    // waits for it, briefly, and counts after it, never over it.
    std::thread later([&] {
        Sleep(300);
        settingskey::Set("KillsToDate", REG_DWORD, settingskey::Dword(41));
        helper.LetGo();
    });
    form.reset();
    later.join();
    EXPECT_EQ(Counter("KillsToDate"), 42u);
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

namespace {

const DWORD kWriterRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
using Label = std::pair<DWORD, DWORD>; // the label ACE's policy, the level's RID

// The named mutex's security, read through a handle of its own (a writer's handle may not
// read it); LocalFree it.
PSECURITY_DESCRIPTOR SecurityOf(const char* name, SECURITY_INFORMATION what)
{
    win::Kernel reader(OpenMutexA(READ_CONTROL, FALSE, name));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!reader || GetSecurityInfo(reader.get(), SE_KERNEL_OBJECT, what, nullptr, nullptr, nullptr,
                                   nullptr, &descriptor) != ERROR_SUCCESS)
        return nullptr;
    return descriptor;
}

std::optional<Label> LabelOf(const char* name)
{
    PSECURITY_DESCRIPTOR descriptor = SecurityOf(name, 0x10); // LABEL_SECURITY_INFORMATION
    PACL sacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    std::optional<Label> found;
    if (descriptor) GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted);
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
}

std::string DaclSddl(PSECURITY_DESCRIPTOR descriptor)
{
    char* text = nullptr;
    if (!descriptor || !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                           descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
        return "";
    std::string sddl(text);
    LocalFree(text);
    return sddl;
}

// The access list as SDDL; "" when it has none or cannot be read.
std::string DaclOf(const char* name)
{
    PSECURITY_DESCRIPTOR descriptor = SecurityOf(name, DACL_SECURITY_INFORMATION);
    std::string sddl = DaclSddl(descriptor);
    LocalFree(descriptor);
    return sddl;
}

// SDDL written back as the system writes it.
std::string Written(const std::string& sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                         nullptr);
    std::string written = DaclSddl(descriptor);
    LocalFree(descriptor);
    return written;
}

std::string OurUserSid()
{
    win::Kernel token;
    BYTE buffer[256];
    DWORD size = 0;
    char* text = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
        !GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size) ||
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
        return "";
    std::string sid(text);
    LocalFree(text);
    return sid;
}

// The rights the system granted a handle.
DWORD GrantedAccess(HANDLE handle)
{
    using QueryFn = LONG(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    PUBLIC_OBJECT_BASIC_INFORMATION info{};
    if (!query || query(handle, ObjectBasicInformation, &info, sizeof info, nullptr) != 0)
        return 0xFFFFFFFF;
    return info.GrantedAccess;
}

// Made while our token's default access list is an elevated administrator's, as by the
// installer's QUELLOR.EXE /i.
win::Kernel SharedMutexMadeElevated(const char* name)
{
    win::Kernel token;
    BYTE saved[1024];
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, token.put()) ||
        !GetTokenInformation(token.get(), TokenDefaultDacl, saved, sizeof saved, &size) ||
        !testsupport::SetDefaultDacl(token.get(), testsupport::kElevatedDefaultDacl))
        return {};
    win::Kernel mutex = win::CreateSharedMutex(name, true);
    SetTokenInformation(token.get(), TokenDefaultDacl, saved, size);
    return mutex;
}

} // namespace

// The writers' mutex admits every browser of the user, whoever made it: its access list is
// its own (the creator's user has every right, nobody else any), never the creator's
// default, which for an elevated process admits administrators and SYSTEM alone; everyone
// makes or opens it asking only to wait on it and release it.
TEST(Integrity, TheWritersMutexAdmitsTheUsersBrowsersWhoeverMadeItAndIsNeverLowered)
{
    const std::string user = OurUserSid();
    ASSERT_NE(user, "");
    const std::string ownList = Written("D:(A;;0x1F0001;;;" + user + ")"); // MUTEX_ALL_ACCESS
    const Label lowNoWriteUp{0x1, 0x1000};                                 // NO_WRITE_UP, low

    enum class Before { Nothing, Shared, SharedElevated, Plain };
    const struct {
        const char* name;
        Before before; // what made the object first, if anything
        bool lowLabel; // false: Windows XP
        bool itsOwn;   // else an object made otherwise keeps its security: nothing is lowered
        std::optional<Label> label;
    } cases[] = {
        {"Local\\Quellor.Test.New", Before::Nothing, true, true, lowNoWriteUp},
        {"Local\\Quellor.Test.Again", Before::Shared, true, true, lowNoWriteUp},
        {"Local\\Quellor.Test.Elevated", Before::SharedElevated, true, true, lowNoWriteUp},
        {"Local\\Quellor.Test.Plain", Before::Plain, true, false, std::nullopt},
        {"Local\\Quellor.Test.Xp", Before::Nothing, false, true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        win::Kernel first;
        if (c.before == Before::Shared) first = win::CreateSharedMutex(c.name, true);
        if (c.before == Before::SharedElevated) first = SharedMutexMadeElevated(c.name);
        if (c.before == Before::Plain) first.reset(CreateMutexA(nullptr, FALSE, c.name));
        ASSERT_EQ(!first, c.before == Before::Nothing);
        std::optional<Label> labelBefore = LabelOf(c.name);
        std::string listBefore = DaclOf(c.name);

        win::Kernel mutex = win::CreateSharedMutex(c.name, c.lowLabel);
        ASSERT_TRUE(mutex);
        EXPECT_EQ(GetLastError() == ERROR_ALREADY_EXISTS, c.before != Before::Nothing);
        EXPECT_EQ(GrantedAccess(mutex.get()), kWriterRights) << "asked for no more";
        EXPECT_EQ(LabelOf(c.name), c.itsOwn ? c.label : labelBefore);
        EXPECT_EQ(DaclOf(c.name), c.itsOwn ? ownList : listBefore);
        // Taken and released with those rights; the same object as any earlier handle.
        EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
        if (first)
            std::thread([&] {
                EXPECT_EQ(WaitForSingleObject(first.get(), 0), WAIT_TIMEOUT);
            }).join();
        EXPECT_TRUE(ReleaseMutex(mutex.get()));
    }
}

// A Protected Mode kill that no tray program took (none running, or not yet) is kept where
// the helper may write, and counted once by the next tray program to start.
TEST_F(KillCountTest, AProtectedModeKillNoTrayProgramTookIsCountedOnceAtTheNextStart)
{
    const std::string log = app::StoredLogFilePath();
    form.reset();
    win::Kernel lock = history::CreateWriterMutex();
    for (int kill = 0; kill < 2; ++kill)
        EXPECT_EQ(
            history::RecordKill(lock.get(), {NowAsOleDate(), "u", "s"}, log, 1000,
                                history::RecordingFor(contract::DutiesAt(contract::Integrity::Low)))
                .notified,
            0);
    EXPECT_EQ(Counter("KillsToDate"), 0xFFFFFFFFu);
    form = std::make_unique<TfrmMain>();
    EXPECT_TRUE(PumpUntil([] { return Counter("KillsToDate") == 2; }, 5000));
    // Counted once: a later start finds nothing more to count.
    form.reset();
    form = std::make_unique<TfrmMain>();
    Pump(300);
    EXPECT_EQ(Counter("KillsToDate"), 2u);
    EXPECT_EQ(Counter("KillsToday"), 2u);
}

// A second tray program (started by hand, or left by a session): each Protected Mode kill
// is counted by one of the two, never by both.
TEST_F(KillCountTest, WithTwoTrayProgramsEachKillIsCountedOnce)
{
    std::string other = testsupport::FreshFolder("second tray");
    testsupport::CopyFileOrFail(testsupport::StageDir() + "QUELLOR.EXE", other + "QUELLOR.EXE");
    robot::Process second = robot::Process::Start(other + "QUELLOR.EXE", "", other);
    ASSERT_TRUE(second) << second.StartError();
    HWND window = robot::FindTopWindow(second.Pid(), "TfrmMain", "Quellor", 10000);
    ASSERT_NE(window, nullptr);
    win::Kernel lock = history::CreateWriterMutex();
    for (int kill = 0; kill < 3; ++kill)
        EXPECT_EQ(
            history::RecordKill(lock.get(), {NowAsOleDate(), "u", "s"}, "", 1000,
                                history::RecordingFor(contract::DutiesAt(contract::Integrity::Low)))
                .notified,
            2);
    // Its messages are handled in order: once it has ended, it has handled the kills.
    PostMessageA(window, WM_QUERYENDSESSION, 0, 0);
    EXPECT_TRUE(second.WaitExit(10000, nullptr));
    EXPECT_TRUE(PumpUntil([] { return Counter("KillsToDate") == 3; }, 5000));
    Pump(300);
    EXPECT_EQ(Counter("KillsToDate"), 3u);
}

// The tray program makes the lock at its start, before any browser: with the label and the
// access list that let every browser of the user take it, whatever the browsers are.
TEST_F(KillCountTest, TheTrayProgramMakesTheLabelledLockAtItsStart)
{
    form.reset();
    ASSERT_FALSE(win::Kernel(OpenMutexA(SYNCHRONIZE, FALSE, contract::kWriterMutex)))
        << "no other maker in this test";
    form = std::make_unique<TfrmMain>();
    EXPECT_EQ(LabelOf(contract::kWriterMutex), Label(0x1, 0x1000)); // NO_WRITE_UP, low
    EXPECT_EQ(DaclOf(contract::kWriterMutex), Written("D:(A;;0x1F0001;;;" + OurUserSid() + ")"));
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
