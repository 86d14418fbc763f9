#pragma once
// Who records a closed pop-up window, by the integrity level the browser runs at. Windows
// Vista and later run Internet-zone pages at low integrity (Protected Mode): such a helper
// can write only under LocalLow, and its registry writes land in a private store that
// nobody reads, so the tray program counts its kills. Platform-free: tests drive it with
// a table.
#include <cstdint>

namespace contract {

// The process's integrity level; None where Windows has none (XP and earlier).
enum class Integrity { None, Untrusted, Low, Medium, High, System };

// The level of a mandatory label's relative identifier (S-1-16-RID), as Windows ranks them:
// anything between two levels counts as the lower one (medium plus is medium).
Integrity IntegrityFromRid(uint32_t rid);

// The wParam of "WM_POPUP_KILLED": the kill is counted already, or the tray program is
// asked to count it.
inline constexpr uintptr_t kKillCounted = 0;
inline constexpr uintptr_t kCountThisKill = 1;

// What the helper does for one kill.
struct KillDuties {
    bool writesLog = false;      // appends the record to the log
    bool writesCounters = false; // raises KillsToDate, KillsToday, KillDate itself
    bool asksTrayToCount = false;
    bool notifies = false; // posts "WM_POPUP_KILLED"
    // Writing the log or the counters happens under the writers' mutex.
    bool TakesWritersLock() const { return writesLog || writesCounters; }
};

KillDuties DutiesAt(Integrity level);

} // namespace contract
