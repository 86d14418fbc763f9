#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "rules/RuleRecord.h"

using namespace rules;

namespace {

// A record laid out by hand, byte by byte, as the file holds it.
std::string HandRecord(unsigned char length, const std::string& area, unsigned char kind)
{
    std::string bytes(257, '\0');
    bytes[0] = static_cast<char>(length);
    bytes.replace(1, area.size(), area);
    bytes[256] = static_cast<char>(kind);
    return bytes;
}

std::string Bytes(const TRuleRecord& record)
{
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

TRuleRecord Record(const std::string& bytes)
{
    TRuleRecord record;
    std::memcpy(&record, bytes.data(), sizeof record);
    return record;
}

} // namespace

TEST(RuleKind, CodesAndTextsInTheEditorsOrder)
{
    const char* texts[] = {
        "",
        "Allow pop-up windows while visiting this URL",
        "Allow pop-up windows that start with this URL",
        "Always kill pop-up windows while visiting this URL",
        "Always kill pop-up windows that start with this URL",
        "",
    };
    for (int code = 0; code <= 5; ++code) {
        EXPECT_EQ(RuleKindText(code), texts[code]) << code;
        EXPECT_EQ(IsRuleKind(code), code >= 1 && code <= 4) << code;
    }
    EXPECT_EQ(rkKillStartsWith, 4);
    EXPECT_FALSE(IsRuleKind(255));
    EXPECT_FALSE(IsRuleKind(-1));
}

TEST(RuleRecord, EncodesTheFilesLayout)
{
    const std::string url300(300, 'u');
    const struct {
        std::string url;
        int kind;
        std::string expected;
    } cases[] = {
        {"www.example.com", 1, HandRecord(15, "www.example.com", 1)},
        {"", 3, HandRecord(0, "", 3)},
        {std::string(255, 'a'), 4, HandRecord(255, std::string(255, 'a'), 4)},
        {url300, 2, HandRecord(255, url300.substr(0, 255), 2)},
        {"\xe9t\xe9 \x80", 4, HandRecord(5, "\xe9t\xe9 \x80", 4)}, // ANSI bytes as they are
    };
    for (const auto& c : cases)
        EXPECT_EQ(Bytes(EncodeRule(c.url, c.kind)), c.expected) << c.url;
}

TEST(RuleRecord, DecodingSkipsBadKindsAndIgnoresBytesAfterTheUrl)
{
    const struct {
        std::string bytes;
        std::optional<TRule> expected;
    } cases[] = {
        {HandRecord(3, "abc", 1), TRule{"abc", rkAllowWhileVisiting}},
        {HandRecord(3, "abcGARBAGE\xff", 2), TRule{"abc", rkAllowStartsWith}},
        {HandRecord(0, "junk", 3), TRule{"", rkKillWhileVisiting}},
        {HandRecord(255, std::string(255, 'z'), 4), TRule{std::string(255, 'z'), rkKillStartsWith}},
        {HandRecord(2, "a\0b", 4), TRule{std::string("a\0", 2), rkKillStartsWith}},
        {HandRecord(3, "abc", 0), std::nullopt},
        {HandRecord(3, "abc", 5), std::nullopt},
        {HandRecord(3, "abc", 255), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeRule(Record(c.bytes)), c.expected);
}

TEST(RuleRecord, RoundTripOfRandomRules)
{
    std::mt19937 random(20240521);
    for (int i = 0; i < 2000; ++i) {
        std::string url(random() % 320, '\0');
        for (char& c : url)
            c = static_cast<char>(random() % 256);
        int kind = static_cast<int>(random() % 4) + 1;
        std::optional<TRule> back = DecodeRule(EncodeRule(url, kind));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->url, url.substr(0, 255));
        EXPECT_EQ(back->kind, kind);
    }
}
