#pragma once
// The browser helper's side of a closed pop-up window: one record appended to the history
// log within MaxLogSize, the kill counters raised, the tray program told. Browser processes
// write at once, so the log and the counters are changed only under a mutex of the session.
#include <cstdint>
#include <string>

#include "history/LogEntry.h"

namespace history {

// Whole records kept of the old log when an append would pass the limit: the newest ones,
// about 90% of it with the new record, so that a full log is not rewritten at every kill.
// maxLogSizeKb 0 or less keeps nothing.
uint64_t RecordsKeptOnTrim(int32_t maxLogSizeKb, uint64_t records);

// Appends the record to the log at path (created when missing), dropping the oldest whole
// records in one batch when the file would pass maxLogSizeKb kilobytes; a torn record at the
// end is overwritten. Reading and writing stay shared. False when the file could not be
// written. The caller holds the writers' lock.
bool AppendLogRecord(const std::string& path, int32_t maxLogSizeKb, const TLogEntry& entry);

// KillsToDate and KillsToday up by one, KillsToday afresh when KillDate is another day than
// now's; KillDate set to today. A broken counter counts from 0. The caller holds the lock.
bool RaiseKillCounters(double now);

// Posts "WM_POPUP_KILLED" to every top-level window of the tray program (never sends: the
// browser must not wait on it). Gives the number of windows told.
int NotifyTrayProgram();

struct TKillReport {
    bool lockHeld = false;
    bool logged = false;
    bool counted = false;
    int notified = 0;
};

// All three for one closed pop-up window. An empty log path writes no record; a log size of
// 0 or less keeps no records (and empties the log).
TKillReport ReportKill(const TLogEntry& entry, const std::string& logPath, int32_t maxLogSizeKb);

} // namespace history
