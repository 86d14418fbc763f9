#pragma once
// The browser helper's side of a closed pop-up window: one record appended to the history
// log within MaxLogSize, the kill counters raised, the tray program told. Browser processes
// write at once, so the log and the counters are changed only under a mutex of the session.
#include <windows.h>

#include <cstdint>
#include <string>

#include "helper_contract/KillPolicy.h"
#include "history/LogEntry.h"
#include "win/Handles.h"

namespace history {

// Whole records kept of the old log when an append would pass the limit: the newest ones,
// about 90% of it with the new record, so that a full log is not rewritten at every kill.
// maxLogSizeKb 0 or less keeps nothing.
uint64_t RecordsKeptOnTrim(int32_t maxLogSizeKb, uint64_t records);

// Appends the record to the log at path (created when missing), dropping the oldest whole
// records in one batch when the file would pass maxLogSizeKb kilobytes; a torn record at the
// end is overwritten. Reading and writing stay shared; a trim writes the kept records and
// the new one to path + ".trim", in small pieces, and puts that in the log's place in one
// step. False when the file could not be written. The caller holds the writers' lock.
bool AppendLogRecord(const std::string& path, int32_t maxLogSizeKb, const TLogEntry& entry);

// The counters' values after one more kill at now: KillsToDate and KillsToday up by one,
// KillsToday afresh when KillDate is another day than now's; KillDate today. A broken
// counter counts from 0.
struct TKillCounters {
    int32_t total = 0;
    int32_t today = 0;
    double date = 0;
};
TKillCounters NextKillCounters(double now);
// Sets all three: set again after an interruption, they come out the same.
bool SetKillCounters(const TKillCounters& counters);
// Both at once. The caller holds the lock.
bool RaiseKillCounters(double now);

// Posts "WM_POPUP_KILLED" to every top-level window of the tray program (never sends: the
// browser must not wait on it). With askToCount, the first window that takes the message
// is asked to count the kill (wParam 1) and the others only alert: a second running
// instance must not count it twice. Gives the number of windows told.
int NotifyTrayProgram(bool askToCount = false);

// The writers' lock, shared by every browser process of the session and the tray program,
// whatever their integrity levels: made or opened here and nowhere else. Empty when it can
// be neither.
win::Kernel CreateWriterMutex();

// What recording one closed pop-up window does: the one place a process's circumstances
// (where it may write, whom it must ask) steer it.
struct TKillRecording {
    bool appendToLog = true;
    bool raiseCounters = true;
    bool notify = true;
    bool askTrayToCount = false; // WM_POPUP_KILLED's wParam 1 instead of 0
};

// What a process of the integrity level the duties were given for does with a kill.
TKillRecording RecordingFor(const contract::KillDuties& duties);

// Kills a helper asked the tray program to count (Protected Mode) when no tray window took
// the message (none running, or not yet): kept beside the log, where such a helper may
// write, as path + ".uncounted", for the tray program to count when it next can. The caller
// holds the writers' lock for both.
bool KeepUncountedKill(const std::string& logPath);
// How many are kept, which are then no longer kept; 0 when none or on failure.
uint32_t TakeUncountedKills(const std::string& logPath);
bool HasUncountedKills(const std::string& logPath);

// Tells the tray program as how says; a kill it was to be asked to count and that no window
// took is kept (under writersLock) for later. Gives the number of windows told.
int TellTrayProgram(HANDLE writersLock, const std::string& logPath, const TKillRecording& how);

// A kill kept on disk as soon as it is judged, before the writers' lock is waited for, so
// that a browser that ends meanwhile loses none: one small file per kill in the folder
// path + ".kills" beside the log, named so that their order is the order kept. False when
// it could not be kept (the caller records it the old way).
bool KeepKill(const std::string& logPath, const TLogEntry& entry);
bool HasKeptKills(const std::string& logPath);
// The folder and whatever is kept in it, for an uninstall.
void ForgetKeptKills(const std::string& logPath);

struct TKeptKills {
    int taken = 0;
    int notified = 0;
};
// Every kill kept beside the log, oldest first, recorded as how says (appended, counted,
// the tray program told) and then no longer kept. A writer stopped anywhere in here leaves
// each kill to the next one to finish, never logged or counted twice. The caller holds the
// writers' lock.
TKeptKills TakeKeptKills(const std::string& logPath, int32_t maxLogSizeKb,
                         const TKillRecording& how);
// The same under writersLock, waiting for it as long as it takes.
TKeptKills RecordKeptKills(HANDLE writersLock, const std::string& logPath, int32_t maxLogSizeKb,
                           const TKillRecording& how);

struct TKillReport {
    bool lockHeld = false;
    bool logged = false;
    bool counted = false;
    int notified = 0;
};

// Records one closed pop-up window as how says, under writersLock, waiting for it as long as
// it takes (an abandoned lock is taken over: a torn record is overwritten). Without a lock
// nothing is written, as a torn log is worse than a missing record; the tray program is told
// all the same. An empty log path writes no record; a log size of 0 or less keeps no
// records (and empties the log).
TKillReport RecordKill(HANDLE writersLock, const TLogEntry& entry, const std::string& logPath,
                       int32_t maxLogSizeKb, const TKillRecording& how = {});

// The same with a lock of its own, for a single kill.
TKillReport ReportKill(const TLogEntry& entry, const std::string& logPath, int32_t maxLogSizeKb,
                       const TKillRecording& how = {});

} // namespace history
