#include <gtest/gtest.h>

#include <limits>

#include "settings/OleDate.h"

using settings::DateTime;
using settings::DecodeOleDate;
using settings::EncodeOleDate;

TEST(OleDate, KnownValuesBothWays)
{
    const struct {
        double value;
        DateTime when;
    } cases[] = {
        {0.0, {1899, 12, 30, 0, 0, 0, 0, 6}},
        {2.5, {1900, 1, 1, 12, 0, 0, 0, 1}},
        {1.0, {1899, 12, 31, 0, 0, 0, 0, 0}},
        {-1.25, {1899, 12, 29, 6, 0, 0, 0, 5}}, // whole part back, fraction forward
        {36526.75, {2000, 1, 1, 18, 0, 0, 0, 6}},
        {45000.0, {2023, 3, 15, 0, 0, 0, 0, 3}},
        {60.0, {1900, 2, 28, 0, 0, 0, 0, 3}}, // 1900 is not a leap year here
        {61.0, {1900, 3, 1, 0, 0, 0, 0, 4}},
        {2958465.0, {9999, 12, 31, 0, 0, 0, 0, 5}},
    };
    for (const auto& c : cases) {
        DateTime got;
        ASSERT_TRUE(DecodeOleDate(c.value, got)) << c.value;
        EXPECT_EQ(got.year, c.when.year) << c.value;
        EXPECT_EQ(got.month, c.when.month) << c.value;
        EXPECT_EQ(got.day, c.when.day) << c.value;
        EXPECT_EQ(got.hour, c.when.hour) << c.value;
        EXPECT_EQ(got.minute, c.when.minute) << c.value;
        EXPECT_EQ(got.dayOfWeek, c.when.dayOfWeek) << c.value;
        EXPECT_DOUBLE_EQ(EncodeOleDate(c.when), c.value) << c.value;
    }
}

TEST(OleDate, TimeOfDayRoundsToTheMillisecond)
{
    DateTime when{2026, 12, 8, 23, 59, 59, 999};
    DateTime back;
    ASSERT_TRUE(DecodeOleDate(EncodeOleDate(when), back));
    EXPECT_EQ(back.day, 8);
    EXPECT_EQ(back.hour, 23);
    EXPECT_EQ(back.minute, 59);
    EXPECT_EQ(back.second, 59);
    EXPECT_EQ(back.millisecond, 999);

    // A hair before midnight rounds to the next day, not to hour 24.
    ASSERT_TRUE(DecodeOleDate(1.0 - 1e-12, back));
    EXPECT_EQ(back.day, 31);
    EXPECT_EQ(back.hour, 0);
}

TEST(OleDate, RoundingUpToMidnightGivesTheNextDayOnBothSidesOfDayZero)
{
    const struct {
        double value;
        int year, month, day;
    } cases[] = {
        {1.0 - 1e-12, 1899, 12, 31},
        {-1.0 + 1e-12, 1899, 12, 31},   // day 0, a hair before its end
        {-2.0 + 1e-12, 1899, 12, 30},   // day -1 at 23:59:59.99..., the fraction counts forward
        {-36522.0 + 1e-11, 1800, 1, 3}, // day -36521, 2 January 1800, at its end
        {-657433.0 + 1e-9, 100, 1, 4},
    };
    for (const auto& c : cases) {
        settings::DateTime got;
        ASSERT_TRUE(DecodeOleDate(c.value, got)) << c.value;
        EXPECT_EQ(got.year, c.year) << c.value;
        EXPECT_EQ(got.month, c.month) << c.value;
        EXPECT_EQ(got.day, c.day) << c.value;
        EXPECT_EQ(got.hour * 3600000 + got.minute * 60000 + got.second * 1000 + got.millisecond, 0)
            << c.value;
    }
}

TEST(OleDate, OutOfRangeAndNotANumberAreRefused)
{
    DateTime when;
    for (double bad : {-700000.0, 3e6, 1e308, -1e308, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(DecodeOleDate(bad, when)) << bad;
}
