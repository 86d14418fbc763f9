// The rule file module on its own, with no window: its failure paths against real files
// that other handles hold.
#include <gtest/gtest.h>

#include <functional>

#include "TestSupport.h"
#include "rules/RuleFile.h"
#include "win/Error.h"
#include "win/Handles.h"

namespace {

std::string Bytes(const std::vector<rules::TRule>& rows)
{
    std::string bytes;
    for (const rules::TRule& row : rows) {
        rules::TRuleRecord record = rules::EncodeRule(row.url, row.kind);
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    return bytes;
}

// The error's text, or "" when none was raised.
std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const win::EQuellorError& e) {
        return e.what();
    }
    return "";
}

win::File Hold(const std::string& path, DWORD share)
{
    return win::File(
        CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

const std::vector<rules::TRule> kThree = {{"a.com", rules::rkAllowWhileVisiting},
                                          {"b.com", rules::rkAllowStartsWith},
                                          {"c.com", rules::rkKillWhileVisiting}};
const std::vector<rules::TRule> kOne = {{"z.com", rules::rkKillStartsWith}};

} // namespace

TEST(RuleFileModule, RowsKeepTheirStoredBytesThroughASaveAndALoad)
{
    const std::string path = testsupport::FreshFolder("rule module") + "QUELLOR.rul";
    // A NUL and bytes no code page may decode: a row is bytes, not text.
    const std::vector<rules::TRule> rows = {
        {std::string("a.com\0tail", 10), rules::rkAllowWhileVisiting},
        {"\xff\xfe\x80", rules::rkKillStartsWith},
        {"", rules::rkKillWhileVisiting}};
    for (const auto& sizes : {kThree, kOne, rows, std::vector<rules::TRule>{}, kThree}) {
        rules::SaveRuleFile(path, sizes);
        EXPECT_EQ(testsupport::ReadFileBytes(path), Bytes(sizes)) << "grown or cut to the rows";
    }
    rules::SaveRuleFile(path, rows);
    EXPECT_EQ(rules::LoadRuleFile(path), rows);
    EXPECT_EQ(rules::ReadRuleFile(path), rows);
}

TEST(RuleFileModule, FailuresNameTheFileAndLeaveItsRules)
{
    const std::string folder = testsupport::FreshFolder("rule module failures");
    const std::string path = folder + "QUELLOR.rul";
    struct Case {
        const char* name;
        std::function<win::File()> hold; // what another program does to the file meanwhile
        std::function<void()> act;
        const char* says;
        std::string after; // the file's bytes afterwards
    };
    const Case cases[] = {
        {"load, held unshared", [&] { return Hold(path, 0); }, [&] { rules::LoadRuleFile(path); },
         "Cannot open the rule file", Bytes(kThree)},
        {"save, read-only",
         [&] {
             SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
             return win::File();
         },
         [&] { rules::SaveRuleFile(path, kOne); }, "is read-only", Bytes(kThree)},
        {"save, held by a reader that shares only reading",
         [&] { return Hold(path, FILE_SHARE_READ); }, [&] { rules::SaveRuleFile(path, kOne); },
         "could not be opened for writing", Bytes(kThree)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        testsupport::WriteFileBytes(path, Bytes(kThree));
        std::string error;
        {
            win::File holder = c.hold();
            error = ErrorOf(c.act);
        }
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_NE(error.find("\"" + path + "\""), std::string::npos) << error;
        EXPECT_EQ(testsupport::ReadFileBytes(path), c.after);
    }
    EXPECT_EQ(ErrorOf([&] { rules::LoadRuleFile(folder + "none.rul"); }).find("Cannot open"), 0u);
    EXPECT_EQ(rules::ReadRuleFile(folder + "none.rul"), std::nullopt);
}

TEST(RuleFileModule, AFileThatCannotBeCutHasTheRecordsAfterTheNewOnesBlanked)
{
    const std::string path = testsupport::FreshFolder("rule module mapped") + "QUELLOR.rul";
    testsupport::WriteFileBytes(path, Bytes(kThree));
    win::File reader = Hold(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(reader);
    win::Kernel mapping(CreateFileMappingA(reader.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    ASSERT_TRUE(mapping);
    void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    ASSERT_TRUE(view);
    std::string error = ErrorOf([&] { rules::SaveRuleFile(path, kOne); });
    // What other programs read now: the new rule, then nothing.
    EXPECT_EQ(rules::ReadRuleFile(path), kOne);
    UnmapViewOfFile(view);

    EXPECT_NE(error.find("could not be shortened"), std::string::npos) << error;
    EXPECT_NE(error.find("blanked"), std::string::npos) << error;
    EXPECT_EQ(testsupport::ReadFileBytes(path), Bytes(kOne) + std::string(2 * 257, '\0'));
}
