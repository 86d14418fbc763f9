// What the browser helper does to the log and the counters for each closed pop-up window,
// and how it reads the settings and the rule file: real files, the real registry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Robot.h"
#include "SettingsKey.h"
#include "TestSupport.h"
#include "history/LogWriter.h"
#include "rules/RuleFile.h"
#include "settings/LocalTime.h"
#include "settings/QuellorSettings.h"

namespace {

DWORD StoredDword(const char* name)
{
    auto raw = settingskey::Get(name);
    DWORD value = 0xFFFFFFFF;
    if (raw && raw->bytes.size() == 4) memcpy(&value, raw->bytes.data(), 4);
    return value;
}

double StoredDate(const char* name)
{
    auto raw = settingskey::Get(name);
    double value = -1;
    if (raw && raw->bytes.size() == 8) memcpy(&value, raw->bytes.data(), 8);
    return value;
}

class LogWriterTest : public ::testing::Test {
  protected:
    void SetUp() override { settingskey::Clear(); }
    void TearDown() override { settingskey::Clear(); }
};

} // namespace

TEST_F(LogWriterTest, TheLogIsKeptWithinMaxLogSizeByDroppingTheOldestInOneBatch)
{
    const struct {
        int32_t maxKb;
        int oldRecords;
        size_t tornBytes;
        int firstKept; // oldest record left; -1: none
    } cases[] = {
        {1000, 0, 0, -1},  {1000, 2, 0, 0}, {1, 3, 0, -1}, // room for one record only
        {2, 5, 0, 3},      // 2048 bytes hold three: two old ones stay
        {10, 19, 0, 3},    // full: about 90% of the limit is kept, not just one less
        {10, 18, 0, 0},    // the new one still fits
        {1000, 1, 10, 0},  // a torn record at the end is overwritten
        {100, 196, 0, 20}, // 176 kept: moved in several pieces
        {0, 2, 0, -2},     // no room at all: nothing kept, not even the new one
        {-5, 2, 0, -2},
    };
    for (const auto& c : cases) {
        std::string path = testsupport::FreshFolder("log") + "QUELLOR.log";
        std::string old;
        for (int i = 0; i < c.oldRecords; ++i)
            old += testsupport::LogRecordBytes(40000 + i, "old " + std::to_string(i), "src");
        old += std::string(c.tornBytes, 'x');
        testsupport::WriteFileBytes(path, old);

        history::TLogEntry entry{45000.5, "new", "http://www.example.com/"};
        history::TKillReport report = history::ReportKill(entry, path, c.maxKb);
        EXPECT_TRUE(report.lockHeld);
        EXPECT_TRUE(report.logged) << c.maxKb;

        std::vector<std::string> expected;
        if (c.firstKept >= -1) {
            for (int i = std::max(c.firstKept, 0); c.firstKept >= 0 && i < c.oldRecords; ++i)
                expected.push_back("old " + std::to_string(i));
            expected.push_back("new");
        }
        std::string log = testsupport::ReadFileBytes(path);
        ASSERT_EQ(log.size(), expected.size() * 520) << c.maxKb << " KB, " << c.oldRecords;
        EXPECT_LE(log.size(), static_cast<size_t>(std::max(c.maxKb, 0)) * 1024u);
        std::vector<testsupport::LogRecord> records = testsupport::LogRecords(log);
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(records[i].url, expected[i]) << c.maxKb << " KB, record " << i;
    }
}

// A browser may end at any instant, in a trim too. Wherever a writer is stopped, once the
// next writer has had the lock the log is a run of whole records in the order written, none
// twice and none missing but the oldest the trims dropped (and a kill the stopped writer had
// not yet kept), and the counters were raised once for each. Each record holds its number,
// so order and gaps show.
TEST_F(LogWriterTest, AWriterStoppedAtAnyInstantLeavesWholeRecordsInOrder)
{
    const int kMaxKb = 2000; // 3938 records: the first kill of each writer trims 1.8 MB
    const size_t kFull = kMaxKb * 1024 / 520;
    const std::string path = testsupport::FreshFolder("stopped") + "QUELLOR.log";
    win::Kernel begun(CreateEventA(nullptr, FALSE, FALSE, "Local\\Quellor.Test.WriterBegun"));
    long last = -1;
    DWORD counted = 0;
    settingskey::SetDword("KillsToDate", 0);
    int stoppedInTrims = 0;
    for (int run = 0; run < 60; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        // Full: the writer's first kill trims.
        std::string more;
        for (size_t n = testsupport::LogRecords(
                            testsupport::FileExists(path) ? testsupport::ReadFileBytes(path) : "")
                            .size();
             n < kFull; ++n)
            more += testsupport::LogRecordBytes(45000, std::to_string(++last), "source");
        testsupport::WriteFileBytes(
            path, (testsupport::FileExists(path) ? testsupport::ReadFileBytes(path) : "") + more);
        robot::Process writer =
            robot::Process::Start(testsupport::HostPath(LOG_WRITER_EXE),
                                  "\"" + path + "\" " + std::to_string(kMaxKb) + " " +
                                      std::to_string(last + 1) + " Local\\Quellor.Test.WriterBegun",
                                  "");
        ASSERT_TRUE(writer) << writer.StartError();
        ASSERT_EQ(WaitForSingleObject(begun.get(), 10000), WAIT_OBJECT_0);
        Sleep(static_cast<DWORD>(run % 15)); // stopped at many instants of its trim
        TerminateProcess(writer.Handle(), 1);
        ASSERT_TRUE(writer.WaitExit(5000, nullptr));
        stoppedInTrims += testsupport::FileExists(path + ".trim");

        // As the History Log reads it meanwhile, and after the next writer.
        auto expectRun = [](const std::vector<testsupport::LogRecord>& records) {
            for (size_t i = 1; i < records.size(); ++i)
                ASSERT_EQ(std::stol(records[i].url), std::stol(records[i - 1].url) + 1)
                    << "record " << i << " of " << records.size();
        };
        std::vector<testsupport::LogRecord> stopped =
            testsupport::LogRecords(testsupport::ReadFileBytes(path));
        ASSERT_NO_FATAL_FAILURE(expectRun(stopped));
        // The next writer finishes what the stopped one left.
        history::TKillRecording how;
        how.notify = false;
        history::RecordKeptKills(history::CreateWriterMutex().get(), path, kMaxKb, how);
        const std::string after = testsupport::ReadFileBytes(path);
        ASSERT_EQ(after.size() % 520, 0u);
        ASSERT_LE(after.size(), kMaxKb * 1024u);
        std::vector<testsupport::LogRecord> records = testsupport::LogRecords(after);
        ASSERT_NO_FATAL_FAILURE(expectRun(records));
        EXPECT_FALSE(history::HasKeptKills(path));
        long writerKills = std::stol(records.back().url) - last;
        ASSERT_EQ(StoredDword("KillsToDate") - counted, static_cast<DWORD>(writerKills));
        counted = StoredDword("KillsToDate");
        last = std::stol(records.back().url);
    }
    // A trim's own file left behind: a writer was stopped inside one.
    EXPECT_GT(stoppedInTrims, 5);
    std::printf("writers stopped inside a trim: %d of 60\n", stoppedInTrims);
}

TEST_F(LogWriterTest, KillsTodayStartsAfreshOnANewDayAndBrokenCountersCountFromZero)
{
    double today = std::floor(NowAsOleDate());
    using settingskey::Double;
    using settingskey::Dword;
    const struct {
        const char* what;
        DWORD dateType;
        std::string killDate; // empty: no value
        DWORD countType;
        DWORD toDate, today; // expected
    } cases[] = {
        {"same day", REG_BINARY, Double(today + 0.1), REG_DWORD, 11, 6},
        {"late yesterday", REG_BINARY, Double(today - 0.01), REG_DWORD, 11, 1},
        {"no date yet", REG_BINARY, "", REG_DWORD, 11, 1},
        {"date of the wrong type", REG_SZ, "today", REG_DWORD, 11, 1},
        {"counters of the wrong type", REG_BINARY, Double(today), REG_SZ, 1, 1},
    };
    for (const auto& c : cases) {
        settingskey::Clear();
        settingskey::Set("KillsToDate", c.countType, Dword(10));
        settingskey::Set("KillsToday", c.countType, Dword(5));
        if (!c.killDate.empty()) settingskey::Set("KillDate", c.dateType, c.killDate);
        history::TKillReport report = history::ReportKill({today + 0.5, "u", "s"}, "", 1000);
        EXPECT_FALSE(report.logged) << "no log path, no record";
        EXPECT_TRUE(report.counted) << c.what;
        EXPECT_EQ(StoredDword("KillsToDate"), c.toDate) << c.what;
        EXPECT_EQ(StoredDword("KillsToday"), c.today) << c.what;
        EXPECT_EQ(StoredDate("KillDate"), today) << c.what;
    }
}

// What LogFile names is written only when it is a log the helper may write: anything else
// is left as it is, and the kill is counted all the same.
TEST_F(LogWriterTest, OnlyAPlainLogFileIsWrittenAndTheKillIsCountedWhateverLogFileNames)
{
    const std::string old = testsupport::LogRecordBytes(40000, "old", "src");
    const struct {
        const char* what;
        const char* name;
        int32_t maxKb;
        bool held, folder, logged;
    } cases[] = {
        {"a log", "QUELLOR.log", 1000, false, false, true},
        {"a log named in capitals", "QUELLOR.LOG", 1000, false, false, true},
        {"held without shared writes", "QUELLOR.log", 1000, true, false, false},
        {"another file", "notes.txt", 1000, false, false, false},
        {"another file, to be cut to nothing", "notes.txt", 0, false, false, false},
        {"a folder", "folder.log", 0, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        settingskey::Clear();
        std::string path = testsupport::FreshFolder("held") + c.name;
        if (c.folder)
            ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
        else
            testsupport::WriteFileBytes(path, old);
        HANDLE holder = c.held ? CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
        history::TKillReport report = history::ReportKill({45000, "new", "s"}, path, c.maxKb);
        if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
        EXPECT_EQ(report.logged, c.logged);
        EXPECT_TRUE(report.counted);
        EXPECT_EQ(StoredDword("KillsToDate"), 1u);
        if (c.folder)
            EXPECT_TRUE(testsupport::FolderExists(path));
        else
            EXPECT_EQ(testsupport::ReadFileBytes(path).size(), c.logged ? 1040u : 520u);
    }
}

// The helper never fails an event over a setting: a broken value keeps its default and
// the values after it are still read.
TEST_F(LogWriterTest, TheHelpersLoadKeepsTheDefaultOfABrokenValueAndReadsTheRest)
{
    settingskey::Set("DefaultNoPopups", REG_SZ, settingskey::Sz("0"));
    settingskey::SetDword("IgnoreWhenCtrlKey", 0);
    settingskey::Set("KillDate", REG_BINARY, "1234");
    settingskey::SetDword("MaxLogSize", 7);
    settingskey::SetString("RuleFile", "C:\\q\\QUELLOR.rul");
    TQuellorSettings s(false);
    s.LoadTolerant();
    EXPECT_TRUE(s.DefaultNoPopups);
    EXPECT_FALSE(s.IgnoreWhenCtrlKey);
    EXPECT_EQ(s.KillDate, 0);
    EXPECT_EQ(s.MaxLogSize, 7);
    EXPECT_EQ(s.RuleFile, "C:\\q\\QUELLOR.rul");
    EXPECT_NE(s.LoadedAt, 0);

    win::RegKey key;
    EXPECT_FALSE(TQuellorSettings::ReadChangeMarks(key).lastChange);
    s.Save();
    auto marks = TQuellorSettings::ReadChangeMarks(key);
    ASSERT_TRUE(marks.lastChange);
    EXPECT_EQ(*marks.lastChange, StoredDate("LastChange"));
    EXPECT_EQ(marks.ruleFile, "C:\\q\\QUELLOR.rul");

    // The key is kept open between reads: deleted and made anew, it is found again.
    settingskey::Clear();
    EXPECT_FALSE(TQuellorSettings::ReadChangeMarks(key).lastChange);
    settingskey::SetString("RuleFile", "D:\\other.rul");
    EXPECT_EQ(TQuellorSettings::ReadChangeMarks(key).ruleFile, "D:\\other.rul");
}

TEST_F(LogWriterTest, TheRuleFileIsReadSharedAndSkipsWhatIsNoRule)
{
    std::string path = testsupport::FreshFolder("rules") + "QUELLOR.rul";
    auto record = [](const std::string& url, unsigned char kind) {
        rules::TRuleRecord r = rules::EncodeRule(url, kind);
        return std::string(reinterpret_cast<const char*>(&r), sizeof r);
    };
    testsupport::WriteFileBytes(path, record("a.com", 1) + record("zero", 0) + record("b.com", 4) +
                                          record("five", 5) + std::string(100, 'x'));
    auto read = rules::ReadRuleFile(path);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->size(), 2u);
    EXPECT_EQ((*read)[0], (rules::TRule{"a.com", rules::rkAllowWhileVisiting}));
    EXPECT_EQ((*read)[1], (rules::TRule{"b.com", rules::rkKillStartsWith}));

    // The tray program rewrites the file holding it for reading and writing, shared.
    HANDLE writer =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE(rules::ReadRuleFile(path)) << "read while the tray program holds it";
    CloseHandle(writer);
    HANDLE exclusive =
        CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(rules::ReadRuleFile(path)) << "held without sharing";
    CloseHandle(exclusive);
    EXPECT_FALSE(rules::ReadRuleFile(path + ".missing"));
}

// Reading the key in a browser that has run out of memory: an exception the helper catches,
// or a failure it sees, but never std::terminate out of a noexcept function.
TEST_F(LogWriterTest, ReadingTheKeyWithoutMemoryFailsButNeverEndsTheProcess)
{
    settingskey::SetString("LogFile", "C:\\" + std::string(200, 'l') + "\\QUELLOR.log");
    settingskey::SetString("RuleFile", "C:\\" + std::string(200, 'r') + "\\QUELLOR.rul");
    win::RegKey key;
    TQuellorSettings s(false);
    bool threw = false, loaded = true;
    {
        testsupport::FailingAllocations failing;
        try {
            TQuellorSettings::ReadChangeMarks(key);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        loaded = s.LoadTolerant();
    }
    EXPECT_TRUE(threw);
    EXPECT_FALSE(loaded) << "what was read is not taken for the key";
    EXPECT_TRUE(s.LoadTolerant());
    EXPECT_EQ(TQuellorSettings::ReadChangeMarks(key).ruleFile, s.RuleFile);
}

// The Rules Engine page's reading of a file whose whole read fails (here one of more records
// than any rule file of ours): record by record, never an empty list to be saved over it.
// A browser reads only its first 100,000 records.
TEST_F(LogWriterTest, ARuleFileThatCannotBeReadWholeIsReadRecordByRecord)
{
    std::string path = testsupport::FreshFolder("huge") + "QUELLOR.rul";
    const uint64_t records = rules::kMaxRuleRecords + 1;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    for (auto [at, rule] :
         {std::pair<uint64_t, rules::TRuleRecord>{0, rules::EncodeRule("a.com", 1)},
          {records - 1, rules::EncodeRule("z.com", 4)}}) {
        LARGE_INTEGER offset;
        offset.QuadPart = static_cast<LONGLONG>(at * sizeof rule);
        DWORD written = 0;
        SetFilePointerEx(file, offset, nullptr, FILE_BEGIN);
        WriteFile(file, &rule, sizeof rule, &written, nullptr);
    }
    CloseHandle(file); // the records between are zeros, which hold no rule and take no disk
    EXPECT_EQ(rules::LoadRuleFile(path),
              (std::vector<rules::TRule>{{"a.com", rules::rkAllowWhileVisiting},
                                         {"z.com", rules::rkKillStartsWith}}));
    EXPECT_EQ(rules::ReadRuleFile(path, 100'000),
              (std::vector<rules::TRule>{{"a.com", rules::rkAllowWhileVisiting}}));
}
