#include <gtest/gtest.h>

#include "helper_contract/KillPolicy.h"

using contract::DutiesAt;
using contract::Integrity;
using contract::IntegrityFromRid;

TEST(KillPolicy, WhatTheHelperDoesAtEachIntegrityLevel)
{
    const struct {
        Integrity level;
        bool log, counters, askTray, lock;
    } cases[] = {
        {Integrity::None, true, true, false, true}, // Windows XP: as ever
        {Integrity::Untrusted, false, false, true, false},
        {Integrity::Low, true, false, true, true}, // Protected Mode
        {Integrity::Medium, true, true, false, true},
        {Integrity::High, true, true, false, true},
        {Integrity::System, true, true, false, true},
    };
    for (const auto& c : cases) {
        contract::KillDuties d = DutiesAt(c.level);
        int level = static_cast<int>(c.level);
        EXPECT_EQ(d.writesLog, c.log) << level;
        EXPECT_EQ(d.writesCounters, c.counters) << level;
        EXPECT_EQ(d.asksTrayToCount, c.askTray) << level;
        EXPECT_TRUE(d.notifies) << level << ": the tray is told of every kill";
        EXPECT_EQ(d.TakesWritersLock(), c.lock) << level;
        EXPECT_NE(d.writesCounters, d.asksTrayToCount) << level << ": counted exactly once";
    }
}

TEST(KillPolicy, MandatoryLabelsRankedAsWindowsRanksThem)
{
    const struct {
        uint32_t rid;
        Integrity level;
    } cases[] = {
        {0x0000, Integrity::Untrusted}, {0x0FFF, Integrity::Untrusted}, {0x1000, Integrity::Low},
        {0x1FFF, Integrity::Low},       {0x2000, Integrity::Medium},    {0x2100, Integrity::Medium},
        {0x3000, Integrity::High},      {0x3FFF, Integrity::High},      {0x4000, Integrity::System},
        {0x5000, Integrity::System}, // protected process
    };
    for (const auto& c : cases)
        EXPECT_EQ(IntegrityFromRid(c.rid), c.level) << std::hex << c.rid;
}
