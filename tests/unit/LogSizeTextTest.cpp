#include <gtest/gtest.h>

#include <optional>

#include "settings/LogSizeText.h"

using settings::LogSizeFromText;

TEST(LogSizeText, NumbersAreClampedIntoTheRangeAndEverythingElseIsNoNumber)
{
    const struct {
        const char* text;
        std::optional<int> size;
    } cases[] = {
        {"1000", 1000},
        {"0", 0},
        {"10000", 10000},
        {"10001", 10000},
        {"50000", 10000},
        {"99999999999999999999999999", 10000}, // no overflow into the negatives
        {"-5", 0},
        {"-99999999999999999999999999", 0},
        {"+300", 300},
        {"  250\t", 250},
        {"007", 7},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {"abc", std::nullopt},
        {"12a", std::nullopt},
        {"1 2", std::nullopt},
        {"1,000", std::nullopt},
        {"0x10", std::nullopt},
        {"--1", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogSizeFromText(c.text, 0, 10000), c.size) << c.text;
}
