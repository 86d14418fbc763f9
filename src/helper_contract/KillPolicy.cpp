#include "helper_contract/KillPolicy.h"

namespace contract {

Integrity IntegrityFromRid(uint32_t rid)
{
    // SECURITY_MANDATORY_LOW_RID, _MEDIUM_RID, _HIGH_RID, _SYSTEM_RID
    if (rid < 0x1000) return Integrity::Untrusted;
    if (rid < 0x2000) return Integrity::Low;
    if (rid < 0x3000) return Integrity::Medium;
    if (rid < 0x4000) return Integrity::High;
    return Integrity::System;
}

KillDuties DutiesAt(Integrity level)
{
    KillDuties duties;
    duties.notifies = true;
    switch (level) {
    case Integrity::None:
    case Integrity::Medium:
    case Integrity::High:
    case Integrity::System:
        duties.writesLog = true;
        duties.writesCounters = true;
        break;
    case Integrity::Low:
        // LocalLow is the one place it may write; the registry is virtualised.
        duties.writesLog = true;
        duties.asksTrayToCount = true;
        break;
    case Integrity::Untrusted:
        // Below low not even LocalLow, nor the writers' mutex, may be written.
        duties.asksTrayToCount = true;
        break;
    }
    return duties;
}

} // namespace contract
