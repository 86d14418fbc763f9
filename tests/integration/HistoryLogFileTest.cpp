// The log file reader against real files, shared and locked as other programs hold them.
#include <gtest/gtest.h>

#include <cstdio>

#include "HistoryTestSupport.h"
#include "TestSupport.h"
#include "history/QuellorLogFile.h"

using history::TLogEntry;
using historytest::AppendFromAnotherProcess;
using historytest::Record;
using historytest::RecordBytes;

namespace {

struct Expected {
    double time;
    std::string url, source;
};

std::vector<Expected> ReadAll(TQuellorLogFile& log)
{
    std::vector<Expected> got;
    TLogEntry e;
    while (log.ReadNext(e))
        got.push_back({e.Time, e.URL, e.Source});
    return got;
}

HANDLE Open(const std::string& path, DWORD access, DWORD share)
{
    return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

} // namespace

class HistoryLogFileTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        folder = testsupport::FreshFolder("log");
        path = folder + "QUELLOR.log";
    }
    std::string folder, path;
};

TEST_F(HistoryLogFileTest, ReadsWholeRecordsInOrderAndNeverTheTrailingBytes)
{
    // 2.5 stored as 00 00 00 00 00 00 04 40, 0.0 as eight zero bytes.
    const std::string twoAndAHalf("\0\0\0\0\0\0\x04\x40", 8), zero(8, '\0');
    std::string file =
        RecordBytes(zero, 18, "http://one.example", 3, "src", 'x') +
        RecordBytes(twoAndAHalf, 0, "ignored after a zero length", 255, std::string(255, 'S')) +
        RecordBytes(zero, 5, "three", 0, "", ' ') + std::string(10, 'Z');
    ASSERT_EQ(file.size(), 3u * 520 + 10);
    testsupport::WriteFileBytes(path, file);

    TQuellorLogFile log(path);
    ASSERT_TRUE(log.IsOpen());
    std::vector<Expected> got = ReadAll(log);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].time, 0.0);
    EXPECT_EQ(got[0].url, "http://one.example");
    EXPECT_EQ(got[0].source, "src");
    EXPECT_EQ(got[1].time, 2.5);
    EXPECT_EQ(got[1].url, "");
    EXPECT_EQ(got[1].source, std::string(255, 'S'));
    EXPECT_EQ(got[2].url, "three");
    EXPECT_EQ(got[2].source, "");
    TLogEntry e;
    EXPECT_FALSE(log.ReadNext(e)) << "the end stays the end";
    EXPECT_EQ(testsupport::ReadFileBytes(path), file) << "reading never writes";
}

TEST_F(HistoryLogFileTest, MissingFileIsCreatedEmpty)
{
    {
        TQuellorLogFile log(path);
        EXPECT_TRUE(log.IsOpen());
        TLogEntry e;
        EXPECT_FALSE(log.ReadNext(e));
    }
    ASSERT_TRUE(testsupport::FileExists(path));
    EXPECT_EQ(testsupport::ReadFileBytes(path), "");
}

TEST_F(HistoryLogFileTest, AFileThatCanBeReadIsReadAndOneThatCannotGivesNothing)
{
    const std::string content = Record(45000.5, "http://kept.example", "kept");
    enum Hold {
        ReadOnlyAttribute,
        HeldSharingOnlyReading,
        HeldSharingNothing,
        FolderAtThePath,
        FolderMissing
    };
    for (Hold hold : {ReadOnlyAttribute, HeldSharingOnlyReading, HeldSharingNothing,
                      FolderAtThePath, FolderMissing}) {
        std::string at = testsupport::FreshFolder("locked") + "QUELLOR.log";
        HANDLE other = INVALID_HANDLE_VALUE;
        switch (hold) {
        case ReadOnlyAttribute:
            testsupport::WriteFileBytes(at, content);
            SetFileAttributesA(at.c_str(), FILE_ATTRIBUTE_READONLY);
            break;
        case HeldSharingOnlyReading:
        case HeldSharingNothing:
            testsupport::WriteFileBytes(at, content);
            other = Open(at, GENERIC_READ, hold == HeldSharingOnlyReading ? FILE_SHARE_READ : 0);
            ASSERT_NE(other, INVALID_HANDLE_VALUE);
            break;
        case FolderAtThePath:
            ASSERT_TRUE(CreateDirectoryA(at.c_str(), nullptr));
            break;
        case FolderMissing:
            at = folder + "no such folder\\QUELLOR.log";
            break;
        }
        const bool readable = hold <= HeldSharingOnlyReading;
        {
            TQuellorLogFile log(at);
            EXPECT_EQ(log.IsOpen(), readable) << hold;
            EXPECT_EQ(ReadAll(log).size(), readable ? 1u : 0u) << hold;
        }
        if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
        if (hold <= HeldSharingNothing) {
            EXPECT_EQ(testsupport::ReadFileBytes(at), content) << hold;
            SetFileAttributesA(at.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        if (hold == FolderMissing) EXPECT_FALSE(testsupport::FileExists(at));
    }
}

TEST_F(HistoryLogFileTest, SharesTheFileWhileOpenAndReleasesItWhenDestroyed)
{
    const std::string content = Record(1.0, "a", "b") + Record(2.0, "c", "d");
    testsupport::WriteFileBytes(path, content);
    {
        TQuellorLogFile log(path);
        ASSERT_TRUE(log.IsOpen());
        // The browser helper may open it for writing meanwhile ...
        HANDLE writer = Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_NE(writer, INVALID_HANDLE_VALUE);
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        // ... but nobody may have it to himself.
        HANDLE alone = Open(path, GENERIC_READ, 0);
        EXPECT_EQ(alone, INVALID_HANDLE_VALUE);
        if (alone != INVALID_HANDLE_VALUE) CloseHandle(alone);
    }
    HANDLE alone = Open(path, GENERIC_READ, 0);
    EXPECT_NE(alone, INVALID_HANDLE_VALUE) << "closed by the destructor";
    if (alone != INVALID_HANDLE_VALUE) CloseHandle(alone);
    EXPECT_EQ(testsupport::ReadFileBytes(path), content) << "an existing file is not replaced";
}

TEST_F(HistoryLogFileTest, RecordsAppendedByAnotherProcessWhileReadingAreRead)
{
    testsupport::WriteFileBytes(path, Record(10.0, "http://first.example", "first"));
    TQuellorLogFile log(path);
    TLogEntry e;
    ASSERT_TRUE(log.ReadNext(e));
    EXPECT_EQ(e.URL, "http://first.example");

    ASSERT_EQ(AppendFromAnotherProcess(path, Record(11.0, "http://second.example", "second")), 0u);
    ASSERT_TRUE(log.ReadNext(e)) << "appended between two reads";
    EXPECT_EQ(e.Time, 11.0);
    EXPECT_EQ(e.URL, "http://second.example");
    EXPECT_EQ(e.Source, "second");
    EXPECT_FALSE(log.ReadNext(e));

    // Half a record is not yet a record; once whole it is read, even after the end was met.
    std::string third = Record(12.0, "http://third.example", "third");
    ASSERT_EQ(AppendFromAnotherProcess(path, third.substr(0, 300)), 0u);
    EXPECT_FALSE(log.ReadNext(e));
    ASSERT_EQ(AppendFromAnotherProcess(path, third.substr(300)), 0u);
    ASSERT_TRUE(log.ReadNext(e));
    EXPECT_EQ(e.URL, "http://third.example");
    EXPECT_FALSE(log.ReadNext(e));
}
